#include "StoHtmlHelp.h"

namespace zendral::help
{
namespace
{

// Removes leading and trailing characters up to and including the blank, control characters
// included (QString::trimmed would also take U+00A0 and keep U+0001).
QString TrimBlanks(const QString& s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s[begin].unicode() <= u' ') {
        ++begin;
    }
    while (end > begin && s[end - 1].unicode() <= u' ') {
        --end;
    }
    return s.mid(begin, end - begin);
}

bool HasDirectory(const QString& file)
{
#ifdef _WIN32
    // "C:GestIB.chm" names a drive, so it has a directory part too.
    return file.contains(u'/') || file.contains(u'\\') || file.contains(u':');
#else
    return file.contains(u'/') || file.contains(u'\\');
#endif
}

// The extension as a file name has it: from the last "." that follows the last separator.
QString Extension(const QString& name)
{
    for (qsizetype i = name.size() - 1; i >= 0; --i) {
        const QChar c = name[i];
        if (c == u'.') {
            return name.mid(i);
        }
        if (c == u'/' || c == u'\\' || c == u':') {
            break;
        }
    }
    return {};
}

} // namespace

bool IsChm(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && name.mid(dot).compare(QLatin1String(".chm"), Qt::CaseInsensitive) == 0;
}

TStoHtmlHelpViewer::TStoHtmlHelpViewer(std::unique_ptr<HtmlHelpEngine> engine,
                                       const HelpApplication& application)
    : m_engine(std::move(engine))
    , m_application(application)
    , m_viewerName(QString::fromLatin1(kViewerName))
    , m_defaultExtension(QStringLiteral(".htm"))
{
}

TStoHtmlHelpViewer::~TStoHtmlHelpViewer() = default;

QString TStoHtmlHelpViewer::HelpFile() const
{
    QString file = m_helpManager != nullptr ? m_helpManager->GetHelpFile() : QString();
    if (file.isEmpty()) {
        file = m_application.CurrentHelpFile();
    }
    if (!file.isEmpty() && !HasDirectory(file)) {
        QString dir = m_application.ExecutableDir();
        if (!dir.isEmpty() && !dir.endsWith(u'/') && !dir.endsWith(u'\\')) {
            dir += u'/';
        }
        file = dir + file;
    }
    return file;
}

void TStoHtmlHelpViewer::CallHtmlHelp(const QString& file, unsigned command,
                                      std::variant<quintptr, QString> data)
{
    if (!m_engine || command == kHhGetLastError) {
        return;
    }
    HtmlHelpCall call;
    call.command = command;
    call.data = std::move(data);
    if (command != kHhCloseAll) {
        call.owner = m_helpManager != nullptr ? m_helpManager->GetHandle() : nullptr;
        call.file = file;
    }
    m_engine->HtmlHelp(call);
}

QString TStoHtmlHelpViewer::GetViewerName() { return m_viewerName; }

int TStoHtmlHelpViewer::UnderstandsKeyword(const QString&) { return IsChm(HelpFile()) ? 1 : 0; }

QStringList TStoHtmlHelpViewer::GetHelpStrings(const QString& keyword)
{
    return {QStringLiteral("%1: %2").arg(m_viewerName, keyword)};
}

bool TStoHtmlHelpViewer::CanShowTableOfContents() { return true; }

void TStoHtmlHelpViewer::ShowTableOfContents()
{
    const QString file = HelpFile();
    if (IsChm(file)) {
        CallHtmlHelp(file, kHhDisplayToc, quintptr{0});
    }
}

void TStoHtmlHelpViewer::ShowHelp(const QString& helpString)
{
    const QString file = HelpFile();
    if (!IsChm(file)) {
        return;
    }
    const qsizetype colon = helpString.indexOf(u':');
    const QString keyword = TrimBlanks(colon >= 0 ? helpString.mid(colon + 1) : helpString);
    CallHtmlHelp(file, kHhDisplayIndex, keyword);
}

void TStoHtmlHelpViewer::NotifyID(int viewerId) { m_viewerId = viewerId; }

void TStoHtmlHelpViewer::SoftShutDown() { CallHtmlHelp(QString(), kHhCloseAll, quintptr{0}); }

void TStoHtmlHelpViewer::ShutDown()
{
    SoftShutDown();
    m_helpManager = nullptr;
}

bool TStoHtmlHelpViewer::UnderstandsTopic(const QString&) { return IsChm(HelpFile()); }

void TStoHtmlHelpViewer::DisplayTopic(const QString& topic)
{
    const QString file = HelpFile();
    if (!IsChm(file)) {
        return;
    }
    QString page = topic;
    const QString extension = Extension(topic);
    if (extension.compare(QLatin1String(".htm"), Qt::CaseInsensitive) != 0 &&
        extension.compare(QLatin1String(".html"), Qt::CaseInsensitive) != 0) {
        page += m_defaultExtension;
    }
    CallHtmlHelp(file + QStringLiteral("::/") + page, kHhDisplayTopic, quintptr{0});
}

bool TStoHtmlHelpViewer::UnderstandsContext(int, const QString& helpFileName) { return IsChm(helpFileName); }

void TStoHtmlHelpViewer::DisplayHelpByContext(int contextId, const QString&)
{
    const QString file = HelpFile();
    if (IsChm(file)) {
        // The engine takes the number as an unsigned 32-bit value.
        CallHtmlHelp(file, kHhHelpContext, quintptr{static_cast<quint32>(contextId)});
    }
}

int TStoHtmlHelpViewer::SelectKeyword(const QStringList& keywords)
{
    for (qsizetype i = 0; i < keywords.size(); ++i) {
        const qsizetype colon = keywords[i].indexOf(u':');
        if (colon >= 0 && keywords[i].left(colon) == m_viewerName) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

int TStoHtmlHelpViewer::TableOfContents(const QStringList& viewerNames)
{
    return static_cast<int>(viewerNames.indexOf(m_viewerName));
}

QStringList TStoWinHelpTester::GetHelpStrings(const QString& link) { return {QStringLiteral(": ") + link}; }

StoHtmlHelp::StoHtmlHelp(HelpManager& manager, const HelpApplication& application,
                         std::unique_ptr<HtmlHelpEngine> engine)
    : m_viewer(std::make_shared<TStoHtmlHelpViewer>(std::move(engine), application))
{
    m_viewer->SetHelpManager(manager.RegisterViewer(m_viewer));
    manager.AssignHelpSelector(m_viewer);
    manager.BuiltInWinHelpViewer().SetTester(std::make_shared<TStoWinHelpTester>());
}

StoHtmlHelp::~StoHtmlHelp()
{
    if (IHelpManager* manager = m_viewer->HelpManager()) {
        manager->Release(m_viewer->ViewerId());
        m_viewer->SetHelpManager(nullptr);
    }
}

} // namespace zendral::help
