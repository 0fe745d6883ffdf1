// Our HTML Help engine on the help file the build compiles, its readers on inline samples, and F1
// through the whole chain.
#include "ChmEngine.h"

#include "Ayuda.h"
#include "AyudaChm.h"
#include "ChmFile.h"
#include "ChmWindow.h"
#include "DataRow.h"
#include "Sitemap.h"

#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTreeWidget>
#include <QWindow>
#include <algorithm>
#include <set>

using namespace zendral::help;
using zendral::help::test::Row;

namespace
{

const QString kChm = QStringLiteral(ZENDRAL_HELP_CHM);

// Sends one request and returns the window of the help file it names.
ChmWindow* Ask(ChmEngine& engine, unsigned command, const QString& file,
               std::variant<quintptr, QString> data = quintptr{0}, QWidget* owner = nullptr)
{
    HtmlHelpCall call;
    call.command = command;
    call.file = file;
    call.data = std::move(data);
    call.owner = owner;
    engine.HtmlHelp(call);
    return engine.WindowFor(file.section(QStringLiteral("::"), 0, 0));
}

QStringList Children(const QTreeWidget* tree, QTreeWidgetItem* parent = nullptr)
{
    QStringList names;
    const int count = parent != nullptr ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        names.append((parent != nullptr ? parent->child(i) : tree->topLevelItem(i))->text(0));
    }
    return names;
}

// The first image the page shows, as the page's document resolves it.
QUrl FirstImage(const QTextBrowser* page)
{
    for (QTextBlock block = page->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) {
                return QUrl(format.toImageFormat().name());
            }
        }
    }
    return {};
}

} // namespace

class ChmEngineTest : public QObject
{
    Q_OBJECT

private slots:
    // The default topic is checked here: without it the window would still show the same page, the
    // first contents entry. The contents and index files are checked through the window.
    void fileFacts()
    {
        const std::unique_ptr<ChmFile> file = ChmFile::Open(kChm);
        QVERIFY(file);
        QCOMPARE(file->Title(), QStringLiteral("Ayuda de Zendral"));
        QCOMPARE(file->Lcid(), 0x0C0Au);
        QCOMPARE(file->DefaultTopic(), QStringLiteral("/inicio.htm"));
        // Mapped context numbers, then 0, an unmapped number and the largest, which have no topic.
        QStringList topics;
        for (const quint32 context : {1u, 10u, 21u, 60u, 0u, 2u, 0xFFFFFFFFu}) {
            topics.append(file->TopicForContext(context));
        }
        QCOMPARE(topics, (QStringList{"/ventana.htm", "/temas/importacion.htm", "/temas/abreviaturas.htm",
                                      "/errores.htm", "", "", ""}));
    }

    void linksImagesAndStyles()
    {
        ChmEngine engine;
        ChmBrowser* page = Ask(engine, kHhHelpContext, kChm, quintptr{1})->Page();

        const QVariant image = page->document()->resource(QTextDocument::ImageResource,
                                                          page->source().resolved(FirstImage(page)));
        QCOMPARE(image.value<QImage>().size(), QSize(632, 266));

        // The first link of the page, followed as a reader would with the keyboard.
        page->setFocus();
        QTest::keyClick(page, Qt::Key_Tab);
        QTest::keyClick(page, Qt::Key_Return);
        QCOMPARE(page->source().toString(), QStringLiteral("chm:///temas/importacion.htm"));
        QVERIFY(
            page->toPlainText().contains(QString::fromUtf8("De GestIB a Velorin: importación del centro")));

        // From a page in a folder, "../" reaches the style sheet at the root.
        const QString css =
            page->loadResource(QTextDocument::StyleSheetResource, QUrl("../estilo.css")).toString();
        QVERIFY(css.contains(QStringLiteral("font-family")));

        page->backward();
        QCOMPARE(page->source().path(), QStringLiteral("/ventana.htm"));
    }

    void contentsBesideDefaultTopic()
    {
        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhDisplayToc, kChm);
        auto* contents = window->findChild<QTreeWidget*>(QStringLiteral("Contenido"));
        QCOMPARE(window->findChild<QTabWidget*>(QStringLiteral("Pestanas"))->currentIndex(), 0);
        QCOMPARE(Children(contents),
                 (QStringList{"Ayuda de Zendral", "La ventana principal", "De GestIB a Velorin",
                              "De Velorin a GestIB", "Arranque desde Velorin y códigos de resultado",
                              "Mensajes y su significado"}));
        QTreeWidgetItem* import = contents->topLevelItem(2);
        QCOMPARE(Children(contents, import),
                 (QStringList{"Importación del centro", "Asignación de niveles y cursos",
                              "Abreviaturas de los grupos", "Creación de líneas de asignaturas"}));
        QCOMPARE(Children(contents, import->child(1)), QStringList{"Forzar la salida"});
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        QCOMPARE(contents->currentItem()->text(0), QStringLiteral("Ayuda de Zendral"));

