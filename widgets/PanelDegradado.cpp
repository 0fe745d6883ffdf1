#include "PanelDegradado.h"

#include <QLinearGradient>
#include <QPainter>

namespace zendral
{

PanelDegradado::PanelDegradado(QColor inicio, QColor medio, QColor fin, QWidget* parent)
    : QWidget(parent)
    , m_inicio(inicio)
    , m_medio(medio)
    , m_fin(fin)
{
}

void PanelDegradado::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    QLinearGradient degradado(0, 0, 0, height());
    degradado.setColorAt(0.0, m_inicio);
    degradado.setColorAt(0.5, m_medio);
    degradado.setColorAt(1.0, m_fin);
    p.fillRect(rect(), degradado);
}

} // namespace zendral
