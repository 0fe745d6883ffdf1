#include "HelpSystem.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>

namespace zendral::help
{

QString WinHelpViewer::GetViewerName() { return QStringLiteral("WinHelp"); }

QString WinHelpViewer::HelpFile() const
{
    return m_manager != nullptr ? m_manager->GetHelpFile() : QString();
}

int WinHelpViewer::UnderstandsKeyword(const QString& keyword)
{
    if (!m_tester) {
        return 1;
    }
    return m_tester->CanShowALink(keyword, HelpFile()) ? 1 : 0;
}

QStringList WinHelpViewer::GetHelpStrings(const QString& keyword)
{
    return m_tester ? m_tester->GetHelpStrings(keyword) : QStringList{keyword};
}

bool WinHelpViewer::CanShowTableOfContents() { return true; }

void WinHelpViewer::ShutDown() { m_manager = nullptr; }

bool WinHelpViewer::UnderstandsTopic(const QString& topic)
{
    return !m_tester || m_tester->CanShowTopic(topic, HelpFile());
}

bool WinHelpViewer::UnderstandsContext(int contextId, const QString& helpFileName)
{
    return !m_tester || m_tester->CanShowContext(contextId, helpFileName);
}

HelpManager::HelpManager()
    : m_winHelp(std::make_shared<WinHelpViewer>())
{
    m_winHelp->SetHelpManager(RegisterViewer(m_winHelp));
}

HelpManager::~HelpManager()
{
    // A viewer may release itself from ShutDown; work on a copy.
    const std::vector<Registered> viewers = m_viewers;
    for (const Registered& r : viewers) {
        r.viewer->ShutDown();
    }
}

IHelpManager* HelpManager::RegisterViewer(std::shared_ptr<ICustomHelpViewer> viewer)
{
    const int id = m_nextId++;
    m_viewers.push_back({id, viewer});
    viewer->NotifyID(id);
    return this;
}

void HelpManager::Release(int viewerId)
{
    std::erase_if(m_viewers, [viewerId](const Registered& r) { return r.id == viewerId; });
}

QWidget* HelpManager::GetHandle() const
{
    if (m_owner) {
        return m_owner;
    }
    // A modal dialog comes first: a help window owned by anything else would be blocked by it.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        return modal;
    }
    return QApplication::activeWindow();
}

bool HelpManager::ShowContextHelp(int contextId, const QString& helpFile)
{
    m_helpFile = helpFile;
    const std::vector<Registered> viewers = m_viewers;
    for (const Registered& r : viewers) {
        auto* extended = dynamic_cast<IExtendedHelpViewer*>(r.viewer.get());
        if (extended != nullptr && extended->UnderstandsContext(contextId, helpFile)) {
            extended->DisplayHelpByContext(contextId, helpFile);
            return true;
        }
    }
    return false;
}

bool HelpManager::ShowTopicHelp(const QString& topic, const QString& helpFile)
{
    m_helpFile = helpFile;
    const std::vector<Registered> viewers = m_viewers;
    for (const Registered& r : viewers) {
        auto* extended = dynamic_cast<IExtendedHelpViewer*>(r.viewer.get());
        if (extended != nullptr && extended->UnderstandsTopic(topic)) {
            extended->DisplayTopic(topic);
            return true;
        }
    }
    return false;
}

bool HelpManager::ShowHelp(const QString& keyword, const QString& helpFile)
{
    m_helpFile = helpFile;
    QStringList strings;
    std::vector<std::shared_ptr<ICustomHelpViewer>> owners;
    for (const Registered& r : m_viewers) {
        if (r.viewer->UnderstandsKeyword(keyword) > 0) {
            for (const QString& s : r.viewer->GetHelpStrings(keyword)) {
                strings.append(s);
                owners.push_back(r.viewer);
            }
        }
    }
    if (strings.isEmpty()) {
        return false;
    }
    int chosen = 0;
    if (strings.size() > 1) {
        if (const std::shared_ptr<IHelpSelector> selector = m_selector.lock()) {
            chosen = selector->SelectKeyword(strings);
        }
    }
    if (chosen < 0 || chosen >= strings.size()) {
        return false;
    }
    owners[static_cast<std::size_t>(chosen)]->ShowHelp(strings[chosen]);
    return true;
}

bool HelpManager::ShowTableOfContents()
{
    std::vector<std::shared_ptr<ICustomHelpViewer>> able;
    for (const Registered& r : m_viewers) {
        if (r.viewer->CanShowTableOfContents()) {
            able.push_back(r.viewer);
        }
    }
    if (able.empty()) {
        return false;
    }
    std::shared_ptr<ICustomHelpViewer> chosen = able.front();
    const std::shared_ptr<IHelpSelector> selector = m_selector.lock();
    if (able.size() > 1 && selector) {
        QStringList names;
        for (const auto& v : able) {
            names.append(v->GetViewerName());
        }
        names.sort(Qt::CaseInsensitive);
        const int index = selector->TableOfContents(names);
        if (index < 0 || index >= names.size()) {
            return false;
        }
        const auto it = std::find_if(able.begin(), able.end(),
                                     [&](const auto& v) { return v->GetViewerName() == names[index]; });
        if (it == able.end()) {
            return false;
        }
        chosen = *it;
    }
    chosen->ShowTableOfContents();
    return true;
}

void HelpManager::SoftShutDownViewers()
{
    const std::vector<Registered> viewers = m_viewers;
    for (const Registered& r : viewers) {
        r.viewer->SoftShutDown();
    }
}

} // namespace zendral::help
