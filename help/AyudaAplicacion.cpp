#include "AyudaAplicacion.h"

#include <QApplication>
#include <QShortcut>
#include <QVariant>
#include <QWidget>

namespace zendral
{

int ContextoDeAyuda(const QWidget* widget)
{
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        const int contexto = w->property(kPropiedadContexto).toInt();
        if (contexto != 0) {
            return contexto;
        }
        if (w->isWindow()) {
            break;
        }
    }
    return 0;
}

void InstalarTeclaAyuda(QWidget& ventana, AyudaAplicacion& ayuda)
{
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), &ventana);
    f1->setContext(Qt::WindowShortcut);
    QObject::connect(f1, &QShortcut::activated, &ventana, [&ventana, &ayuda] {
        QWidget* foco = QApplication::focusWidget();
        const int contexto = ContextoDeAyuda(foco != nullptr && foco->window() == &ventana ? foco : &ventana);
        if (contexto != 0) {
            ayuda.Contexto(contexto);
        }
    });
}

} // namespace zendral
