// The viewer's answers and actions, and the help system's routing, against an engine that only
// records what it is asked.
#include "help/StoHtmlHelp.h"

#include "help/Ayuda.h"
#include "help/HelpSystem.h"

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <memory>
#include <vector>

using namespace zendral::help;

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

// A viewer that can show a table of contents and counts how often it was asked to.
class CountingViewer final : public ICustomHelpViewer
{
public:
    explicit CountingViewer(QString name)
        : m_name(std::move(name))
    {
    }
    QString GetViewerName() override { return m_name; }
    int UnderstandsKeyword(const QString&) override { return 0; }
    QStringList GetHelpStrings(const QString&) override { return {}; }
    bool CanShowTableOfContents() override { return true; }
    void ShowTableOfContents() override { ++tocShown; }
    void ShowHelp(const QString&) override {}
    void NotifyID(int) override {}
    void SoftShutDown() override {}
    void ShutDown() override {}

    int tocShown = 0;

private:
    QString m_name;
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

QString Text(const HtmlHelpCall& call) { return std::get<QString>(call.data); }
quintptr Number(const HtmlHelpCall& call) { return std::get<quintptr>(call.data); }

} // namespace

class StoHtmlHelpTest : public QObject
{
    Q_OBJECT

private slots:
    void helpStrings_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "abc"
                               << "StoHtmlHelp: abc";
        QTest::newRow("empty") << ""
                               << "StoHtmlHelp: ";
        QTest::newRow("placeholders are text") << "%1 y %2"
                                               << "StoHtmlHelp: %1 y %2";
    }
    void helpStrings()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, expected);
        Rig rig;
        QCOMPARE(rig.Viewer().GetHelpStrings(keyword), QStringList{expected});
    }

    void isChm_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("chm");
        QTest::newRow("name") << "GestIB.chm" << true;
        QTest::newRow("upper case") << "GESTIB.CHM" << true;
        QTest::newRow("mixed case") << "ayuda.Chm" << true;
        QTest::newRow("only the extension") << ".chm" << true;
        QTest::newRow("windows path") << "C:\\Ayuda\\GestIB.chm" << true;
        QTest::newRow("backup") << "help.chm.bak" << false;
        QTest::newRow("no dot") << "help" << false;
        QTest::newRow("longer extension") << "ayuda.chmx" << false;
        QTest::newRow("folder named .chm") << "/srv/a.chm/help" << false;
        QTest::newRow("winhelp") << "GestIB.hlp" << false;
        QTest::newRow("empty") << "" << false;
    }
    // The help file decides the keyword and topic answers; the file given with a context request
    // decides the context answer.
    void isChm()
    {
        QFETCH(QString, file);
        QFETCH(bool, chm);
        Rig rig(file);
        TStoHtmlHelpViewer& viewer = rig.Viewer();
        QCOMPARE(viewer.UnderstandsKeyword(QStringLiteral("x")), chm ? 1 : 0);
        QCOMPARE(viewer.UnderstandsTopic(QStringLiteral("x")), chm);
        QCOMPARE(viewer.UnderstandsContext(1, file), chm);
        QVERIFY(viewer.CanShowTableOfContents());

        Rig other(QStringLiteral("otra.hlp"));
        QCOMPARE(other.Viewer().UnderstandsContext(1, file), chm);
    }

    void requestsWithoutChmDoNothing()
    {
        Rig rig(QStringLiteral("GestIB.hlp"));
        TStoHtmlHelpViewer& viewer = rig.Viewer();
        viewer.ShowTableOfContents();
        viewer.ShowHelp(QStringLiteral("StoHtmlHelp: abc"));
        viewer.DisplayTopic(QStringLiteral("intro"));
        viewer.DisplayHelpByContext(1, QStringLiteral("GestIB.chm"));
        QCOMPARE(rig.Calls().size(), 0u);
    }

    void keyword_data()
    {
        QTest::addColumn<QString>("helpString");
        QTest::addColumn<QString>("expected");
        QTest::newRow("own help string") << "StoHtmlHelp: abc"
                                         << "abc";
        QTest::newRow("other prefix") << "abc: def"
                                      << "def";
        QTest::newRow("only the first colon goes") << "a:b: c"
                                                   << "b: c";
        QTest::newRow("no colon, trimmed") << "  sin dos puntos \t"
                                           << "sin dos puntos";
        QTest::newRow("nothing after the colon") << "abc:"
                                                 << "";
        QTest::newRow("control characters trimmed") << QString::fromUtf8("\x01 x \x1f") << "x";
        QTest::newRow("no-break space kept")
            << QString::fromUtf8("a: x\u00a0") << QString::fromUtf8("x\u00a0");
    }
    void keyword()
    {
        QFETCH(QString, helpString);
        QFETCH(QString, expected);
        Rig rig;
        rig.Viewer().ShowHelp(helpString);
        QCOMPARE(rig.Calls().size(), 1u);
        const HtmlHelpCall& call = rig.Calls()[0];
        QCOMPARE(call.command, kHhDisplayIndex);
        QCOMPARE(call.file, std::optional<QString>(QStringLiteral("/opt/zendral/GestIB.chm")));
        QCOMPARE(Text(call), expected);
    }

    void topic_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("shown");
        QTest::newRow("no extension") << "intro"
                                      << "intro.htm";
        QTest::newRow("html upper case") << "intro.HTML"
                                         << "intro.HTML";
        QTest::newRow("htm mixed case") << "intro.Htm"
                                        << "intro.Htm";
        QTest::newRow("other extension") << "intro.txt"
                                         << "intro.txt.htm";
        QTest::newRow("html-like extension") << "intro.html5"
                                             << "intro.html5.htm";
        QTest::newRow("dot in a folder") << "temas.v2/intro"
                                         << "temas.v2/intro.htm";
        QTest::newRow("folder and htm") << "temas/intro.htm"
                                        << "temas/intro.htm";
    }
    void topic()
    {
        QFETCH(QString, topic);
        QFETCH(QString, shown);
        Rig rig;
        rig.Viewer().DisplayTopic(topic);
        QCOMPARE(rig.Calls().size(), 1u);
        const HtmlHelpCall& call = rig.Calls()[0];
        QCOMPARE(call.command, kHhDisplayTopic);
        QCOMPARE(call.file, std::optional<QString>(QStringLiteral("/opt/zendral/GestIB.chm::/") + shown));
        QCOMPARE(Number(call), quintptr{0});
    }

    void helpFile_data()
    {
        QTest::addColumn<QString>("managerFile");
        QTest::addColumn<QString>("applicationFile");
        QTest::addColumn<QString>("exeDir");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name only") << "GestIB.chm"
                                   << ""
                                   << "/opt/zendral"
                                   << "/opt/zendral/GestIB.chm";
        QTest::newRow("directory ends in a slash") << "GestIB.chm"
                                                   << ""
                                                   << "/opt/zendral/"
                                                   << "/opt/zendral/GestIB.chm";
        QTest::newRow("manager empty: application") << ""
                                                    << "GestIB.chm"
                                                    << "/opt/zendral"
                                                    << "/opt/zendral/GestIB.chm";
        QTest::newRow("manager wins") << "uno.chm"
                                      << "dos.chm"
                                      << "/opt"
                                      << "/opt/uno.chm";
        QTest::newRow("absolute unchanged") << "/srv/ayuda/GestIB.chm"
                                            << ""
                                            << "/opt"
                                            << "/srv/ayuda/GestIB.chm";
        QTest::newRow("relative with directory unchanged") << "ayuda/GestIB.chm"
                                                           << ""
                                                           << "/opt"
                                                           << "ayuda/GestIB.chm";
        QTest::newRow("windows path unchanged") << "C:\\Ayuda\\GestIB.chm"
                                                << ""
                                                << "/opt"
                                                << "C:\\Ayuda\\GestIB.chm";
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
        QCOMPARE(rig.Calls()[0].command, kHhDisplayToc);
        QCOMPARE(rig.Calls()[0].file, std::optional<QString>(expected));
    }

    void helpFileFoundForEveryRequest()
    {
        Rig rig{QString()};
        rig.Viewer().ShowTableOfContents();
        QCOMPARE(rig.Calls().size(), 0u);
        rig.application.helpFile = QStringLiteral("GestIB.chm");
        rig.Viewer().ShowTableOfContents();
        rig.application.helpFile = QStringLiteral("/otra/Ayuda.chm");
        rig.Viewer().ShowTableOfContents();
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(rig.Calls()[0].file, std::optional<QString>(QStringLiteral("/opt/zendral/GestIB.chm")));
        QCOMPARE(rig.Calls()[1].file, std::optional<QString>(QStringLiteral("/otra/Ayuda.chm")));
    }

    // The context number goes as data; the file given with the request is not the one shown.
    void contextNumberAndFile()
    {
        Rig rig;
        rig.Viewer().DisplayHelpByContext(1, QStringLiteral("/otro/sitio/Otro.chm"));
        rig.Viewer().DisplayHelpByContext(-1, QStringLiteral("Otro.chm"));
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(rig.Calls()[0].command, kHhHelpContext);
        QCOMPARE(rig.Calls()[0].file, std::optional<QString>(QStringLiteral("/opt/zendral/GestIB.chm")));
        QCOMPARE(Number(rig.Calls()[0]), quintptr{1});
        QCOMPARE(Number(rig.Calls()[1]), quintptr{0xFFFFFFFFu});
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
        QTest::newRow("second") << QStringList{"WinHelp: a", "StoHtmlHelp: a"} << 1;
        QTest::newRow("first of two") << QStringList{"StoHtmlHelp: a", "StoHtmlHelp: b"} << 0;
        QTest::newRow("no colon does not count") << QStringList{"x: a", "StoHtmlHelp"} << 0;
        QTest::newRow("letter case counts") << QStringList{"x: a", "stohtmlhelp: a"} << 0;
        QTest::newRow("text before the first colon")
            << QStringList{"A: StoHtmlHelp: b", "StoHtmlHelp: b"} << 1;
        QTest::newRow("empty list") << QStringList{} << 0;
    }
    void selectKeyword()
    {
        QFETCH(QStringList, strings);
        QFETCH(int, index);
        Rig rig;
        QCOMPARE(rig.Viewer().SelectKeyword(strings), index);
    }

    void selectTableOfContents_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("index");
        QTest::newRow("two viewers") << QStringList{"StoHtmlHelp", "WinHelp"} << 0;
        QTest::newRow("three viewers") << QStringList{"Alfa", "StoHtmlHelp", "WinHelp"} << 1;
        QTest::newRow("absent") << QStringList{"WinHelp"} << -1;
    }
    void selectTableOfContents()
    {
        QFETCH(QStringList, names);
        QFETCH(int, index);
        Rig rig;
        QCOMPARE(rig.Viewer().TableOfContents(names), index);
    }

    void registrationAndExit()
    {
        Rig rig;
        QCOMPARE(rig.manager.ViewerCount(), 2u);
        QCOMPARE(rig.Viewer().ViewerId(), 2);
        QVERIFY(rig.manager.BuiltInWinHelpViewer().Tester() != nullptr);
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

    void contextRouting()
    {
        Rig rig{QString()};
        QVERIFY(rig.manager.ShowContextHelp(1, QStringLiteral("GestIB.chm")));
        QCOMPARE(rig.Calls().size(), 1u);
        QCOMPARE(rig.Calls()[0].command, kHhHelpContext);
        QCOMPARE(Number(rig.Calls()[0]), quintptr{1});
        QCOMPARE(rig.Calls()[0].file, std::optional<QString>(QStringLiteral("/opt/zendral/GestIB.chm")));

        // Not a .chm: the WinHelp viewer declines through the tester, and so does StoHtmlHelp.
        QVERIFY(!rig.manager.ShowContextHelp(1, QStringLiteral("GestIB.hlp")));
        QCOMPARE(rig.Calls().size(), 1u);

        // Without the tester the WinHelp viewer, registered first, takes the request.
        rig.manager.BuiltInWinHelpViewer().SetTester(nullptr);
        QVERIFY(rig.manager.ShowContextHelp(1, QStringLiteral("GestIB.chm")));
        QCOMPARE(rig.Calls().size(), 1u);
    }

    // The selector's pick among sorted names must reach the viewer of that name, not the one at
    // that place in registration order.
    void tableOfContentsRouting()
    {
        FakeApplication application;
        HelpManager manager;
        auto first = std::make_shared<CountingViewer>(QStringLiteral("Alfa"));
        manager.RegisterViewer(first);
        auto record = std::make_shared<Record>();
        StoHtmlHelp module(manager, application, std::make_unique<RecordingEngine>(record));
        manager.SetHelpFile(QStringLiteral("GestIB.chm"));

        QVERIFY(manager.ShowTableOfContents());
        QCOMPARE(first->tocShown, 0);
        QCOMPARE(record->calls.size(), 1u);
        QCOMPARE(record->calls[0].command, kHhDisplayToc);
        QCOMPARE(Number(record->calls[0]), quintptr{0});
    }

    void keywordAndTopicRouting()
    {
        Rig rig;
        QVERIFY(rig.manager.ShowHelp(QStringLiteral("  abc "), QStringLiteral("GestIB.chm")));
        QVERIFY(rig.manager.ShowTopicHelp(QStringLiteral("intro"), QStringLiteral("GestIB.chm")));
        QCOMPARE(rig.Calls().size(), 2u);
        QCOMPARE(Text(rig.Calls()[0]), QStringLiteral("abc"));
        QCOMPARE(rig.Calls()[1].file,
                 std::optional<QString>(QStringLiteral("/opt/zendral/GestIB.chm::/intro.htm")));
    }

    // The entry point as the main window uses it: the button's contents command and F1.
    void entryPoint()
    {
        auto record = std::make_shared<Record>();
        auto ayuda = std::make_unique<Ayuda>(*qApp, std::make_unique<RecordingEngine>(record));
        QCOMPARE(Ayuda::Instancia(), ayuda.get());
        SetHelpFile(QStringLiteral("GestIB.chm"));
        const QString expected = QCoreApplication::applicationDirPath() + QStringLiteral("/GestIB.chm");

        QVERIFY(HelpCommand(kHelpContents, 0));
        QCOMPARE(record->calls.size(), 1u);
        QCOMPARE(record->calls[0].command, kHhDisplayToc);
        QCOMPARE(record->calls[0].file, std::optional<QString>(expected));

        QWidget window;
        auto* inner = new QWidget(&window);
        auto* deeper = new QWidget(inner);
        auto* plain = new QWidget;
        // A window of its own inside the main window, as a dialog is.
        auto* dialog = new QWidget(&window, Qt::Dialog);
        SetHelpContext(&window, 1);
        SetHelpContext(inner, 7);
        QTest::keyClick(&window, Qt::Key_F1);
        QTest::keyClick(deeper, Qt::Key_F1);
        QTest::keyClick(plain, Qt::Key_F1);
        QTest::keyClick(dialog, Qt::Key_F1);
        QTest::keyClick(&window, Qt::Key_F1, Qt::ShiftModifier);
        QCOMPARE(record->calls.size(), 3u);
        QCOMPARE(record->calls[1].command, kHhHelpContext);
        QCOMPARE(Number(record->calls[1]), quintptr{1});
        QCOMPARE(Number(record->calls[2]), quintptr{7});
        delete plain;

        ayuda.reset();
        QCOMPARE(Ayuda::Instancia(), nullptr);
        QVERIFY(record->engineDestroyed);
        QVERIFY(!ContextHelp(1));
    }

    void activeWindowHelpFile()
    {
        auto record = std::make_shared<Record>();
        Ayuda ayuda(*qApp, std::make_unique<RecordingEngine>(record));
        ayuda.SetHelpFile(QStringLiteral("GestIB.chm"));
        QWidget form;
        SetFormHelpFile(&form, QStringLiteral("/srv/Propia.chm"));
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QVERIFY(ayuda.ContextHelp(1));
        SetFormHelpFile(&form, QString());
        QVERIFY(ayuda.ShowTableOfContents());
        QCOMPARE(record->calls.size(), 2u);
        QCOMPARE(record->calls[0].file, std::optional<QString>(QStringLiteral("/srv/Propia.chm")));
        QCOMPARE(record->calls[1].file, std::optional<QString>(QCoreApplication::applicationDirPath() +
                                                               QStringLiteral("/GestIB.chm")));
    }
};

QTEST_MAIN(StoHtmlHelpTest)
#include "StoHtmlHelpTest.moc"
