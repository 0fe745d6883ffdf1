// Our HTML Help engine on the help file the build compiles, its readers on inline samples, and F1
// through the whole chain.
#include "help/ChmEngine.h"

#include "help/Ayuda.h"
#include "help/ChmFile.h"
#include "help/ChmWindow.h"
#include "help/Sitemap.h"

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
#include <set>

using namespace zendral::help;

namespace
{

const QString kChm = QStringLiteral(ZENDRAL_HELP_CHM);

HtmlHelpCall Call(unsigned command, const QString& file, std::variant<quintptr, QString> data = quintptr{0})
{
    HtmlHelpCall call;
    call.command = command;
    call.file = file;
    call.data = std::move(data);
    return call;
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

bool AnyMessageBox()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (qobject_cast<QMessageBox*>(w) != nullptr) {
            return true;
        }
    }
    return false;
}

} // namespace

class ChmEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void fileFacts()
    {
        const std::unique_ptr<ChmFile> file = ChmFile::Open(kChm);
        QVERIFY(file);
        QCOMPARE(file->Title(), QStringLiteral("Ayuda de Zendral"));
        QCOMPARE(file->Lcid(), 0x0C0Au);
        QCOMPARE(file->CodePage(), 1252);
        QCOMPARE(file->DefaultTopic(), QStringLiteral("/inicio.htm"));
        QCOMPARE(file->ContentsFile(), QStringLiteral("/GestIB.hhc"));
        QCOMPARE(file->IndexFile(), QStringLiteral("/GestIB.hhk"));
    }

    void contextMap_data()
    {
        QTest::addColumn<uint>("context");
        QTest::addColumn<QString>("topic");
        QTest::newRow("main window") << 1u << "/ventana.htm";
        QTest::newRow("import") << 10u << "/temas/importacion.htm";
        QTest::newRow("abbreviations") << 21u << "/temas/abreviaturas.htm";
        QTest::newRow("messages") << 60u << "/errores.htm";
        QTest::newRow("zero means none") << 0u << "";
        QTest::newRow("unmapped") << 2u << "";
        QTest::newRow("largest") << 0xFFFFFFFFu << "";
    }
    void contextMap()
    {
        QFETCH(uint, context);
        QFETCH(QString, topic);
        const std::unique_ptr<ChmFile> file = ChmFile::Open(kChm);
        QVERIFY(file);
        QCOMPARE(file->TopicForContext(context), topic);
    }

    void contextOneShowsMainWindowTopic()
    {
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhHelpContext, kChm, quintptr{1}));
        ChmWindow* window = engine.WindowFor(kChm);
        QVERIFY(window != nullptr);
        QVERIFY(window->isVisible());
        QCOMPARE(window->Notice(), QString());
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/ventana.htm"));
        QVERIFY(window->Page()->toPlainText().contains(
            QStringLiteral("Transformar datos desde GestIB hacia Velorin")));
    }

    void contentsBesideDefaultTopic()
    {
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhDisplayToc, kChm));
        ChmWindow* window = engine.WindowFor(kChm);
        QVERIFY(window != nullptr);
        auto* contents = window->findChild<QTreeWidget*>(QStringLiteral("Contenido"));
        QCOMPARE(window->findChild<QTabWidget*>(QStringLiteral("Pestanas"))->currentIndex(), 0);
        QCOMPARE(Children(contents),
                 (QStringList{"Ayuda de Zendral", "La ventana principal", "De GestIB a Velorin",
                              "De Velorin a GestIB",
                              QString::fromUtf8("Arranque desde Velorin y códigos de resultado"),
                              "Mensajes y su significado"}));
        QTreeWidgetItem* import = contents->topLevelItem(2);
        QCOMPARE(
            Children(contents, import),
            (QStringList{QString::fromUtf8("Importación del centro"),
                         QString::fromUtf8("Asignación de niveles y cursos"), "Abreviaturas de los grupos",
                         QString::fromUtf8("Creación de líneas de asignaturas")}));
        QCOMPARE(Children(contents, import->child(1)), QStringList{"Forzar la salida"});
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        QCOMPARE(contents->currentItem()->text(0), QStringLiteral("Ayuda de Zendral"));

        // A book opens nothing; an entry with an anchor opens its page at the anchor.
        QTreeWidgetItem* anchor = import->child(1)->child(0);
        emit contents->itemClicked(import, 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        emit contents->itemClicked(anchor, 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/temas/cursos.htm"));
        QCOMPARE(window->Page()->source().fragment(), QStringLiteral("salida"));
    }

    // Pages are windows-1252: with a declared charset, and without one (the file's language).
    void accentsRender_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("text");
        QTest::newRow("declared") << "temas/lineas.htm"
                                  << QString::fromUtf8(
                                         "¿Quiere crear automáticamente las Líneas de Asignaturas");
        QTest::newRow("undeclared") << "temas/abreviaturas.htm"
                                    << QString::fromUtf8(
                                           "asignación de niveles y cursos, seguidos del nombre");
        QTest::newRow("messages") << "errores.htm" << QString::fromUtf8("¡Atención! Falta algún Dato");
    }
    void accentsRender()
    {
        QFETCH(QString, topic);
        QFETCH(QString, text);
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhDisplayTopic, kChm + QStringLiteral("::/") + topic));
        const QString shown = engine.WindowFor(kChm)->Page()->toPlainText().simplified();
        QVERIFY2(shown.contains(text), qPrintable(shown.left(300)));
        QVERIFY(!shown.contains(QChar::ReplacementCharacter));
    }

    void linksImagesAndStyles()
    {
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhHelpContext, kChm, quintptr{1}));
        ChmBrowser* page = engine.WindowFor(kChm)->Page();

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
        QVERIFY(page->loadResource(QTextDocument::ImageResource, QUrl("../imagenes/ventana.png"))
                    .toByteArray()
                    .startsWith("\x89PNG"));

        page->backward();
        QCOMPARE(page->source().path(), QStringLiteral("/ventana.htm"));
    }

    void addresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("notice");
        QTest::newRow("ms-its") << "ms-its:GestIB.chm::/errores.htm"
                                << "/errores.htm"
                                << "";
        QTest::newRow("MSITStore") << "mk:@MSITStore:C:\\Zendral\\gestib.CHM::/temas/velorin.htm"
                                   << "/temas/velorin.htm"
                                   << "";
        QTest::newRow("other help file") << "ms-its:Otro.chm::/errores.htm"
                                         << "/inicio.htm"
                                         << "Otro.chm";
        QTest::newRow("missing page") << "chm:///no-existe.htm"
                                      << "/no-existe.htm"
                                      << "no-existe.htm";
    }
    void addresses()
    {
        QFETCH(QString, address);
        QFETCH(QString, path);
        QFETCH(QString, notice);
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhDisplayToc, kChm));
        ChmBrowser* page = engine.WindowFor(kChm)->Page();
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
        QTest::newRow("prefix") << "abrev"
                                << "abreviaturas" << 2;
        QTest::newRow("letter case") << "velorin.INI"
                                     << "Velorin.ini" << 0;
        QTest::newRow("accented") << QString::fromUtf8("líneas") << QString::fromUtf8("líneas de asignaturas")
                                  << 0;
        QTest::newRow("sub-keyword") << "etap"
                                     << "etapas" << 0;
        QTest::newRow("unknown") << "zzz"
                                 << "" << 0;
    }
    void indexAtKeyword()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, selected);
        QFETCH(int, topics);
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhDisplayIndex, kChm, keyword));
        ChmWindow* window = engine.WindowFor(kChm);
        const auto* index = window->findChild<QTreeWidget*>(QStringLiteral("Indice"));
        const auto* list = window->findChild<QListWidget*>(QStringLiteral("TemasIndice"));
        QCOMPARE(window->findChild<QTabWidget*>(QStringLiteral("Pestanas"))->currentIndex(), 1);
        QCOMPARE(window->findChild<QLineEdit*>(QStringLiteral("BuscarIndice"))->text(), keyword);
        QCOMPARE(index->currentItem() != nullptr ? index->currentItem()->text(0) : QString(), selected);
        QCOMPARE(list->count(), topics);
        // No topic opens by itself; the page pane keeps the default topic.
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
    }

    void indexEntries()
    {
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhDisplayIndex, kChm, QStringLiteral("unidades")));
        ChmWindow* window = engine.WindowFor(kChm);
        auto* index = window->findChild<QTreeWidget*>(QStringLiteral("Indice"));
        auto* list = window->findChild<QListWidget*>(QStringLiteral("TemasIndice"));

        // "See Also" moves to the other keyword, whose two topics are offered by title.
        emit index->itemActivated(index->currentItem(), 0);
        QCOMPARE(index->currentItem()->text(0), QStringLiteral("abreviaturas"));
        QCOMPARE(list->item(1)->text(), QString::fromUtf8("Importación del centro"));
        emit list->itemActivated(list->item(1));
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/temas/importacion.htm"));

        // A keyword with one topic opens it.
        engine.HtmlHelp(Call(kHhDisplayIndex, kChm, QStringLiteral("F1")));
        emit index->itemActivated(index->currentItem(), 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/ventana.htm"));
    }

    void namedTopic_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fragment");
        QTest::newRow("anchor") << "/temas/cursos.htm#salida"
                                << "/temas/cursos.htm"
                                << "salida";
        QTest::newRow("letter case") << "/TEMAS/LINEAS.HTM"
                                     << "/TEMAS/LINEAS.HTM"
                                     << "";
        QTest::newRow("backslashes") << "\\temas\\velorin.htm"
                                     << "/temas/velorin.htm"
                                     << "";
    }
    void namedTopic()
    {
        QFETCH(QString, topic);
        QFETCH(QString, path);
        QFETCH(QString, fragment);
        ChmEngine engine;
        engine.HtmlHelp(Call(kHhDisplayTopic, kChm + QStringLiteral("::") + topic));
        ChmWindow* window = engine.WindowFor(kChm);
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
        engine.HtmlHelp(Call(kHhHelpContext, missing, quintptr{1}));
        QVERIFY(engine.WindowFor(missing)->isVisible());
        QVERIFY(engine.WindowFor(missing)->Notice().startsWith(
            QStringLiteral("No se encuentra el archivo de ayuda")));
        engine.HtmlHelp(Call(kHhDisplayToc, notChm.fileName()));
        QVERIFY(engine.WindowFor(notChm.fileName())
                    ->Notice()
                    .contains(QString::fromUtf8("no es un archivo de ayuda válido")));

        engine.HtmlHelp(Call(kHhHelpContext, kChm, quintptr{7}));
        ChmWindow* window = engine.WindowFor(kChm);
        QVERIFY(window->Notice().contains(QString::fromUtf8("número de contexto 7")));
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        engine.HtmlHelp(Call(kHhDisplayTopic, kChm + QStringLiteral("::/no-existe.htm")));
        QVERIFY(window->Notice().contains(QString::fromUtf8("«/no-existe.htm»")));
        // The next request that succeeds clears the notice.
        engine.HtmlHelp(Call(kHhHelpContext, kChm, quintptr{1}));
        QCOMPARE(window->Notice(), QString());
        QVERIFY(!AnyMessageBox());

        // The file arrives later: the next request reads it.
        QVERIFY(QFile::copy(kChm, missing));
        engine.HtmlHelp(Call(kHhHelpContext, missing, quintptr{1}));
        QCOMPARE(engine.WindowFor(missing)->Notice(), QString());
        QCOMPARE(engine.WindowFor(missing)->Page()->source().path(), QStringLiteral("/ventana.htm"));

        engine.HtmlHelp(Call(kHhCloseAll, QString()));
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
        HtmlHelpCall call = Call(kHhHelpContext, kChm, quintptr{1});
        call.owner = &dialog;
        engine.HtmlHelp(call);
        QCOMPARE(engine.WindowFor(kChm)->windowHandle()->transientParent(), dialog.windowHandle());
    }

    void sitemap()
    {
        // Written as ordinary literals: moc does not read raw strings.
        const QString text = QString::fromUtf8(
            "\n"
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
        const std::vector<SitemapEntry> entries = ParseSitemap(text);
        QCOMPARE(entries.size(), 4u);
        QCOMPARE(entries[0].name, QStringLiteral("Uno"));
        QCOMPARE(entries[0].depth, 0);
        QCOMPARE(entries[0].links.size(), 1u);
        QCOMPARE(entries[0].links[0].local, QStringLiteral("a\\b.htm"));
        QCOMPARE(entries[1].name, QString::fromUtf8("Dos & tres á ñ"));
        QCOMPARE(entries[1].depth, 1);
        QCOMPARE(entries[1].links.size(), 2u);
        QCOMPARE(entries[1].links[0].title, QStringLiteral("Primero"));
        QCOMPARE(entries[1].links[1].title, QString());
        QCOMPARE(entries[1].links[1].local, QStringLiteral("y.htm"));
        QCOMPARE(entries[2].seeAlso, QStringLiteral("Uno"));
        QVERIFY(entries[2].links.empty());
        QCOMPARE(entries[3].name, QStringLiteral("Sin cerrar &bogus; &"));
        QCOMPARE(entries[3].depth, 0);
    }

    void objectPaths_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("object");
        QTest::newRow("relative") << "temas/importar.htm"
                                  << "/temas/importar.htm";
        QTest::newRow("absolute build path") << "/home/x/proj/temas/importar.htm"
                                             << "/temas/importar.htm";
        QTest::newRow("windows build path") << "C:\\proj\\temas\\importar.htm"
                                            << "/temas/importar.htm";
        QTest::newRow("root topic") << "/home/x/inicio.htm"
                                    << "/inicio.htm";
        QTest::newRow("longest suffix wins") << "/p/temas/inicio.htm"
                                             << "/temas/inicio.htm";
        QTest::newRow("nothing matches") << "/home/x/otro.htm"
                                         << "";
        QTest::newRow("empty") << ""
                               << "";
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
        QTest::newRow("relative with anchor") << "temas\\a.htm#x"
                                              << "chm:///temas/a.htm#x";
        QTest::newRow("ms-its") << "ms-its:GestIB.chm::/a.htm"
                                << "chm:///a.htm";
        QTest::newRow("MSITStore") << "mk:@MSITStore:C:\\x\\GestIB.chm::/t/a.htm"
                                   << "chm:///t/a.htm";
        QTest::newRow("escaped blank") << "a%20b.htm"
                                       << "chm:///a%20b.htm";
        QTest::newRow("dot segments") << "./t/../a.htm"
                                      << "chm:///a.htm";
        QTest::newRow("web") << "https://example.org/x"
                             << "https://example.org/x";
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
        QTest::newRow("no charset: the file's code page")
            << QByteArray("<p>Atenci\xf3n \x80</p>") << 1252 << QString::fromUtf8("<p>Atención €</p>");
        QTest::newRow("no charset, cyrillic") << QByteArray("\xc4\xe0") << 1251 << QString::fromUtf8("Да");
        QTest::newRow("declared utf-8") << QByteArray("<meta charset=\"utf-8\">\xc3\xb1") << 1252
                                        << QString::fromUtf8("<meta charset=\"utf-8\">ñ");
        QTest::newRow("latin-1 label read as 1252")
            << QByteArray("<meta http-equiv=Content-Type content='text/html; charset=ISO-8859-1'>\x93")
            << 1251
            << QString::fromUtf8("<meta http-equiv=Content-Type content='text/html; charset=ISO-8859-1'>“");
        QTest::newRow("unknown label")
            << QByteArray("charset=nada\xe9") << 1252 << QString::fromUtf8("charset=nadaé");
        QTest::newRow("byte-order mark")
            << QByteArray("\xef\xbb\xbf\xc3\xa9") << 1252 << QString::fromUtf8("é");
    }
    void decoding()
    {
        QFETCH(QByteArray, page);
        QFETCH(int, codePage);
        QFETCH(QString, text);
        QCOMPARE(DecodeHtml(page, codePage), text);
    }

    void codePages_data()
    {
        QTest::addColumn<uint>("lcid");
        QTest::addColumn<int>("codePage");
        QTest::newRow("Spanish, modern sort") << 0x0C0Au << 1252;
        QTest::newRow("Catalan") << 0x0403u << 1252;
        QTest::newRow("Czech") << 0x0405u << 1250;
        QTest::newRow("Croatian") << 0x041Au << 1250;
        QTest::newRow("Serbian Cyrillic") << 0x0C1Au << 1251;
        QTest::newRow("Russian") << 0x0419u << 1251;
        QTest::newRow("Japanese") << 0x0411u << 932;
        QTest::newRow("Chinese PRC") << 0x0804u << 936;
        QTest::newRow("Chinese Taiwan") << 0x0404u << 950;
        QTest::newRow("none") << 0u << 1252;
    }
    void codePages()
    {
        QFETCH(uint, lcid);
        QFETCH(int, codePage);
        QCOMPARE(CodePageForLcid(lcid), codePage);
    }

    // F1 in a window with help context 1 and the "F1 AYUDA" button, from the entry point to the
    // page shown, and the help windows gone at exit.
    void f1ThroughTheWholeChain()
    {
        auto ayuda = std::make_unique<Ayuda>(*qApp);
        SetHelpFile(kChm);
        QWidget window;
        auto* button = new QWidget(&window);
        SetHelpContext(&window, 1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
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
