#pragma once

#include "AyudaAplicacion.h"
#include "QtPrompter.h"

#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <deque>
#include <filesystem>
#include <functional>

class QLineEdit;
class QTableView;

namespace zendral
{
class TControlCursos;
}

namespace zendral::test
{

// A QtPrompter whose modal windows the test answers in order, each without a modal loop.
class GuiPrompter : public QtPrompter
{
public:
    using Respuesta = std::function<int(QDialog&)>;
    using QtPrompter::QtPrompter;

    std::deque<Respuesta> respuestas;
    // One line per window shown: "title|text" for message boxes, the title for the others.
    QStringList vistos;
    // Windows that found no answer left (they are dismissed as if closed).
    int sinRespuesta = 0;
    // Whether the busy cursor was on while each window was open.
    QList<bool> cursorDuranteVentana;

protected:
    int Ejecutar(QDialog& dialogo) override;
};

// Records every help request as "archivo:<name>", "contexto:<n>" or "contenido".
class AyudaRegistrada : public AyudaAplicacion
{
public:
    QStringList peticiones;
    void EstablecerArchivo(const QString& archivo) override;
    void Contexto(int contexto) override;
    void Contenido() override;
};

// The file dialog: picks `archivo` and confirms.
GuiPrompter::Respuesta ElegirArchivo(const std::filesystem::path& archivo);
// The file dialog: cancelled.
GuiPrompter::Respuesta CancelarArchivo();
// A message box: presses its button `boton`.
GuiPrompter::Respuesta Pulsar(QMessageBox::StandardButton boton = QMessageBox::Ok);
// The level/course dialog: shows it, waits until it is active, runs `acciones` (which end it by one of
// its buttons or its close box) and returns its result.
GuiPrompter::Respuesta EnDialogo(std::function<void(TControlCursos&)> acciones);

// The cell editor open in the course grid, or null.
QLineEdit* EditorAbierto(QTableView* grid);
// Types `texto` into a cell of the course grid and presses Enter.
void Escribir(TControlCursos& dialogo, int fila, int columna, const QString& texto);
// Presses a button of the dialog (or the navigator) by its object name.
void Pulsar(QWidget& ventana, const char* nombre);

} // namespace zendral::test
