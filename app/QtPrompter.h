#pragma once

#include "Prompter.h"

#include <QFileDialog>
#include <QPointer>
#include <QString>
#include <QWidget>

class QDialog;
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

    std::optional<std::filesystem::path> ElegirArchivo() override;
    void Mensaje(const std::string& texto) override;
    // With warnings, the message box gets a "Mostrar detalles…" button that opens their list.
    void MensajeFinal(const std::string& texto, const ListaAvisos& avisos) override;
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

    AyudaAplicacion& m_ayuda;
    QPointer<QWidget> m_ventana;
    QPointer<QFileDialog> m_dialogoArchivo;
    // The level/course dialog on screen, whose labels follow the notice it raises.
    QPointer<TControlCursos> m_controlCursos;
    bool m_ocupado = false;
};

// A message box of the application: title "Zendral", the text, one "Aceptar" button.
void PrepararMensaje(QMessageBox& caja, const QString& texto);

} // namespace zendral
