#include "VelorinSim.h"

#include "Error.h"
#include "System.h"
#include "Velorin.h"

#include <charconv>
#include <optional>

namespace zendral::host
{
namespace
{

constexpr int kPeriodosPorDefecto = 8;

constexpr const char* kUso =
    "Sustituto de Velorin para pruebas: no es Velorin ni resuelve horarios de verdad. Hace en el\n"
    "directorio de trabajo lo que Velorin hace entre la importación del centro y la exportación del\n"
    "horario, para probar y enseñar el camino completo sin el programa real.\n"
    "\n"
    "Uso:\n"
    "  velorin-sim diashoras [--dir DIR] [--periodos N] [--medias]\n"
    "  velorin-sim soluc [--dir DIR] [--medias]\n"
    "\n"
    "diashoras  reescribe DIASHORAST: de Dilluns a Divendres, N periodos de 55 minutos (8 si no se\n"
    "           indica, de 1 a 12) desde las 08:00, con 30 minutos de recreo tras el tercero.\n"
    "           --medias parte cada periodo en dos medias horas de 30 minutos.\n"
    "soluc      crea SOLUC con un reparto voraz de las sesiones de ASIGT en los días y horas de\n"
    "           DIASHORAST, con profesores de PROFT y aulas de AULAT, unas cuantas actividades\n"
    "           y un registro sin colocar (DIA 0).\n"
    "           --medias escribe HORA en medias horas (1.0, 1.5, 2.0...).\n"
    "\n"
    "DIR es el directorio de trabajo; sin --dir, el mismo que usa Zendral.\n";

struct Orden
{
    std::string nombre;
    std::optional<std::filesystem::path> dir;
    int periodos = kPeriodosPorDefecto;
    bool medias = false;
};

// Nothing on a usage error.
std::optional<Orden> Analizar(const std::vector<std::string>& args)
{
    if (args.empty() || (args[0] != "diashoras" && args[0] != "soluc")) {
        return std::nullopt;
    }
    Orden orden;
    orden.nombre = args[0];
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool conValor = a == "--dir" || (a == "--periodos" && orden.nombre == "diashoras");
        if (conValor && (i + 1 >= args.size() || args[i + 1].empty())) {
            return std::nullopt;
        }
        if (a == "--medias") {
            orden.medias = true;
        } else if (a == "--dir") {
            orden.dir = sys::PathFromUtf8(args[++i]);
        } else if (conValor) {
            const std::string& texto = args[++i];
            const auto [fin, ec] = std::from_chars(texto.data(), texto.data() + texto.size(), orden.periodos);
            if (ec != std::errc() || fin != texto.data() + texto.size()) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    return orden;
}

const char* Plural(std::size_t n, const char* uno, const char* varios) { return n == 1 ? uno : varios; }

} // namespace

int EjecutarVelorinSim(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       const std::filesystem::path& workDir)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "ayuda")) {
        out << kUso;
        return 0;
    }
    const auto orden = Analizar(args);
    if (!orden) {
        err << kUso;
        return 2;
    }
    const std::filesystem::path dir = orden->dir ? *orden->dir : workDir;
    try {
        if (orden->nombre == "diashoras") {
            LlenarDiasHoras(dir, orden->periodos, orden->medias);
            const int casillas = orden->medias ? 2 * orden->periodos : orden->periodos;
            out << "DIASHORAST: " << kDias * casillas << " registros (" << kDias << " días de " << casillas
                << (orden->medias ? " medias horas de " : Plural(casillas, " periodo de ", " periodos de "))
                << (orden->medias ? kMinutosMedia : kMinutosPeriodo) << " minutos) en " << dir.string()
                << "\n";
            return 0;
        }
        Opciones opciones;
        opciones.medias = orden->medias;
        const Resumen r = GenerarSoluc(dir, opciones);
        out << "SOLUC: " << r.registros << Plural(r.registros, " registro", " registros") << " en "
            << dir.string() << "\n"
            << "  líneas de ASIGT: " << r.lineas << "\n"
            << "  sesiones colocadas: " << r.colocadas << " de " << r.sesiones << "\n"
            << "  actividades colocadas: " << r.actividades << "\n"
            << "  sin colocar (DIA 0): " << r.sinColocar << "\n";
        return 0;
    } catch (const Error& e) {
        err << e.what() << "\n";
        return 1;
    }
}

} // namespace zendral::host
