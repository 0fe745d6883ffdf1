#include "ChmEngine.h"

#include "ChmWindow.h"

#include <QFileInfo>

namespace zendral::help
{
namespace
{

QString Key(const QString& chmPath) { return QFileInfo(chmPath).absoluteFilePath(); }

} // namespace

ChmEngine::ChmEngine() = default;

ChmEngine::~ChmEngine() = default;

ChmWindow* ChmEngine::WindowFor(const QString& chmPath) const
{
    const auto it = m_windows.find(Key(chmPath));
    return it != m_windows.end() ? it->second.get() : nullptr;
}

ChmWindow& ChmEngine::Window(const QString& chmPath)
{
    std::unique_ptr<ChmWindow>& window = m_windows[Key(chmPath)];
    // A file that was missing before may be there now.
    if (!window || !window->IsOpen()) {
        window = std::make_unique<ChmWindow>(chmPath);
    }
    return *window;
}

void ChmEngine::HtmlHelp(const HtmlHelpCall& call)
{
    if (call.command == kHhCloseAll) {
        m_windows.clear();
        return;
    }
    if (!call.file || call.file->isEmpty()) {
        return;
    }
    QString chmPath = *call.file;
    QString topic;
    if (call.command == kHhDisplayTopic) {
        const qsizetype separator = chmPath.indexOf(QLatin1String("::"));
        if (separator >= 0) {
            topic = chmPath.mid(separator + 2);
            chmPath.truncate(separator);
        }
    }
    const quintptr number = std::holds_alternative<quintptr>(call.data) ? std::get<quintptr>(call.data) : 0;
    const QString text =
        std::holds_alternative<QString>(call.data) ? std::get<QString>(call.data) : QString();

    ChmWindow* window = nullptr;
    switch (call.command) {
    case kHhDisplayTopic:
        window = &Window(chmPath);
        window->ShowTopic(topic);
        break;
    case kHhDisplayToc:
        window = &Window(chmPath);
        window->ShowContents();
        break;
    case kHhDisplayIndex:
        window = &Window(chmPath);
        window->ShowIndex(text);
        break;
    case kHhHelpContext:
        window = &Window(chmPath);
        window->ShowContext(static_cast<quint32>(number));
        break;
    default:
        return;
    }
    window->SetOwner(call.owner);
    window->Present();
}

} // namespace zendral::help
