#pragma once

#include <cstddef>
#include <filesystem>

// A stand-in for Velorin's side of the exchange, for tests and demonstrations only. It does in the
// working directory what the timetable program does between the centre import and the timetable
// export: it fills DIASHORAST and writes a solved timetable into SOLUC. The "solution" is a plain
// greedy pass, nothing like a real timetable solver.
namespace zendral::host
{

// DIASHORAST always holds five days, 1 (Dilluns) to 5 (Divendres).
inline constexpr int kDias = 5;
inline constexpr int kMaxPeriodos = 12;

// Minutes of a period and of a half period; the first starts at 08:00 and a 30-minute break
// follows the third period (the sixth half period).
inline constexpr int kMinutosPeriodo = 55;
inline constexpr int kMinutosMedia = 30;

// Recreates DIASHORAST with one record per day and period, keyed DIHO = day followed by the period
// number ("11", "12", ... "512"). With `medias` every period is split in two, numbered 1 to
// 2 x `periodos`. Throws Error for a number of periods outside 1..kMaxPeriodos.
void LlenarDiasHoras(const std::filesystem::path& workDir, int periodos, bool medias);

struct Opciones
{
    // HORA in half values (period 1 -> 1.0, 2 -> 1.5, 3 -> 2.0 ...) as Velorin writes it for half
    // periods; otherwise HORA is the period number.
    bool medias = false;
    // Activity sessions (guards, meetings...) placed after the lessons. One more activity is
    // always written unplaced.
    int actividades = 5;
};

// What GenerarSoluc wrote.
struct Resumen
{
    std::size_t lineas = 0;      // ASIGT records read
    std::size_t sesiones = 0;    // lesson sessions the lines ask for
    std::size_t colocadas = 0;   // lesson sessions placed
    std::size_t actividades = 0; // activity sessions placed
    std::size_t sinColocar = 0;  // records with DIA 0, lessons and activities
    std::size_t registros = 0;   // SOLUC records
};

// Recreates SOLUC from ASIGT, PROFT, AULAT, ASIGNOMT and the days and periods of DIASHORAST.
// Each ASIGT line asks for ceil(HORAS) sessions of one period (never more than the week holds);
// a session goes to the first period where its group, its teacher and its fixed room are free,
// one session per day while the line has days left. A line without teacher or room gets them
// from PROFT and AULAT. Sessions that find no period are written with DIA 0. The result only
// depends on the tables. Throws Error when DIASHORAST is empty or a table cannot be read.
Resumen GenerarSoluc(const std::filesystem::path& workDir, const Opciones& opciones);

// HORA for a period number: the period itself, or its half value with `medias`.
double HoraDePeriodo(int periodo, bool medias);

} // namespace zendral::host
