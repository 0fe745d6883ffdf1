#pragma once

#include "Avisos.h"
#include "Comparacion.h"
#include "EstadoProceso.h"
#include "XmlDocument.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zendral
{

class Prompter;
struct CursoGrupos;

// Records written per table, in the order the stages wrote them.
using Resumen = std::vector<std::pair<std::string, std::size_t>>;

// The centre import: a GestIB centre document becomes Velorin's tables in the working directory.
class Importacion
{
public:
    Importacion(EstadoProceso& estado, Prompter& prompter, std::filesystem::path workDir);

    // The whole run: file choice, load, the seven stages, the closing message. Errors are thrown
    // as zendral::Error after the busy cursor is restored; tables of finished stages stay.
    FinRun BExportarClick();
    // The same run on a document its caller has already loaded (from the chosen file): the
    // document becomes the current one, then the seven stages and the closing message.
    FinRun ImportarDocumento(xml::Document documento);

    // The stages, in run order. Each reads the current document and the working directory.
    void CargarAsignaturas();
    void CargarProfesores();
    void CargarAulas();
    // Returns normally also after a forced exit; VentanaCerrada() tells.
    void CargarCursos();
    void CargarGrupos();
    void CargarLineas();
    void CargarDiasHoras();
    // All seven in order; false when the user forced the exit from the level/course dialog, and
    // the stages after it did not run.
    bool CargarTablas();

    bool VentanaCerrada() const { return m_ventanaCerrada; }
    const Resumen& resumen() const { return m_resumen; }
    // What the run found the data lost or changed; shown with the closing message.
    const ListaAvisos& avisos() const { return m_avisos; }
    // The run's report in zendral/informes/, once written; empty when it could not be.
    const std::filesystem::path& informe() const { return m_informe; }
    // Whether stage 4 fills in the level and course answers remembered for the centre (on by
    // default). The answers it ends with are remembered either way.
    void UsarMemoria(bool usar) { m_usarMemoria = usar; }
    // What the run changed against the copy of the tables it made first, once it has written
    // them (completed, or ended by the forced exit); null before, or when they could not be
    // compared, which FalloComparacion() then tells.
    const comparacion::Comparacion* cambios() const { return m_cambios ? &*m_cambios : nullptr; }
    const std::string& FalloComparacion() const { return m_falloComparacion; }

private:
    const xml::Document& Documento() const;
    // The two tables of the groups stage: GRUPOST from the rows, then MATIB from ASIGNOMT and the
    // GRUPOST just written.
    void EscribirGrupos(const std::vector<CursoGrupos>& cursos);
    void EscribirMaterias();
    void Anotar(const std::string& tabla, std::size_t registros);
    // Writes the run's report with `resultado`, once per run; a failure becomes a warning.
    void EscribirInforme(const std::string& resultado);
    // Compares the tables now in place with `copia`; the abbreviation changes become warnings.
    void CompararConCopia(const copias::Copia& copia);

    EstadoProceso& m_estado;
    Prompter& m_prompter;
    std::filesystem::path m_workDir;
    bool m_ventanaCerrada = false;
    Resumen m_resumen;
    ListaAvisos m_avisos;
    std::filesystem::path m_informe;
    bool m_informeEscrito = false;
    bool m_usarMemoria = true;
    std::optional<comparacion::Comparacion> m_cambios;
    std::string m_falloComparacion;
};

// Throws Error, naming `archivo` and the element found, when the document element of `documento`
// is not CENTRE: another XML (a SolucioHorari.xml, a namespaced root) would otherwise replace
// every table with an empty one.
void ComprobarDocumentoCentro(const xml::Document& documento, const std::filesystem::path& archivo);

// A course of the centre document, as the import reads it (windows-1252, trimmed, not cut).
struct CursoDocumento
{
    std::string codi;
    std::string descripcio;
};
std::vector<CursoDocumento> LeerCursos(const xml::Document& doc);

// The hours text of a subject as a number: "." or "," as the decimal separator; nothing for an
// empty text; 1 for a text that is not a number.
std::optional<double> ConvertirHoras(std::string_view horas);

// The sessions pattern for a line of `horas` hours.
std::string PatronSesiones(double horas);

} // namespace zendral
