#pragma once

#include "Prompter.h"

#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <QWidget>

class QDialog;
class QLabel;
class QMessageBox;

namespace zendral
{

class AyudaAplicacion;
class TControlCursos;

// The desktop's answers to a run: the file dialog, message boxes, the busy cursor, the
// level/course dialog and the line-creation question. Every modal window goes through Ejecutar,
// which tests override to look at the window and answer it without a modal loop.
class QtPrompter : public Prompter
{
public:
    explicit QtPrompter(AyudaAplicacion& ayuda);
    ~QtPrompter() override;

    // The window that owns the level/course dialog, and the file dialog both runs use.
    void SetVentana(QWidget* ventana) { m_ventana = ventana; }
    void SetDialogoArchivo(QFileDialog* dialogo) { m_dialogoArchivo = dialogo; }
    // The label of the main window that shows the step in progress; null for none (the host's
    // start).
    void SetEtiquetaEtapa(QLabel* etiqueta);
    // The end of a run: the step label goes and the normal cursor comes back.
    void FinDeRun();
    AyudaAplicacion& Ayuda() { return m_ayuda; }

    std::optional<std::filesystem::path> ElegirArchivo() override;
    void Mensaje(const std::string& texto) override;
    // With warnings, the message box adds their count and the warning icon, and gets a
    // "Mostrar detalles…" button that opens the warnings window.
    void MensajeFinal(const std::string& texto, const ListaAvisos& avisos) override;
    void Etapa(const std::string& etapa) override;
    void InformeEscrito(const std::filesystem::path& informe) override { m_informe = informe; }
    void CursorOcupado(bool ocupado) override;
    void MostrarControlCursos(ControlCursos& dialogo) override;
    bool ConfirmarLineas() override;

    bool Ocupado() const { return m_ocupado; }
    // Shows another modal window of the program (without the busy cursor) and returns its result.
    int Mostrar(QDialog& dialogo) { return Modal(dialogo); }

protected:
    // Shows a modal window and returns its result (QDialog::DialogCode, or the pressed
    // QMessageBox::StandardButton for message boxes).
    virtual int Ejecutar(QDialog& dialogo);

private:
    // Ejecutar without the busy cursor: a window that waits for the user shows the normal one.
    int Modal(QDialog& dialogo);
    // Shows `texto` as the step in progress and paints the main window at once: the run keeps
    // the event loop busy until it ends.
    void MostrarEtapa(const QString& texto);

    AyudaAplicacion& m_ayuda;
    QPointer<QWidget> m_ventana;
    QPointer<QFileDialog> m_dialogoArchivo;
    QPointer<QLabel> m_etiquetaEtapa;
    // The report of the run in progress, once written.
    std::filesystem::path m_informe;
    // The level/course dialog on screen, whose labels follow the notice it raises.
    QPointer<TControlCursos> m_controlCursos;
    bool m_ocupado = false;
};

// Places `dialogo` centred over `ventana` as the screen shows it, inside the screen.
void CentrarSobre(QWidget& dialogo, const QWidget* ventana);

// A message box of the application: title "Zendral", the text, one "Aceptar" button.
void PrepararMensaje(QMessageBox& caja, const QString& texto);

} // namespace zendral
