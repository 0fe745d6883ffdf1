#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <variant>

class QWidget;

namespace zendral::help
{

// Commands of the HTML Help engine, with the values HtmlHelpA takes.
inline constexpr unsigned kHhDisplayTopic = 0x00;
inline constexpr unsigned kHhDisplayToc = 0x01;
inline constexpr unsigned kHhDisplayIndex = 0x02;
inline constexpr unsigned kHhHelpContext = 0x0F;
inline constexpr unsigned kHhCloseAll = 0x12;
inline constexpr unsigned kHhGetLastError = 0x14;

// One call HtmlHelpA(owner, file, command, data). The file is absent when the call passes no file
// at all (HH_CLOSE_ALL); for HH_DISPLAY_TOPIC it is "file.chm::/topic.htm". The data is a number,
// or the keyword text for HH_DISPLAY_INDEX.
struct HtmlHelpCall
{
    QWidget* owner = nullptr;
    std::optional<QString> file;
    unsigned command = 0;
    std::variant<quintptr, QString> data = quintptr{0};
};

// The engine behind the help viewer. The engine's answer is never looked at, so the call returns
// nothing.
class HtmlHelpEngine
{
public:
    virtual ~HtmlHelpEngine() = default;
    virtual void HtmlHelp(const HtmlHelpCall& call) = 0;
};

// Loads the platform's engine: HtmlHelpA of "HHCtrl.ocx" on Windows, the chmlib viewer of our own
// elsewhere. Null when the library or its entry point is missing; the library is unloaded when the
// engine is destroyed.
std::unique_ptr<HtmlHelpEngine> LoadHtmlHelpEngine();

} // namespace zendral::help
