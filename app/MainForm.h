#pragma once

#include "EstadoProceso.h"
#include "LineaOrdenes.h"

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <string>

class QFileDialog;
class QLabel;
class QPushButton;
class QWindow;

namespace zendral
{

class AyudaAplicacion;
class PanelDegradado;
class QtPrompter;

// The main window "Exportar e importar datos entre Velorin y GestIB": two runs, help, and, when a
// host started the tool with its window, the embedding and the result file.
class TMForm : public QWidget
{
    Q_OBJECT
public:
    // `argumentos`: the command line without the program's name. `archivoResultado`: Velorin.ini,
    // beside the executable.
    TMForm(const QStringList& argumentos, QtPrompter& prompter, AyudaAplicacion& ayuda,
           std::filesystem::path directorioTrabajo, std::filesystem::path archivoResultado,
           QWidget* parent = nullptr);
    ~TMForm() override;

    EstadoProceso& Estado() { return m_estado; }
    // The host's window the command line named, when it was a hexadecimal handle.
    std::optional<quintptr> VentanaAnfitrion() const { return m_ventanaAnfitrion; }
    // That window as Qt sees it, once this one was placed in it; null where the platform cannot.
    QWindow* Anfitrion() const { return m_anfitrion; }

    // The centre import; closes the window when the run says so.
    void BExportarClick();
    // The timetable export.
    void BImportarClick();
    // Sets the help file and asks for the help's contents.
    void Button1Click();
    // Starts the run the command line names; runs every time the window is shown.
    void FormShow();
    // "Restaurar tablas anteriores…" of the context menu (started by hand only).
    void RestaurarTablas();
    // "Comprobar un documento…" of the context menu (started by hand only): a centre document,
    // the level/course dialog and the line question as in an import, and then what the import
    // would warn about and change, with nothing changed in the working directory.
    void ComprobarUnDocumento();

signals:
    // The window has closed: the tool ends.
    void Cerrada();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormClose();
    void Incrustar(quintptr ventana);
    // Runs one run; an error is reported in a message box and the window stays open. False
    // after an error.
    template <typename Run> bool Ejecutar(Run run);
    // Started by hand, the first time the window is shown: a run that did not end is told, and
    // the way back offered.
    void AvisarInterrumpido();

    QtPrompter& m_prompter;
    AyudaAplicacion& m_ayuda;
    std::filesystem::path m_directorioTrabajo;
    std::filesystem::path m_archivoResultado;
    LineaOrdenes m_lineaOrdenes;
    EstadoProceso m_estado;
    std::optional<quintptr> m_ventanaAnfitrion;
    QWindow* m_anfitrion = nullptr;

    QFileDialog* m_openDialogXML;
    // The notice of a run that did not end, read when the window is made (before any run of this
    // process can leave its own marker) and shown at the first showing.
    std::optional<std::string> m_avisoInterrumpido;
};

} // namespace zendral
