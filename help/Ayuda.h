#pragma once

#include "AyudaAplicacion.h"

#include <QString>
#include <QtGlobal>
#include <memory>

class QApplication;
class QWidget;

// The program's help: create an Ayuda in main() right after the QApplication and before the main
// window, and hand it to the windows as their AyudaAplicacion. Their requests then reach
// "GestIB.chm" through the help system, where StoHtmlHelp is registered while the Ayuda lives.
namespace zendral::help
{

class HelpManager;
class HtmlHelpEngine;
class StoHtmlHelp;

// Help commands a window issues, with their classic values.
inline constexpr unsigned kHelpContext = 1;  // data: the context number
inline constexpr unsigned kHelpQuit = 2;     // closes every help window
inline constexpr unsigned kHelpContents = 3; // data: 0

// Start-up registration of the help viewer while it lives, exit when it is destroyed. F1 asks for
// the context, the help button for the contents (HELP_CONTENTS).
class Ayuda final : public AyudaAplicacion
{
public:
    explicit Ayuda(QApplication& application);
    // The same with another engine in place of the platform's; null shows nothing.
    Ayuda(QApplication& application, std::unique_ptr<HtmlHelpEngine> engine);
    ~Ayuda() override;
    Ayuda(const Ayuda&) = delete;
    Ayuda& operator=(const Ayuda&) = delete;

    void Contexto(int contexto) override { ContextHelp(contexto); }
    void Contenido() override { HelpCommand(kHelpContents, 0); }

    // The active window's own help file when it has one, otherwise the application's (Archivo()).
    QString CurrentHelpFile() const;

    // Each returns false when no viewer took the request.
    bool ContextHelp(int context);
    bool ShowTableOfContents();
    bool HelpCommand(unsigned command, quintptr data);

private:
    class Application;

    std::unique_ptr<Application> m_application;
    std::unique_ptr<HelpManager> m_manager;
    std::unique_ptr<StoHtmlHelp> m_module;
};

// A window's own help file, used instead of the application's while that window is active.
void SetFormHelpFile(QWidget* window, const QString& file);

} // namespace zendral::help
