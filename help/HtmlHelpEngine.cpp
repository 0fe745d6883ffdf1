#include "HtmlHelpEngine.h"

#ifdef _WIN32

#include <QDir>
#include <QWidget>
#include <windows.h>

namespace zendral::help
{
namespace
{

using HtmlHelpAFunction = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// HtmlHelpA of "HHCtrl.ocx", loaded for the life of the engine.
class WinHtmlHelpEngine final : public HtmlHelpEngine
{
public:
    WinHtmlHelpEngine(HMODULE library, HtmlHelpAFunction entry)
        : m_library(library)
        , m_entry(entry)
    {
    }
    ~WinHtmlHelpEngine() override { FreeLibrary(m_library); }
    WinHtmlHelpEngine(const WinHtmlHelpEngine&) = delete;
    WinHtmlHelpEngine& operator=(const WinHtmlHelpEngine&) = delete;

    void HtmlHelp(const HtmlHelpCall& call) override
    {
        HWND owner = call.owner != nullptr ? reinterpret_cast<HWND>(call.owner->window()->winId()) : nullptr;
        // Names and keywords go in the ANSI code page, as HtmlHelpA expects.
        const QByteArray file = call.file ? QDir::toNativeSeparators(*call.file).toLocal8Bit() : QByteArray();
        QByteArray text;
        DWORD_PTR data = 0;
        if (std::holds_alternative<QString>(call.data)) {
            text = std::get<QString>(call.data).toLocal8Bit();
            data = reinterpret_cast<DWORD_PTR>(text.constData());
        } else {
            data = static_cast<DWORD_PTR>(std::get<quintptr>(call.data));
        }
        m_entry(owner, call.file ? file.constData() : nullptr, call.command, data);
    }

private:
    HMODULE m_library;
    HtmlHelpAFunction m_entry;
};

} // namespace

std::unique_ptr<HtmlHelpEngine> LoadHtmlHelpEngine()
{
    HMODULE library = LoadLibraryA("HHCtrl.ocx");
    if (library == nullptr) {
        return nullptr;
    }
    // Through void(*)(), the generic function pointer type, as GetProcAddress's result has no
    // signature of its own.
    auto entry = reinterpret_cast<HtmlHelpAFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "HtmlHelpA")));
    if (entry == nullptr) {
        FreeLibrary(library);
        return nullptr;
    }
    return std::make_unique<WinHtmlHelpEngine>(library, entry);
}

} // namespace zendral::help

#else

#include "ChmEngine.h"

namespace zendral::help
{

std::unique_ptr<HtmlHelpEngine> LoadHtmlHelpEngine() { return std::make_unique<ChmEngine>(); }

} // namespace zendral::help

#endif
