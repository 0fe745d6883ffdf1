#pragma once

#include "Avisos.h"

#include <QDialog>
#include <QString>
#include <filesystem>

class QTextBrowser;
class QPushButton;

namespace zendral
{

class AyudaAplicacion;

// The warnings as the lists show them: each kind in bold with its count, its warnings below it
// in the order they were found.
QString HtmlAvisos(const ListaAvisos& avisos);

// "Avisos del proceso": a run's warnings grouped by kind, each kind with its count, in a window
// that can be enlarged; "Copiar" puts the list on the clipboard and "Abrir el informe" opens the
// run's report with the system's viewer.
class VentanaAvisos : public QDialog
{
    Q_OBJECT
public:
    // `informe`: the run's report, or empty when none was written.
    VentanaAvisos(const ListaAvisos& avisos, std::filesystem::path informe, AyudaAplicacion& ayuda,
                  QWidget* parent = nullptr);

    // The list as text, as "Copiar" leaves it on the clipboard.
    QString Texto() const { return m_texto; }

private:
    void AbrirInforme();

    std::filesystem::path m_informe;
    QString m_texto;
    QTextBrowser* m_lista;
};

} // namespace zendral
