#pragma once

#include <QColor>
#include <QWidget>

namespace zendral
{

// A panel painted with a vertical three-colour gradient: start at the top, middle halfway, end at
// the bottom.
class PanelDegradado : public QWidget
{
public:
    PanelDegradado(QColor inicio, QColor medio, QColor fin, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_inicio;
    QColor m_medio;
    QColor m_fin;
};

} // namespace zendral
