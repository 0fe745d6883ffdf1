#pragma once

#include "Avisos.h"
#include "EstadoProceso.h"
#include "Horario.h"
#include "Verificacion.h"
#include "XmlDocument.h"

#include <cstddef>
#include <filesystem>
#include <string>

namespace zendral
{

class Prompter;

// The timetable export: Velorin's solved timetable (SOLUC) becomes SolucioHorari.xml, with
// abbreviations mapped back to GestIB codes through the tables the centre import wrote.
class Exportacion
{
public:
    // Sessions are written, and checked, by `horario`, which must outlive the object.
    Exportacion(EstadoProceso& estado, Prompter& prompter, std::filesystem::path workDir,
                const Horario& horario = HorarioDeclarado());

    // The whole run. The chosen file only names the directory that receives the document (a
    // directory names itself); it is never read. Errors are thrown as zendral::Error after the
    // tables are closed and the cursor restored; the previous document is then left as it was.
    FinRun BImportarClick();

    std::size_t sesiones() const { return m_sesiones; }
    const std::filesystem::path& salida() const { return m_salida; }
    // The check of the written document against SOLUC, once it passed.
    const Comprobacion& comprobacion() const { return m_comprobacion; }
    // Sessions whose lookups found no record; shown with the closing message.
    const ListaAvisos& avisos() const { return m_avisos; }
    // The run's report in zendral/informes/, once written; empty when it could not be.
    const std::filesystem::path& informe() const { return m_informe; }

private:
    EstadoProceso& m_estado;
    Prompter& m_prompter;
    std::filesystem::path m_workDir;
    const Horario& m_horario;
    std::size_t m_sesiones = 0;
    std::filesystem::path m_salida;
    Comprobacion m_comprobacion;
    ListaAvisos m_avisos;
    std::filesystem::path m_informe;
    bool m_informeEscrito = false;

    // Asks for the file that names the destination and sets m_salida; false, after saying so,
    // when there is no such file.
    bool ElegirDestino();
    // HORARI holding an empty SESSIONS, as the new current document; returns SESSIONS.
    xml::Node NuevoDocumento();
    // A SESSIO in `sesiones` for each SOLUC record with a day.
    void EscribirSesiones(xml::Document& doc, xml::Node& sesiones);
    // Writes the run's report with `resultado`, once per run; a failure becomes a warning.
    void EscribirInforme(const std::string& resultado);
};

} // namespace zendral
