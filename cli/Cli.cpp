#include "Cli.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "ConsolePrompter.h"
#include "CursosCsv.h"
#include "Error.h"
#include "Exportacion.h"
#include "Importacion.h"
#include "Mensajes.h"
#include "Sistema.h"
#include "WorkDir.h"

#include <filesystem>
#include <optional>
#include <utility>

namespace zendral::cli
{
namespace
{

constexpr const char* kUso =
    "Uso:\n"
    "  zendral-cli exportar CENTRO.xml [--dir DIR] [--cursos CURSOS.csv] [--sin-lineas]\n"
    "  zendral-cli cursos CENTRO.xml\n"
    "  zendral-cli importar FICHERO [--dir DIR]\n"
    "\n"
    "exportar  convierte el documento de centro de GestIB en las tablas de Velorin del\n"
    "          directorio de trabajo (DIR, o el directorio fijo si no se indica).\n"
    "          CURSOS.csv da el nivel y el curso de cada curso del documento.\n"
    "          --sin-lineas no crea las líneas de asignaturas.\n"
    "cursos    escribe la plantilla de CURSOS.csv para el documento.\n"
    "importar  convierte el horario resuelto de Velorin (SOLUC) en SolucioHorari.xml,\n"
    "          en el directorio de FICHERO (o en FICHERO, si es un directorio).\n";

struct Opciones
{
    std::string orden;
    std::filesystem::path archivo;
    std::optional<std::filesystem::path> dir;
    std::optional<std::filesystem::path> cursos;
    bool sinLineas = false;
};

// Returns nothing on a usage error.
std::optional<Opciones> Analizar(const std::vector<std::string>& args)
{
    if (args.empty()) {
        return std::nullopt;
    }
    Opciones op;
    op.orden = args[0];
    if (op.orden != "exportar" && op.orden != "cursos" && op.orden != "importar") {
        return std::nullopt;
    }
    bool hayArchivo = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool conDir = op.orden == "exportar" || op.orden == "importar";
        if ((conDir && a == "--dir") || (op.orden == "exportar" && a == "--cursos")) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                return std::nullopt;
            }
            (a == "--dir" ? op.dir : op.cursos) = sistema::RutaUtf8(args[++i]);
        } else if (op.orden == "exportar" && a == "--sin-lineas") {
            op.sinLineas = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return std::nullopt;
        } else if (!hayArchivo) {
            op.archivo = sistema::RutaUtf8(a);
            hayArchivo = true;
        } else {
            return std::nullopt;
        }
    }
    if (!hayArchivo) {
        return std::nullopt;
    }
    return op;
}

bool Existe(const std::filesystem::path& archivo)
{
    std::error_code ec;
    return std::filesystem::is_regular_file(archivo, ec);
}

int Cursos(const Opciones& op, std::ostream& out, std::ostream& err)
{
    if (!Existe(op.archivo)) {
        err << msg::kNoExisteArchivo << "\n";
        return 1;
    }
    const auto doc = xml::Document::load(op.archivo);
    out << csv::PlantillaCursos(LeerCursos(doc));
    return 0;
}

int Exportar(const Opciones& op, std::ostream& out, std::ostream& err)
{
    if (!Existe(op.archivo)) {
        err << msg::kNoExisteArchivo << "\n";
        return 1;
    }
    // Every course must have its level and course number before any table is touched. The
    // document is read once, for this check and for the run.
    auto documento = xml::Document::load(op.archivo);
    const auto cursos = LeerCursos(documento);
    std::vector<csv::FilaCurso> filas;
    if (op.cursos) {
        filas = csv::LeerCursosCsv(ReadWholeFile(*op.cursos), op.cursos->filename().string());
    }
    const auto niveles = csv::AsignarCursos(cursos, filas);
    bool faltan = false;
    for (std::size_t i = 0; i < cursos.size(); ++i) {
        if (!niveles[i].Completo()) {
            if (!faltan) {
                err << msg::kFaltaDato << "\n";
                faltan = true;
            }
            err << "  " << cp1252::ToUtf8(cursos[i].codi) << "  " << cp1252::ToUtf8(cursos[i].descripcio)
                << "\n";
        }
    }
    if (faltan) {
        return 1;
    }

    EstadoProceso estado;
    estado.archivoElegido = op.archivo;
    ConsolePrompter prompter(op.archivo, niveles, !op.sinLineas);
    Importacion importacion(estado, prompter, op.dir ? *op.dir : WorkingDirectory());
    const FinRun fin = importacion.ImportarDocumento(std::move(documento));
    if (fin != FinRun::Completado) {
        for (const auto& m : prompter.Mensajes()) {
            err << m << "\n";
        }
        if (fin == FinRun::SalidaForzada) {
            err << "Proceso interrumpido: algún curso sigue sin nivel o sin curso\n";
        }
        return 1;
    }
    for (const auto& m : prompter.Mensajes()) {
        out << m << "\n";
    }
    for (const auto& [tabla, registros] : importacion.resumen()) {
        out << "  " << tabla << ": " << registros << (registros == 1 ? " registro" : " registros") << "\n";
    }
    return 0;
}

int Importar(const Opciones& op, std::ostream& out, std::ostream& err)
{
    EstadoProceso estado;
    ConsolePrompter prompter(op.archivo, {}, false);
    Exportacion exportacion(estado, prompter, op.dir ? *op.dir : WorkingDirectory());
    const FinRun fin = exportacion.BImportarClick();
    std::ostream& destino = fin == FinRun::Completado ? out : err;
    for (const auto& m : prompter.Mensajes()) {
        destino << m << "\n";
    }
    if (fin != FinRun::Completado) {
        return 1;
    }
    out << "  " << exportacion.Sesiones() << (exportacion.Sesiones() == 1 ? " sesión" : " sesiones") << " en "
        << exportacion.Salida().string() << "\n";
    return 0;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "ayuda")) {
        out << kUso;
        return 0;
    }
    const auto op = Analizar(args);
    if (!op) {
        err << kUso;
        return 2;
    }
    try {
        if (op->orden == "cursos") {
            return Cursos(*op, out, err);
        }
        return op->orden == "importar" ? Importar(*op, out, err) : Exportar(*op, out, err);
    } catch (const Error& e) {
        err << e.what() << "\n";
        return 1;
    }
}

} // namespace zendral::cli
