#pragma once

#include "EstadoProceso.h"

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

private:
    EstadoProceso& m_estado;
    Prompter& m_prompter;
    std::filesystem::path m_workDir;
    std::size_t m_sesiones = 0;
    std::filesystem::path m_salida;
};

// Whether Periodo can number `hora`: a finite value whose whole part, and with half periods twice
// that, fits a long long.
bool PeriodoEnRango(double hora, bool mediasHoras);

// Period number of a session from its HORA: the whole part, or with half periods 2 x whole part
// for a fraction and 2 x whole part - 1 without one. `hora` must be PeriodoEnRango.
long long Periodo(double hora, bool mediasHoras);

} // namespace zendral