        // A book opens nothing; an entry with an anchor opens its page at the anchor.
        emit contents->itemClicked(import, 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        emit contents->itemClicked(import->child(1)->child(0), 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/temas/cursos.htm"));
        QCOMPARE(window->Page()->source().fragment(), QStringLiteral("salida"));
    }

    // Pages are windows-1252: with a declared charset, and without one (the file's language).
    void accentsRender()
    {
        const std::pair<QString, QString> pages[] = {
            {"temas/lineas.htm", "¿Quiere crear automáticamente las Líneas de Asignaturas"},
            {"temas/abreviaturas.htm", "asignación de niveles y cursos, seguidos del nombre"}};
        for (const auto& [topic, text] : pages) {
            ChmEngine engine;
            ChmBrowser* page = Ask(engine, kHhDisplayTopic, kChm + QStringLiteral("::/") + topic)->Page();
            const QString shown = page->toPlainText().simplified();
            QVERIFY2(shown.contains(text), qPrintable(shown.left(300)));
            QVERIFY(!shown.contains(QChar::ReplacementCharacter));
        }
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("notice");
        Row("ms-its", "ms-its:GestIB.chm::/errores.htm", "/errores.htm", "");
        Row("MSITStore", "mk:@MSITStore:C:\\Zendral\\gestib.CHM::/temas/velorin.htm", "/temas/velorin.htm",
            "");
        Row("other help file", "ms-its:Otro.chm::/errores.htm", "/inicio.htm", "Otro.chm");
        Row("missing page", "chm:///no-existe.htm", "/no-existe.htm", "no-existe.htm");
    }
    void addresses()
    {
        QFETCH(QString, address);
        QFETCH(QString, path);
        QFETCH(QString, notice);
        ChmEngine engine;
        ChmBrowser* page = Ask(engine, kHhDisplayToc, kChm)->Page();
        page->setSource(QUrl(address));
        QCOMPARE(page->source().path(), path);
        if (!notice.isEmpty()) {
            QVERIFY(page->toPlainText().contains(notice));
        }
    }

    void indexAtKeyword_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("topics");
        Row("prefix", "abrev", "abreviaturas", 2);
        Row("letter case", "velorin.INI", "Velorin.ini", 0);
        Row("accented", "líneas", "líneas de asignaturas", 0);
        Row("sub-keyword", "etap", "etapas", 0);
        Row("unknown", "zzz", "", 0);
    }
    void indexAtKeyword()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, selected);
        QFETCH(int, topics);
        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhDisplayIndex, kChm, keyword);
        const auto* index = window->findChild<QTreeWidget*>(QStringLiteral("Indice"));
        QCOMPARE(window->findChild<QTabWidget*>(QStringLiteral("Pestanas"))->currentIndex(), 1);
        QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("BuscarIndice"))->text(), keyword);
        QCOMPARE(index->currentItem() != nullptr ? index->currentItem()->text(0) : QString(), selected);
        QCOMPARE(window->findChild<QListWidget*>(QStringLiteral("TemasIndice"))->count(), topics);
        // No topic opens by itself; the page pane keeps the default topic.
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
    }

    void indexEntries()
    {
        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhDisplayIndex, kChm, QStringLiteral("unidades"));
        auto* index = window->findChild<QTreeWidget*>(QStringLiteral("Indice"));
        auto* list = window->findChild<QListWidget*>(QStringLiteral("TemasIndice"));

        // "See Also" moves to the other keyword, whose two topics are offered by title.
        emit index->itemActivated(index->currentItem(), 0);
        QCOMPARE(index->currentItem()->text(0), QStringLiteral("abreviaturas"));
        QCOMPARE(list->item(1)->text(), QString::fromUtf8("Importación del centro"));
        emit list->itemActivated(list->item(1));
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/temas/importacion.htm"));

        // A keyword with one topic opens it.
        Ask(engine, kHhDisplayIndex, kChm, QStringLiteral("F1"));
        emit index->itemActivated(index->currentItem(), 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/ventana.htm"));
    }

    void namedTopic_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fragment");
        Row("anchor", "/temas/cursos.htm#salida", "/temas/cursos.htm", "salida");
        Row("letter case", "/TEMAS/LINEAS.HTM", "/TEMAS/LINEAS.HTM", "");
        Row("backslashes", "\\temas\\velorin.htm", "/temas/velorin.htm", "");
    }
    void namedTopic()
    {
        QFETCH(QString, topic);
        QFETCH(QString, path);
        QFETCH(QString, fragment);
        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhDisplayTopic, kChm + QStringLiteral("::") + topic);
        QCOMPARE(window->Notice(), QString());
        QCOMPARE(window->Page()->source().path(), path);
        QCOMPARE(window->Page()->source().fragment(), fragment);
        QVERIFY(!window->Page()->toPlainText().contains(QStringLiteral("no encontrada")));
    }

    void notices()
    {
        QTemporaryDir dir;
        QFile notChm(dir.filePath(QStringLiteral("Texto.chm")));
        QVERIFY(notChm.open(QIODevice::WriteOnly));
        notChm.write("esto no es un archivo de ayuda");
        notChm.close();
        const QString missing = dir.filePath(QStringLiteral("NoEsta.chm"));

        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhHelpContext, missing, quintptr{1});
        QVERIFY(window->isVisible());
        QVERIFY(window->Notice().startsWith(QStringLiteral("No se encuentra el archivo de ayuda")));
        QVERIFY(Ask(engine, kHhDisplayToc, notChm.fileName())
                    ->Notice()
                    .contains(QString::fromUtf8("no es un archivo de ayuda válido")));

        window = Ask(engine, kHhHelpContext, kChm, quintptr{7});
        QVERIFY(window->Notice().contains(QString::fromUtf8("número de contexto 7")));
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        Ask(engine, kHhDisplayTopic, kChm + QStringLiteral("::/no-existe.htm"));
        QVERIFY(window->Notice().contains(QString::fromUtf8("«/no-existe.htm»")));
        // The next request that succeeds clears the notice.
        Ask(engine, kHhHelpContext, kChm, quintptr{1});
        QCOMPARE(window->Notice(), QString());
        const QWidgetList shown = QApplication::topLevelWidgets();
        QVERIFY(std::none_of(shown.begin(), shown.end(),
                             [](QWidget* w) { return qobject_cast<QMessageBox*>(w) != nullptr; }));

        // The file arrives later: the next request reads it.
        QVERIFY(QFile::copy(kChm, missing));
        window = Ask(engine, kHhHelpContext, missing, quintptr{1});
        QCOMPARE(window->Notice(), QString());
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/ventana.htm"));

        Ask(engine, kHhCloseAll, QString());
        QCOMPARE(engine.WindowCount(), 0u);
    }

    // F1 in a modal dialog: the help window belongs to the dialog, so the dialog does not block it.
    void modalOwner()
    {
        QDialog dialog;
        dialog.setModal(true);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhHelpContext, kChm, quintptr{1}, &dialog);
        QCOMPARE(window->windowHandle()->transientParent(), dialog.windowHandle());
    }

    void sitemap()
    {
        // Written as ordinary literals: moc does not read raw strings.
        const QString text = QString::fromUtf8(
            "<OBJECT type=\"text/site properties\"><param name=\"ImageType\" value=\"Folder\"></OBJECT>\n"
            "<!-- <OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"comentado\"></OBJECT> -->\n"
            "<ul>\n"
            "  <LI><object TYPE='Text/Sitemap'><PARAM NAME=name VALUE=Uno><param name=\"local\" "
            "value='a\\b.htm'></object>\n"
            "  <UL>\n"
            "    <LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Dos &amp; tres &aacute; "
            "&#xF1;\">\n"
            "        <param name=\"Name\" value=\"Primero\"><param name=\"Local\" value=\"x.htm\">\n"
            "        <param name=\"Local\" value=\"y.htm\">\n"
            "    <LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Cuatro\"><param name=\"See "
            "Also\" value=\"Uno\"></OBJECT>\n"
            "  </UL>\n"
            "  <LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Sin cerrar &bogus; &\">\n"
            "</UL>\n");
        // Each entry as depth|name|title=local,...|see also.
        QStringList entries;
        for (const SitemapEntry& entry : ParseSitemap(text)) {
            QStringList links;
            for (const SitemapLink& link : entry.links) {
                links.append(link.title + u'=' + link.local);
            }
            entries.append(
                QStringLiteral("%1|%2|%3|%4")
                    .arg(QString::number(entry.depth), entry.name, links.join(u','), entry.seeAlso));
        }
        QCOMPARE(entries, (QStringList{"0|Uno|=a\\b.htm|", "1|Dos & tres á ñ|Primero=x.htm,=y.htm|",
                                       "1|Cuatro||Uno", "0|Sin cerrar &bogus; &||"}));
    }

    void objectPaths_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("object");
        Row("relative", "temas/importar.htm", "/temas/importar.htm");
        Row("absolute build path", "/home/x/proj/temas/importar.htm", "/temas/importar.htm");
        Row("windows build path", "C:\\proj\\temas\\importar.htm", "/temas/importar.htm");
        Row("root topic", "/home/x/inicio.htm", "/inicio.htm");
        Row("longest suffix wins", "/p/temas/inicio.htm", "/temas/inicio.htm");
        Row("nothing matches", "/home/x/otro.htm", "");
        Row("empty", "", "");
    }
    void objectPaths()
    {
        QFETCH(QString, raw);
        QFETCH(QString, object);
        const std::set<QString> objects = {"/temas/importar.htm", "/inicio.htm", "/temas/inicio.htm"};
        QCOMPARE(ResolveObjectPath(raw, [&](const QString& p) { return objects.count(p) > 0; }), object);
    }

    void topicUrls_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("url");
        Row("relative with anchor", "temas\\a.htm#x", "chm:///temas/a.htm#x");
        Row("escaped blank", "a%20b.htm", "chm:///a%20b.htm");
        Row("dot segments", "./t/../a.htm", "chm:///a.htm");
        Row("web", "https://example.org/x", "https://example.org/x");
    }
    void topicUrls()
    {
        QFETCH(QString, address);
        QFETCH(QString, url);
        QCOMPARE(TopicUrl(address), QUrl(url));
        QCOMPARE(TopicUrl(address).toString(QUrl::FullyEncoded), QUrl(url).toString(QUrl::FullyEncoded));
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("codePage");
        QTest::addColumn<QString>("text");
        Row("no charset: the file's code page", QByteArray("<p>Atenci\xf3n \x80</p>"), 1252,
            "<p>Atención €</p>");
        Row("no charset, cyrillic", QByteArray("\xc4\xe0"), 1251, "Да");
        Row("declared utf-8", QByteArray("<meta charset=\"utf-8\">\xc3\xb1"), 1252,
            "<meta charset=\"utf-8\">ñ");
        Row("latin-1 label read as 1252", QByteArray("content='text/html; charset=ISO-8859-1'>\x93"), 1251,
            "content='text/html; charset=ISO-8859-1'>“");
        Row("unknown label", QByteArray("charset=nada\xe9"), 1252, "charset=nadaé");
        Row("byte-order mark", QByteArray("\xef\xbb\xbf\xc3\xa9"), 1252, "é");
    }
    void decoding()
    {
        QFETCH(QByteArray, page);
        QFETCH(int, codePage);
        QFETCH(QString, text);
        QCOMPARE(DecodeHtml(page, codePage), text);
    }

    // Spanish, the help file's language; Czech and Croatian (1250); Serbian Cyrillic and Russian
    // (1251); Japanese; simplified and traditional Chinese; no language at all.
    void codePages()
    {
        QList<int> codePages;
        for (const quint32 lcid :
             {0x0C0Au, 0x0405u, 0x041Au, 0x0C1Au, 0x0419u, 0x0411u, 0x0804u, 0x0404u, 0u}) {
            codePages.append(CodePageForLcid(lcid));
        }
        QCOMPARE(codePages, (QList<int>{1252, 1250, 1250, 1251, 1251, 932, 936, 950, 1252}));
    }

    // F1 in a window with help context 1 and the "F1 AYUDA" button, from the entry point to the
    // page shown, and the help windows gone at exit.
    void f1ThroughTheWholeChain()
    {
        auto ayuda = std::make_unique<Ayuda>(*qApp);
        zendral::AyudaChm aplicacion(*ayuda);
        aplicacion.EstablecerArchivo(kChm);
        QWidget window;
        auto* button = new QWidget(&window);
        window.setProperty(zendral::kPropiedadContexto, 1);
        zendral::InstalarTeclaAyuda(window, aplicacion);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        button->setFocus();
        QTest::keyClick(button, Qt::Key_F1);

        auto helpWindows = [] {
            QList<ChmWindow*> found;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* help = dynamic_cast<ChmWindow*>(w); help != nullptr && help->isVisible()) {
                    found.append(help);
                }
            }
            return found;
        };
        QCOMPARE(helpWindows().size(), 1);
        QCOMPARE(helpWindows().front()->Page()->source().path(), QStringLiteral("/ventana.htm"));

        QVERIFY(HelpCommand(kHelpContents, 0));
        QCOMPARE(helpWindows().size(), 1);
        QCOMPARE(helpWindows().front()->Page()->source().path(), QStringLiteral("/inicio.htm"));

        ayuda.reset();
        QCOMPARE(helpWindows().size(), 0);
    }
};

QTEST_MAIN(ChmEngineTest)
#include "ChmEngineTest.moc"
