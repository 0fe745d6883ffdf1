#pragma once

#include <QString>
#include <QtGlobal>
#include <memory>

class QApplication;
class QWidget;

// The program's help, in one place: create an Ayuda in main() right after the QApplication and
// before the main window; the requests below then reach "GestIB.chm" through the help system.
// Windows route F1 to it with InstalarTeclaAyuda and an AyudaChm (AyudaAplicacion.h, AyudaChm.h).
namespace zendral::help
{

class HelpManager;
class HtmlHelpEngine;
class StoHtmlHelp;

// Help commands a window issues, with their classic values.
inline constexpr unsigned kHelpContext = 1;  // data: the context number
inline constexpr unsigned kHelpQuit = 2;     // closes every help window
inline constexpr unsigned kHelpContents = 3; // data: 0

// Start-up registration of the help viewer while it lives, exit when it is destroyed. One at a time.
class Ayuda final
{
public:
    explicit Ayuda(QApplication& application);
    // The same with another engine in place of the platform's; null shows nothing.
    Ayuda(QApplication& application, std::unique_ptr<HtmlHelpEngine> engine);
    ~Ayuda();
    Ayuda(const Ayuda&) = delete;
    Ayuda& operator=(const Ayuda&) = delete;

    // The one that lives now, or null.
    static Ayuda* Instancia();

    // The application's help file; a name without a directory is looked for beside the executable.
    void SetHelpFile(const QString& file);
    QString HelpFile() const { return m_helpFile; }
    // The active window's own help file when it has one, otherwise the application's.
    QString CurrentHelpFile() const;

    // Each returns false when no viewer took the request.
    bool ContextHelp(int context);
    bool ShowTableOfContents();
    bool KeywordHelp(const QString& keyword);
    bool TopicHelp(const QString& topic);
    bool HelpCommand(unsigned command, quintptr data);

    HelpManager& Manager() { return *m_manager; }
    StoHtmlHelp& Module() { return *m_module; }

private:
    class Application;

    QString m_helpFile;
    std::unique_ptr<Application> m_application;
    std::unique_ptr<HelpManager> m_manager;
    std::unique_ptr<StoHtmlHelp> m_module;
};

// Shortcuts to Ayuda::Instancia(); without one they do nothing and return false.
void SetHelpFile(const QString& file);
bool ContextHelp(int context);
bool ShowTableOfContents();
bool HelpCommand(unsigned command, quintptr data);

// A window's own help file, used instead of the application's while that window is active.
void SetFormHelpFile(QWidget* window, const QString& file);

} // namespace zendral::help
