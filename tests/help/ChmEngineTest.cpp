// Our HTML Help engine on the help file the build compiles, its readers on inline samples, and F1
// through the whole chain.
#include "ChmEngine.h"

#include "Ayuda.h"
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
#include <QProcess>
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
// The same help file as chmcmd wrote it: its context map names topics by absolute build paths.
const QString kChmcmdChm = QStringLiteral(ZENDRAL_HELP_CHM_CHMCMD);
const QString kStage = QStringLiteral(ZENDRAL_HELP_STAGE);
const QString kContextos = QStringLiteral(ZENDRAL_CHM_CONTEXTOS);

// The context map as the file stores it, read straight from /#IVB and /#STRINGS: each number with
// the bytes of its topic name.
std::vector<std::pair<quint32, QByteArray>> StoredContexts(const ChmFile& file)
{
    const QByteArray ivb = file.Read(QStringLiteral("/#IVB")).value_or(QByteArray());
    const QByteArray strings = file.Read(QStringLiteral("/#STRINGS")).value_or(QByteArray());
    auto dword = [&](qsizetype at) {
        quint32 value = 0;
        for (int i = 3; i >= 0; --i) {
            value = value << 8 | static_cast<unsigned char>(ivb[at + i]);
        }
        return value;
    };
    std::vector<std::pair<quint32, QByteArray>> contexts;
    for (qsizetype at = 4; ivb.size() >= 4 && at + 8 <= 4 + qsizetype(dword(0)); at += 8) {
        const qsizetype offset = dword(at + 4);
        contexts.emplace_back(dword(at), offset < strings.size() ? strings.mid(offset).split('\0').front()
                                                                 : QByteArray("(fuera de #STRINGS)"));
    }
    return contexts;
}

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs zendral-chm-contextos; its exit code, with what it wrote to the error stream.
std::pair<int, QString> RunContextos(const QStringList& arguments)
{
    QProcess process;
    process.start(kContextos, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit) {
        return {-1, process.errorString()};
    }
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardError())};
}

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

    // As the HTML Help engine reads the map: every stored name is a topic relative to the help
    // file, present under exactly that name (letter case included), and context 1 is the main
    // window's topic.
    void contextMapNamesTopicsInTheFile()
    {
        const std::unique_ptr<ChmFile> file = ChmFile::Open(kChm);
        QVERIFY(file);
        const QStringList objects = file->Objects();
        const auto contexts = StoredContexts(*file);
        QCOMPARE(contexts.size(), 10u);
        QStringList named;
        for (const auto& [number, stored] : contexts) {
            const QString name = QString::fromLatin1(stored);
            QVERIFY2(!name.isEmpty() && !name.startsWith(u'/') && !name.contains(u'\\'), stored.constData());
            QVERIFY2(objects.contains(u'/' + name), stored.constData());
            named.append(QStringLiteral("%1=%2").arg(number).arg(name));
        }
        QCOMPARE(named, (QStringList{"1=ventana.htm", "10=temas/importacion.htm", "15=temas/comprobar.htm",
                                     "20=temas/cursos.htm", "21=temas/abreviaturas.htm",
                                     "30=temas/lineas.htm", "40=temas/exportacion.htm",
                                     "50=temas/velorin.htm", "55=temas/copias.htm", "60=errores.htm"}));
        // The name that was written in place of the longer build path does not run into the next.
        QCOMPARE(file->ContextTopicName(1), QStringLiteral("ventana.htm"));
        QCOMPARE(file->TopicForContext(1), QStringLiteral("/ventana.htm"));
    }

    // chmcmd's own output names its topics by build paths; our engine no longer finds a topic by
    // the end of such a path, and says so as it does for any topic the file lacks.
    void absoluteContextNamesRefused()
    {
        const std::unique_ptr<ChmFile> file = ChmFile::Open(kChmcmdChm);
        QVERIFY(file);
        const QString stored = file->ContextTopicName(1);
        QVERIFY2(stored.startsWith(u'/') && stored.endsWith(QStringLiteral("/chm-stage/ventana.htm")),
                 qPrintable(stored));
        QCOMPARE(file->TopicForContext(1), QString());
        QCOMPARE(file->TopicForContext(60), QString());

        ChmEngine engine;
        ChmWindow* window = Ask(engine, kHhHelpContext, kChmcmdChm, quintptr{1});
        QCOMPARE(window->Notice(),
                 QString::fromUtf8("No se encuentra el tema «%1» en el archivo de ayuda.").arg(stored));
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        // An unmapped number keeps its own notice.
        Ask(engine, kHhHelpContext, kChmcmdChm, quintptr{7});
        QVERIFY(window->Notice().contains(QString::fromUtf8("número de contexto 7")));
    }

    void contextObjectPaths_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("object");
        Row("relative", "ventana.htm", "/ventana.htm");
        Row("relative in a folder", "temas/cursos.htm", "/temas/cursos.htm");
        Row("chmlib's leading slash", "/temas/cursos.htm", "/temas/cursos.htm");
        Row("build path", "/work/x/build/help/chm-stage/ventana.htm", "");
        Row("build path of a folder topic", "/home/x/proj/temas/cursos.htm", "");
        Row("windows build path", "C:\\proj\\ventana.htm", "");
        Row("drive", "C:/ventana.htm", "");
        Row("backslashes", "temas\\cursos.htm", "");
        Row("missing", "otro.htm", "");
        Row("root only", "/", "");
        Row("empty", "", "");
    }
    void contextObjectPaths()
    {
        QFETCH(QString, stored);
        QFETCH(QString, object);
        const std::set<QString> objects = {"/ventana.htm", "/temas/cursos.htm", "/", "/C:/ventana.htm"};
        QCOMPARE(ContextObjectPath(stored, [&](const QString& p) { return objects.count(p) > 0; }), object);
    }

    // The build's mending step: the same result from chmcmd's file each time, nothing more to do
    // on its own result, and a name outside the project is refused without writing anything.
    void mendingStep()
    {
        QTemporaryDir dir;
        const QString again = dir.filePath(QStringLiteral("again.chm"));
        QCOMPARE(RunContextos({kChmcmdChm, kStage, again}).first, 0);
        QCOMPARE(Contents(again), Contents(kChm));
        const QString twice = dir.filePath(QStringLiteral("twice.chm"));
        QCOMPARE(RunContextos({kChm, kStage, twice}).first, 0);
        QCOMPARE(Contents(twice), Contents(kChm));

        const QString refused = dir.filePath(QStringLiteral("refused.chm"));
        const auto [code, message] = RunContextos({kChmcmdChm, dir.path(), refused});
        QCOMPARE(code, 1);
        QVERIFY2(message.contains(QString::fromUtf8("fuera de la carpeta del proyecto")),
                 qPrintable(message));
        QVERIFY(!QFile::exists(refused));
        QVERIFY(!QFile::exists(refused + QStringLiteral(".parcial")));

        QFile notChm(dir.filePath(QStringLiteral("Texto.chm")));
        QVERIFY(notChm.open(QIODevice::WriteOnly));
        notChm.write("esto no es un archivo de ayuda");
        notChm.close();
        const auto [badCode, badMessage] = RunContextos({notChm.fileName(), kStage, refused});
        QCOMPARE(badCode, 1);
        QVERIFY2(badMessage.contains(QStringLiteral("no es un archivo de ayuda CHM")),
                 qPrintable(badMessage));
        QVERIFY(!QFile::exists(refused));

        // Cut short, chmlib still opens it, but nothing of it can be mended.
        QFile cut(dir.filePath(QStringLiteral("Cortado.chm")));
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(Contents(kChmcmdChm).left(3000));
        cut.close();
        const auto [cutCode, cutMessage] = RunContextos({cut.fileName(), kStage, refused});
        QCOMPARE(cutCode, 1);
        QVERIFY2(cutMessage.contains(QString::fromUtf8("incompleto o dañado")), qPrintable(cutMessage));
        QVERIFY(!QFile::exists(refused));
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
                              "Copias de las tablas y cómo restaurarlas", "Mensajes y su significado"}));
        QTreeWidgetItem* import = contents->topLevelItem(2);
        QCOMPARE(Children(contents, import),
                 (QStringList{"Importación del centro", "Comprobar un documento antes de importarlo",
                              "Asignación de niveles y cursos", "Abreviaturas de los grupos",
                              "Creación de líneas de asignaturas"}));
        QCOMPARE(Children(contents, import->child(2)), QStringList{"Forzar la salida"});
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        QCOMPARE(contents->currentItem()->text(0), QStringLiteral("Ayuda de Zendral"));

        // A book opens nothing; an entry with an anchor opens its page at the anchor.
        emit contents->itemClicked(import, 0);
        QCOMPARE(window->Page()->source().path(), QStringLiteral("/inicio.htm"));
        emit contents->itemClicked(import->child(2)->child(0), 0);
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
        ayuda->EstablecerArchivo(kChm);
        QWidget window;
        auto* button = new QWidget(&window);
        window.setProperty(zendral::kPropiedadContexto, 1);
        zendral::InstalarTeclaAyuda(window, *ayuda);
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

        QVERIFY(ayuda->HelpCommand(kHelpContents, 0));
        QCOMPARE(helpWindows().size(), 1);
        QCOMPARE(helpWindows().front()->Page()->source().path(), QStringLiteral("/inicio.htm"));

        ayuda.reset();
        QCOMPARE(helpWindows().size(), 0);
    }
};

QTEST_MAIN(ChmEngineTest)
#include "ChmEngineTest.moc"
