#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

// The application's help system: viewers register with a help manager, which routes every help
// request to a viewer that accepts it.
namespace zendral::help
{

// What a registered viewer may ask of the manager.
class IHelpManager
{
public:
    // The help file given with the request in progress (or the last one).
    virtual QString GetHelpFile() const = 0;
    // The window that owns the help the viewer shows.
    virtual QWidget* GetHandle() const = 0;
    // Forgets the viewer registered under this ID.
    virtual void Release(int viewerId) = 0;

protected:
    ~IHelpManager() = default;
};

class ICustomHelpViewer
{
public:
    virtual ~ICustomHelpViewer() = default;
    virtual QString GetViewerName() = 0;
    // How many help strings the viewer has for the keyword; 0 declines it.
    virtual int UnderstandsKeyword(const QString& keyword) = 0;
    virtual QStringList GetHelpStrings(const QString& keyword) = 0;
    virtual bool CanShowTableOfContents() = 0;
    virtual void ShowTableOfContents() = 0;
    // Shows one of the strings GetHelpStrings returned.
    virtual void ShowHelp(const QString& helpString) = 0;
    virtual void NotifyID(int viewerId) = 0;
    // Closes what the viewer shows; it stays registered.
    virtual void SoftShutDown() = 0;
    // The manager is going away: close everything and drop the manager.
    virtual void ShutDown() = 0;
};

class IExtendedHelpViewer
{
public:
    virtual ~IExtendedHelpViewer() = default;
    virtual bool UnderstandsTopic(const QString& topic) = 0;
    virtual void DisplayTopic(const QString& topic) = 0;
    virtual bool UnderstandsContext(int contextId, const QString& helpFileName) = 0;
    virtual void DisplayHelpByContext(int contextId, const QString& helpFileName) = 0;
};

// Picks one viewer when several could serve a request. Both return an index into the list, or
// -1 to pick none.
class IHelpSelector
{
public:
    virtual ~IHelpSelector() = default;
    virtual int SelectKeyword(const QStringList& keywords) = 0;
    virtual int TableOfContents(const QStringList& viewerNames) = 0;
};

// Lets a program keep the built-in WinHelp viewer away from requests it cannot serve.
class IWinHelpTester
{
public:
    virtual ~IWinHelpTester() = default;
    virtual bool CanShowALink(const QString& link, const QString& fileName) = 0;
    virtual bool CanShowTopic(const QString& topic, const QString& fileName) = 0;
    virtual bool CanShowContext(int context, const QString& fileName) = 0;
    virtual QStringList GetHelpStrings(const QString& link) = 0;
    virtual QString GetHelpPath() = 0;
    virtual QString GetDefaultHelpFile() = 0;
};

// The viewer every manager starts with. There is no WinHelp engine to drive, so it never shows
// anything; without a tester it accepts every request as the WinHelp viewer does, with a tester
// it accepts what the tester allows.
class WinHelpViewer final : public ICustomHelpViewer, public IExtendedHelpViewer
{
public:
    void SetTester(std::shared_ptr<IWinHelpTester> tester) { m_tester = std::move(tester); }
    IWinHelpTester* Tester() const { return m_tester.get(); }
    void SetHelpManager(IHelpManager* manager) { m_manager = manager; }

    QString GetViewerName() override;
    int UnderstandsKeyword(const QString& keyword) override;
    QStringList GetHelpStrings(const QString& keyword) override;
    bool CanShowTableOfContents() override;
    void ShowTableOfContents() override {}
    void ShowHelp(const QString&) override {}
    void NotifyID(int viewerId) override { m_viewerId = viewerId; }
    void SoftShutDown() override {}
    void ShutDown() override;

    bool UnderstandsTopic(const QString& topic) override;
    void DisplayTopic(const QString&) override {}
    bool UnderstandsContext(int contextId, const QString& helpFileName) override;
    void DisplayHelpByContext(int, const QString&) override {}

private:
    QString HelpFile() const;

    std::shared_ptr<IWinHelpTester> m_tester;
    IHelpManager* m_manager = nullptr;
    int m_viewerId = 0;
};

class HelpManager final : public IHelpManager
{
public:
    // Registers the built-in WinHelp viewer first.
    HelpManager();
    // Shuts down every viewer still registered.
    ~HelpManager();
    HelpManager(const HelpManager&) = delete;
    HelpManager& operator=(const HelpManager&) = delete;

    // Appends the viewer to the registration order and tells it its ID (1, 2, ...).
    IHelpManager* RegisterViewer(std::shared_ptr<ICustomHelpViewer> viewer);
    // The manager does not keep the selector alive.
    void AssignHelpSelector(std::weak_ptr<IHelpSelector> selector) { m_selector = std::move(selector); }
    WinHelpViewer& BuiltInWinHelpViewer() { return *m_winHelp; }
    // The owner window handed to the viewers; without one they get the active window.
    void SetHandle(QWidget* owner) { m_owner = owner; }
    void SetHelpFile(const QString& file) { m_helpFile = file; }

    QString GetHelpFile() const override { return m_helpFile; }
    QWidget* GetHandle() const override;
    void Release(int viewerId) override;

    // Each returns false when no viewer took the request.
    bool ShowContextHelp(int contextId, const QString& helpFile);
    bool ShowHelp(const QString& keyword, const QString& helpFile);
    bool ShowTopicHelp(const QString& topic, const QString& helpFile);
    bool ShowTableOfContents();
    void SoftShutDownViewers();

    std::size_t ViewerCount() const { return m_viewers.size(); }

private:
    struct Registered
    {
        int id;
        std::shared_ptr<ICustomHelpViewer> viewer;
    };

    std::vector<Registered> m_viewers;
    std::shared_ptr<WinHelpViewer> m_winHelp;
    std::weak_ptr<IHelpSelector> m_selector;
    QPointer<QWidget> m_owner;
    QString m_helpFile;
    int m_nextId = 1;
};

} // namespace zendral::help
