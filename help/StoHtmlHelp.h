#pragma once

#include "HelpSystem.h"
#include "HtmlHelpEngine.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace zendral::help
{

inline constexpr const char* kViewerName = "StoHtmlHelp";

// What the viewer needs of the application.
class HelpApplication
{
public:
    virtual ~HelpApplication() = default;
    // The active form's help file when it has one, otherwise the application's.
    virtual QString CurrentHelpFile() const = 0;
    // The directory of the program's executable.
    virtual QString ExecutableDir() const = 0;
};

// ".chm" after the last "." of the name, in any letter case.
bool IsChm(const QString& name);

// Shows ".chm" files through the HTML Help engine; also the help system's selector.
class TStoHtmlHelpViewer final : public ICustomHelpViewer, public IExtendedHelpViewer, public IHelpSelector
{
public:
    // A null engine is accepted: the viewer then answers requests but shows nothing.
    TStoHtmlHelpViewer(std::unique_ptr<HtmlHelpEngine> engine, const HelpApplication& application);
    ~TStoHtmlHelpViewer() override;
    TStoHtmlHelpViewer(const TStoHtmlHelpViewer&) = delete;
    TStoHtmlHelpViewer& operator=(const TStoHtmlHelpViewer&) = delete;

    void SetHelpManager(IHelpManager* manager) { m_helpManager = manager; }
    IHelpManager* HelpManager() const { return m_helpManager; }
    int ViewerId() const { return m_viewerId; }
    HtmlHelpEngine* Engine() const { return m_engine.get(); }

    // The help file of the request in progress: the manager's, else the application's; a name
    // without a directory is taken from the executable's directory.
    QString HelpFile() const;

    QString GetViewerName() override;
    int UnderstandsKeyword(const QString& keyword) override;
    QStringList GetHelpStrings(const QString& keyword) override;
    bool CanShowTableOfContents() override;
    void ShowTableOfContents() override;
    void ShowHelp(const QString& helpString) override;
    void NotifyID(int viewerId) override;
    void SoftShutDown() override;
    void ShutDown() override;

    bool UnderstandsTopic(const QString& topic) override;
    void DisplayTopic(const QString& topic) override;
    bool UnderstandsContext(int contextId, const QString& helpFileName) override;
    void DisplayHelpByContext(int contextId, const QString& helpFileName) override;

    int SelectKeyword(const QStringList& keywords) override;
    int TableOfContents(const QStringList& viewerNames) override;

    // Every request ends here: nothing without an engine, HH_GET_LAST_ERROR never, HH_CLOSE_ALL
    // without owner or file, any other command with the manager's owner window and the file.
    void CallHtmlHelp(const QString& file, unsigned command, std::variant<quintptr, QString> data);

private:
    std::unique_ptr<HtmlHelpEngine> m_engine;
    const HelpApplication& m_application;
    IHelpManager* m_helpManager = nullptr;
    int m_viewerId = 0;
    QString m_viewerName;
    QString m_defaultExtension;
};

// Makes the built-in WinHelp viewer decline every request.
class TStoWinHelpTester final : public IWinHelpTester
{
public:
    bool CanShowALink(const QString&, const QString&) override { return false; }
    bool CanShowTopic(const QString&, const QString&) override { return false; }
    bool CanShowContext(int, const QString&) override { return false; }
    QStringList GetHelpStrings(const QString& link) override;
    QString GetHelpPath() override { return {}; }
    QString GetDefaultHelpFile() override { return {}; }
};

// The viewer's life in the program: the constructor registers it (viewer, selector, tester), the
// destructor takes it out again and unloads the engine.
class StoHtmlHelp
{
public:
    StoHtmlHelp(HelpManager& manager, const HelpApplication& application,
                std::unique_ptr<HtmlHelpEngine> engine);
    ~StoHtmlHelp();
    StoHtmlHelp(const StoHtmlHelp&) = delete;
    StoHtmlHelp& operator=(const StoHtmlHelp&) = delete;

    TStoHtmlHelpViewer& Viewer() { return *m_viewer; }

private:
    std::shared_ptr<TStoHtmlHelpViewer> m_viewer;
};

} // namespace zendral::help
