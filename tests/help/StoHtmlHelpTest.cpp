// The viewer's answers and actions, and the help system's routing, against an engine that only
// records what it is asked.
#include "StoHtmlHelp.h"

#include "Ayuda.h"
#include "DataRow.h"
#include "HelpSystem.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

using namespace zendral::help;
using zendral::help::test::Row;

namespace
{

struct Record
{
    std::vector<HtmlHelpCall> calls;
    bool engineDestroyed = false;
};

class RecordingEngine final : public HtmlHelpEngine
{
public:
    explicit RecordingEngine(std::shared_ptr<Record> record)
        : m_record(std::move(record))
    {
    }
    ~RecordingEngine() override { m_record->engineDestroyed = true; }
    void HtmlHelp(const HtmlHelpCall& call) override { m_record->calls.push_back(call); }

private:
    std::shared_ptr<Record> m_record;
};

class FakeApplication final : public HelpApplication
{
public:
    QString CurrentHelpFile() const override { return helpFile; }
    QString ExecutableDir() const override { return exeDir; }

    QString helpFile;
    QString exeDir = QStringLiteral("/opt/zendral");
};

// A help system with the built-in WinHelp viewer and StoHtmlHelp registered as at start-up.
struct Rig
{
    explicit Rig(const QString& managerFile = QStringLiteral("GestIB.chm"))
    {
        manager.SetHelpFile(managerFile);
        manager.SetHandle(&owner);
        module =
            std::make_unique<StoHtmlHelp>(manager, application, std::make_unique<RecordingEngine>(record));
    }
    TStoHtmlHelpViewer& Viewer() { return module->Viewer(); }
    const std::vector<HtmlHelpCall>& Calls() const { return record->calls; }

    QWidget owner;
    FakeApplication application;
    HelpManager manager;
    std::shared_ptr<Record> record = std::make_shared<Record>();
    std::unique_ptr<StoHtmlHelp> module;
};

// The file of a call, as HtmlHelpCall holds it.
using File = std::optional<QString>;

QString Text(const HtmlHelpCall& call) { return std::get<QString>(call.data); }
quintptr Number(const HtmlHelpCall& call) { return std::get<quintptr>(call.data); }

} // namespace

class StoHtmlHelpTest : public QObject
{
    Q_OBJECT

private slots:
    // The placeholders of a keyword stay text.
    void helpStrings()
    {
        Rig rig;
        for (const QString keyword : {"abc", "", "%1 y %2"}) {
            QCOMPARE(rig.Viewer().GetHelpStrings(keyword), QStringList{"StoHtmlHelp: " + keyword});
        }
    }

