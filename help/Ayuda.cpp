#include "Ayuda.h"

#include "HelpSystem.h"
#include "StoHtmlHelp.h"

#include <QApplication>
#include <QWidget>

namespace zendral::help
{
namespace
{

const char* const kHelpFileProperty = "helpFile";

} // namespace

// What the viewer asks of the program.
class Ayuda::Application final : public HelpApplication
{
public:
    explicit Application(const Ayuda& owner)
        : m_owner(owner)
    {
    }
    QString CurrentHelpFile() const override { return m_owner.CurrentHelpFile(); }
    QString ExecutableDir() const override { return QCoreApplication::applicationDirPath(); }

private:
    const Ayuda& m_owner;
};

Ayuda::Ayuda(QApplication& application)
    : Ayuda(application, LoadHtmlHelpEngine())
{
}

Ayuda::Ayuda(QApplication&, std::unique_ptr<HtmlHelpEngine> engine)
    : m_application(std::make_unique<Application>(*this))
    , m_manager(std::make_unique<HelpManager>())
    , m_module(std::make_unique<StoHtmlHelp>(*m_manager, *m_application, std::move(engine)))
{
}

Ayuda::~Ayuda()
{
    m_module.reset();
    m_manager.reset();
}

QString Ayuda::CurrentHelpFile() const
{
    if (const QWidget* active = QApplication::activeWindow()) {
        const QString own = active->property(kHelpFileProperty).toString();
        if (!own.isEmpty()) {
            return own;
        }
    }
    return Archivo();
}

bool Ayuda::ContextHelp(int context) { return m_manager->ShowContextHelp(context, CurrentHelpFile()); }

bool Ayuda::ShowTableOfContents()
{
    m_manager->SetHelpFile(CurrentHelpFile());
    return m_manager->ShowTableOfContents();
}

bool Ayuda::HelpCommand(unsigned command, quintptr data)
{
    switch (command) {
    case kHelpContext:
        return ContextHelp(static_cast<int>(data));
    case kHelpContents:
        return ShowTableOfContents();
    case kHelpQuit:
        m_manager->SoftShutDownViewers();
        return true;
    default:
        return false;
    }
}

void SetFormHelpFile(QWidget* window, const QString& file)
{
    window->setProperty(kHelpFileProperty, file.isEmpty() ? QVariant() : QVariant(file));
}

} // namespace zendral::help
