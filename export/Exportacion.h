#pragma once

#include "Avisos.h"
#include "EstadoProceso.h"
#include "Verificacion.h"

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace zendral
{

class Prompter;

inline constexpr const char* kArchivoHorario = "SolucioHorari.xml";

// The timetable export: Velorin's solved timetable (SOLUC) becomes SolucioHorari.xml, with
// abbreviations mapped back to GestIB codes through the tables the centre import wrote.
class Exportacion
{
public:
    Exportacion(EstadoProceso& estado, Prompter& prompter, std::filesystem::path workDir);

    // The whole run. The chosen file only names the directory that receives the document (a
    // directory names itself); it is never read. Errors are thrown as zendral::Error after the
    // tables are closed and the cursor restored; the previous document is then left as it was.
    FinRun BImportarClick();

    std::size_t Sesiones() const { return m_sesiones; }
    const std::filesystem::path& Salida() const { return m_salida; }
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
    std::size_t m_sesiones = 0;
    std::filesystem::path m_salida;
    Comprobacion m_comprobacion;
    ListaAvisos m_avisos;
    std::filesystem::path m_informe;
    bool m_informeEscrito = false;

    // Writes the run's report with `resultado`, once per run; a failure becomes a warning.
    void EscribirInforme(const std::string& resultado);
};

// Whether Periodo can number `hora`: a finite value whose whole part, and with half periods twice
// that, fits a long long.
bool PeriodoEnRango(double hora, bool mediasHoras);

// Period number of a session from its HORA: the whole part, or with half periods 2 x whole part
// for a fraction and 2 x whole part - 1 without one. `hora` must be PeriodoEnRango.
long long Periodo(double hora, bool mediasHoras);

} // namespace zendral