    void isChm_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("chm");
        Row("name", "GestIB.chm", true);
        Row("mixed case", "ayuda.Chm", true);
        Row("only the extension", ".chm", true);
        Row("windows path", "C:\\Ayuda\\GestIB.chm", true);
        Row("backup", "help.chm.bak", false);
        Row("longer extension", "ayuda.chmx", false);
        Row("winhelp", "GestIB.hlp", false);
        Row("empty", "", false);
    }
    // The help file decides the keyword and topic answers and whether any request is shown, even a
    // context request given a .chm; the file given with a context request decides the context answer.
    void isChm()
    {
        QFETCH(QString, file);
        QFETCH(bool, chm);
        Rig rig(file);
        TStoHtmlHelpViewer& viewer = rig.Viewer();
        QCOMPARE(viewer.UnderstandsKeyword(QStringLiteral("x")), chm ? 1 : 0);
        QCOMPARE(viewer.UnderstandsTopic(QStringLiteral("x")), chm);
        QCOMPARE(viewer.UnderstandsContext(1, file), chm);
        viewer.ShowTableOfContents();
        viewer.ShowHelp(QStringLiteral("StoHtmlHelp: abc"));
        viewer.DisplayTopic(QStringLiteral("intro"));
        viewer.DisplayHelpByContext(1, QStringLiteral("GestIB.chm"));
        QCOMPARE(rig.Calls().size(), chm ? 4u : 0u);

        Rig other(QStringLiteral("otra.hlp"));
        QCOMPARE(other.Viewer().UnderstandsContext(1, file), chm);
    }

    void keyword_data()
    {
        QTest::addColumn<QString>("helpString");
        QTest::addColumn<QString>("expected");
        Row("own help string", "StoHtmlHelp: abc", "abc");
        Row("only the first colon goes", "a:b: c", "b: c");
        Row("no colon, trimmed", "  sin dos puntos \t", "sin dos puntos");
        Row("nothing after the colon", "abc:", "");
        Row("control characters trimmed", "\x01 x \x1f", "x");
        Row("no-break space kept", "a: x\u00a0", "x\u00a0");
    }
    void keyword()
    {
        QFETCH(QString, helpString);
        QFETCH(QString, expected);
        Rig rig;
        rig.Viewer().ShowHelp(helpString);
        QCOMPARE(rig.Calls().size(), 1u);
        QCOMPARE(rig.Calls()[0].command, kHhDisplayIndex);
        QCOMPARE(rig.Calls()[0].file, File("/opt/zendral/GestIB.chm"));
        QCOMPARE(Text(rig.Calls()[0]), expected);
    }

    void topic_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("shown");
        Row("no extension", "intro", "intro.htm");
        Row("html upper case", "intro.HTML", "intro.HTML");
        Row("htm mixed case", "intro.Htm", "intro.Htm");
        Row("html-like extension", "intro.html5", "intro.html5.htm");
        Row("dot in a folder", "temas.v2/intro", "temas.v2/intro.htm");
        Row("folder and htm", "temas/intro.htm", "temas/intro.htm");
    }
    void topic()
    {
        QFETCH(QString, topic);
        QFETCH(QString, shown);
        Rig rig;
        rig.Viewer().DisplayTopic(topic);
        QCOMPARE(rig.Calls().size(), 1u);
        QCOMPARE(rig.Calls()[0].command, kHhDisplayTopic);
        QCOMPARE(rig.Calls()[0].file, File(QStringLiteral("/opt/zendral/GestIB.chm::/") + shown));
        QCOMPARE(Number(rig.Calls()[0]), quintptr{0});
    }

    void helpFile_data()
    {
        QTest::addColumn<QString>("managerFile");
        QTest::addColumn<QString>("applicationFile");
        QTest::addColumn<QString>("exeDir");
        QTest::addColumn<QString>("expected");
        Row("name only", "GestIB.chm", "", "/opt/zendral", "/opt/zendral/GestIB.chm");
        Row("directory ends in a slash", "GestIB.chm", "", "/opt/zendral/", "/opt/zendral/GestIB.chm");
        Row("manager empty: application", "", "GestIB.chm", "/opt/zendral", "/opt/zendral/GestIB.chm");
        Row("manager wins", "uno.chm", "dos.chm", "/opt", "/opt/uno.chm");
        Row("absolute unchanged", "/srv/ayuda/GestIB.chm", "", "/opt", "/srv/ayuda/GestIB.chm");
        Row("relative with directory unchanged", "ayuda/GestIB.chm", "", "/opt", "ayuda/GestIB.chm");
        Row("windows path unchanged", "C:\\Ayuda\\GestIB.chm", "", "/opt", "C:\\Ayuda\\GestIB.chm");
    }
    void helpFile()
    {
        QFETCH(QString, managerFile);
        QFETCH(QString, applicationFile);
        QFETCH(QString, exeDir);
        QFETCH(QString, expected);
        Rig rig(managerFile);
        rig.application.helpFile = applicationFile;
        rig.application.exeDir = exeDir;
        rig.Viewer().ShowTableOfContents();
        QCOMPARE(rig.Calls().size(), 1u);
        QCOMPARE(rig.Calls()[0].file, File(expected));
    }

    // Without a help file nothing is shown; the application's file is asked for at every request,
    // not kept from an earlier one.
    void helpFileFoundForEveryRequest()
    {
        Rig rig{QString()};
        for (const QString file : {"", "GestIB.chm", "/otra/Ayuda.chm"}) {
            rig.application.helpFile = file;
            rig.Viewer().ShowTableOfContents();
        }
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(rig.Calls()[0].file, File("/opt/zendral/GestIB.chm"));
        QCOMPARE(rig.Calls()[1].file, File("/otra/Ayuda.chm"));
    }

    // A direct request shows the manager's file, whatever file it names, and the number goes as an
    // unsigned 32-bit value. Through the manager, the request's own file is shown; the WinHelp
    // viewer, registered first, declines it through the tester, and a file that is not a .chm is
    // declined by both.
    void context()
    {
        Rig rig;
        rig.Viewer().DisplayHelpByContext(-1, QStringLiteral("/otro/sitio/Otro.chm"));
        QVERIFY(rig.manager.ShowContextHelp(1, QStringLiteral("Otro.chm")));
        QVERIFY(!rig.manager.ShowContextHelp(1, QStringLiteral("GestIB.hlp")));
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(rig.Calls()[0].file, File("/opt/zendral/GestIB.chm"));
        QCOMPARE(Number(rig.Calls()[0]), quintptr{0xFFFFFFFFu});
        QCOMPARE(rig.Calls()[1].command, kHhHelpContext);
        QCOMPARE(rig.Calls()[1].file, File("/opt/zendral/Otro.chm"));
        QCOMPARE(Number(rig.Calls()[1]), quintptr{1});

        // Without the tester the WinHelp viewer takes every request.
        rig.manager.BuiltInWinHelpViewer().SetTester(nullptr);
        QVERIFY(rig.manager.ShowContextHelp(1, QStringLiteral("GestIB.chm")));
        QCOMPARE(rig.Calls().size(), 2u);
    }

    void htmlHelpCallRules()
    {
        Rig rig;
        rig.Viewer().ShowTableOfContents();
        rig.Viewer().SoftShutDown();
        rig.Viewer().CallHtmlHelp(QStringLiteral("/opt/zendral/GestIB.chm"), kHhGetLastError, quintptr{0});
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(rig.Calls()[0].owner, &rig.owner);
        QCOMPARE(rig.Calls()[1].command, kHhCloseAll);
        QCOMPARE(rig.Calls()[1].owner, nullptr);
        QVERIFY(!rig.Calls()[1].file.has_value());
    }

    void selectKeyword_data()
    {
        QTest::addColumn<QStringList>("strings");
        QTest::addColumn<int>("index");
        Row("second", QStringList{"WinHelp: a", "StoHtmlHelp: a"}, 1);
        Row("first of two", QStringList{"StoHtmlHelp: a", "StoHtmlHelp: b"}, 0);
        Row("no colon does not count", QStringList{"x: a", "StoHtmlHelp"}, 0);
        Row("letter case counts", QStringList{"x: a", "stohtmlhelp: a"}, 0);
        Row("text before the first colon", QStringList{"A: StoHtmlHelp: b", "StoHtmlHelp: b"}, 1);
        Row("empty list", QStringList{}, 0);
    }
    void selectKeyword()
    {
        QFETCH(QStringList, strings);
        QFETCH(int, index);
        Rig rig;
        QCOMPARE(rig.Viewer().SelectKeyword(strings), index);
    }

    void registrationAndExit()
    {
        Rig rig;
        QCOMPARE(rig.manager.ViewerCount(), 2u);
        rig.module.reset();
        QCOMPARE(rig.manager.ViewerCount(), 1u);
        QVERIFY(rig.record->engineDestroyed);
        QVERIFY(!rig.manager.ShowContextHelp(1, QStringLiteral("GestIB.chm")));
    }

    // The manager going first shuts the viewer down: its windows close and the module's exit no
    // longer touches the manager.
    void managerShutDownFirst()
    {
        auto record = std::make_shared<Record>();
        FakeApplication application;
        auto manager = std::make_unique<HelpManager>();
        StoHtmlHelp module(*manager, application, std::make_unique<RecordingEngine>(record));
        manager.reset();
        QCOMPARE(record->calls.size(), 1u);
        QCOMPARE(record->calls[0].command, kHhCloseAll);
        QCOMPARE(module.Viewer().HelpManager(), nullptr);
    }

    // The selector picks among the viewers' names sorted, where StoHtmlHelp comes before WinHelp;
    // the pick must reach the viewer of that name, not the one registered at that place.
    void tableOfContentsRouting()
    {
        Rig rig;
        QVERIFY(rig.manager.ShowTableOfContents());
        QCOMPARE(rig.Calls().size(), 1u);
        QCOMPARE(rig.Calls()[0].command, kHhDisplayToc);
        QCOMPARE(rig.Viewer().TableOfContents({"Alfa", "StoHtmlHelp", "WinHelp"}), 1);
        QCOMPARE(rig.Viewer().TableOfContents({"WinHelp"}), -1);
    }

    void keywordAndTopicRouting()
    {
        Rig rig;
        QVERIFY(rig.manager.ShowHelp(QStringLiteral("  abc "), QStringLiteral("GestIB.chm")));
        QVERIFY(rig.manager.ShowTopicHelp(QStringLiteral("intro"), QStringLiteral("GestIB.chm")));
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(Text(rig.Calls()[0]), QStringLiteral("abc"));
        QCOMPARE(rig.Calls()[1].file, File("/opt/zendral/GestIB.chm::/intro.htm"));
    }

    // The entry point as the main window uses it: the button's contents command, and F1 through
    // the window's help key.
    void entryPoint()
    {
        auto record = std::make_shared<Record>();
        auto ayuda = std::make_unique<Ayuda>(*qApp, std::make_unique<RecordingEngine>(record));
        ayuda->EstablecerArchivo(QString::fromLatin1(zendral::kArchivoAyuda));
        const QString expected = QCoreApplication::applicationDirPath() + QStringLiteral("/GestIB.chm");

        QVERIFY(ayuda->HelpCommand(kHelpContents, 0));
        QCOMPARE(record->calls.size(), 1u);
        QCOMPARE(record->calls[0].command, kHhDisplayToc);
        QCOMPARE(record->calls[0].file, File(expected));

        QWidget window;
        auto* inner = new QWidget(&window);
        auto* deeper = new QWidget(inner);
        auto* other = new QWidget(&window);
        // A window of its own inside the main window, as a dialog is.
        auto* dialog = new QWidget(&window, Qt::Dialog);
        window.setProperty(zendral::kPropiedadContexto, 1);
        inner->setProperty(zendral::kPropiedadContexto, 7);
        zendral::InstalarTeclaAyuda(window, *ayuda);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // The widget with the focus chooses the context: its own, else its nearest parent's.
        other->setFocus();
        QTest::keyClick(other, Qt::Key_F1);
        deeper->setFocus();
        QTest::keyClick(deeper, Qt::Key_F1);
        QTest::keyClick(deeper, Qt::Key_F1, Qt::ShiftModifier);
        QCOMPARE(record->calls.size(), 3u);
        QCOMPARE(record->calls[1].command, kHhHelpContext);
        QCOMPARE(record->calls[1].file, File(expected));
        QCOMPARE(Number(record->calls[1]), quintptr{1});
        QCOMPARE(Number(record->calls[2]), quintptr{7});
        // The dialog does not borrow its owner's context.
        dialog->show();
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QTest::keyClick(dialog, Qt::Key_F1);
        QCOMPARE(record->calls.size(), 3u);

        ayuda.reset();
        QVERIFY(record->engineDestroyed);
    }

    void activeWindowHelpFile()
    {
        auto record = std::make_shared<Record>();
        Ayuda ayuda(*qApp, std::make_unique<RecordingEngine>(record));
        ayuda.EstablecerArchivo(QStringLiteral("GestIB.chm"));
        QWidget form;
        SetFormHelpFile(&form, QStringLiteral("/srv/Propia.chm"));
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QVERIFY(ayuda.ContextHelp(1));
        SetFormHelpFile(&form, QString());
        QVERIFY(ayuda.ShowTableOfContents());
        QCOMPARE(record->calls.size(), 2u);
        QCOMPARE(record->calls[0].file, File("/srv/Propia.chm"));
        QCOMPARE(record->calls[1].file,
                 File(QCoreApplication::applicationDirPath() + QStringLiteral("/GestIB.chm")));
    }
};

QTEST_MAIN(StoHtmlHelpTest)
#include "StoHtmlHelpTest.moc"
