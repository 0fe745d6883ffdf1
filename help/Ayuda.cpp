#include "Ayuda.h"

#include "HelpSystem.h"
#include "StoHtmlHelp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <cassert>

namespace zendral::help
{
namespace
{

const char* const kHelpContextProperty = "helpContext";
const char* const kHelpFileProperty = "helpFile";

Ayuda* s_instance = nullptr;

} // namespace

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

// Turns F1 into context help for widgets that carry a help context.
class Ayuda::F1Filter final : public QObject
{
public:
    explicit F1Filter(Ayuda& owner)
        : m_owner(owner)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) {
            return false;
        }
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) {
            return false;
        }
        // The search stops at the window: a dialog does not borrow its owner's context.
        for (auto* w = static_cast<QWidget*>(watched); w != nullptr;
             w = w->isWindow() ? nullptr : w->parentWidget()) {
            const int context = w->property(kHelpContextProperty).toInt();
            if (context != 0) {
                m_owner.ContextHelp(context);
                return true;
            }
        }
        return false;
    }

private:
    Ayuda& m_owner;
};

Ayuda::Ayuda(QApplication& application)
    : Ayuda(application, LoadHtmlHelpEngine())
{
}

Ayuda::Ayuda(QApplication& application, std::unique_ptr<HtmlHelpEngine> engine)
    : m_application(std::make_unique<Application>(*this))
    , m_manager(std::make_unique<HelpManager>())
    , m_module(std::make_unique<StoHtmlHelp>(*m_manager, *m_application, std::move(engine)))
    , m_f1(std::make_unique<F1Filter>(*this))
{
    assert(s_instance == nullptr);
    s_instance = this;
    application.installEventFilter(m_f1.get());
}

Ayuda::~Ayuda()
{
    m_f1.reset();
    m_module.reset();
    m_manager.reset();
    s_instance = nullptr;
}

Ayuda* Ayuda::Instancia() { return s_instance; }

void Ayuda::SetHelpFile(const QString& file) { m_helpFile = file; }

QString Ayuda::CurrentHelpFile() const
{
    if (const QWidget* active = QApplication::activeWindow()) {
        const QString own = active->property(kHelpFileProperty).toString();
        if (!own.isEmpty()) {
            return own;
        }
    }
    return m_helpFile;
}

bool Ayuda::ContextHelp(int context) { return m_manager->ShowContextHelp(context, CurrentHelpFile()); }

bool Ayuda::ShowTableOfContents()
{
    m_manager->SetHelpFile(CurrentHelpFile());
    return m_manager->ShowTableOfContents();
}

bool Ayuda::KeywordHelp(const QString& keyword) { return m_manager->ShowHelp(keyword, CurrentHelpFile()); }

bool Ayuda::TopicHelp(const QString& topic) { return m_manager->ShowTopicHelp(topic, CurrentHelpFile()); }

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

void SetHelpFile(const QString& file)
{
    if (Ayuda* ayuda = Ayuda::Instancia()) {
        ayuda->SetHelpFile(file);
    }
}

bool ContextHelp(int context)
{
    Ayuda* ayuda = Ayuda::Instancia();
    return ayuda != nullptr && ayuda->ContextHelp(context);
}

bool ShowTableOfContents()
{
    Ayuda* ayuda = Ayuda::Instancia();
    return ayuda != nullptr && ayuda->ShowTableOfContents();
}

bool HelpCommand(unsigned command, quintptr data)
{
    Ayuda* ayuda = Ayuda::Instancia();
    return ayuda != nullptr && ayuda->HelpCommand(command, data);
}

void SetHelpContext(QWidget* widget, int context)
{
    widget->setProperty(kHelpContextProperty, context == 0 ? QVariant() : QVariant(context));
}

void SetFormHelpFile(QWidget* window, const QString& file)
{
    window->setProperty(kHelpFileProperty, file.isEmpty() ? QVariant() : QVariant(file));
}

} // namespace zendral::help
