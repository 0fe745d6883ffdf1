#pragma once

#include "HtmlHelpEngine.h"

#include <QString>
#include <map>
#include <memory>

namespace zendral::help
{

class ChmWindow;

// The HTML Help engine where the platform has none: one help window per help file, showing the
// file with chmlib. Unknown commands are ignored, as the engine's answer is never read.
class ChmEngine final : public HtmlHelpEngine
{
public:
    ChmEngine();
    ~ChmEngine() override;

    void HtmlHelp(const HtmlHelpCall& call) override;

    // The window of a help file, or null when none is open.
    ChmWindow* WindowFor(const QString& chmPath) const;
    std::size_t WindowCount() const { return m_windows.size(); }

private:
    ChmWindow& Window(const QString& chmPath);

    std::map<QString, std::unique_ptr<ChmWindow>> m_windows;
};

} // namespace zendral::help
