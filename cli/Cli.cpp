#include "Cli.h"

#include "BoundedRead.h"
#include "CodePage.h"
#include "Comparacion.h"
#include "ComprobarCentro.h"
#include "ConsolePrompter.h"
#include "ControlCursos.h"
#include "Copias.h"
#include "CursosCsv.h"
#include "Ensayo.h"
#include "Error.h"
#include "Exportacion.h"
#include "Importacion.h"
#include "Informe.h"
#include "MemoriaCursos.h"
#include "Mensajes.h"
#include "System.h"
#include "Tablas.h"
#include "WorkDir.h"

#include <algorithm>
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
    "                      [--sin-memoria] [--estricto]\n"
    "  zendral-cli cursos CENTRO.xml\n"
    "  zendral-cli importar FICHERO [--dir DIR] [--estricto]\n"
    "  zendral-cli comprobar CENTRO.xml [--dir DIR] [--cursos CURSOS.csv] [--sin-lineas] [--sin-memoria]\n"
    "                       [--estricto] [--resumen]\n"
    "  zendral-cli copias [--dir DIR] [--comparar [COPIA]] [--resumen]\n"
    "  zendral-cli restaurar [COPIA] [--dir DIR]\n"
    "\n"
    "exportar  convierte el documento de centro de GestIB en las tablas de Velorin del\n"
    "          directorio de trabajo (DIR, o el directorio fijo si no se indica).\n"
    "          CURSOS.csv da el nivel y el curso de cada curso del documento; los cursos\n"
    "          que no nombra toman los recordados de la importación anterior del centro.\n"
    "          --sin-lineas no crea las líneas de asignaturas.\n"
    "          --sin-memoria no usa los niveles y cursos recordados.\n"
    "cursos    escribe la plantilla de CURSOS.csv para el documento.\n"
    "importar  convierte el horario resuelto de Velorin (SOLUC) en SolucioHorari.xml,\n"
    "          en el directorio de FICHERO (o en FICHERO, si es un directorio).\n"
    "comprobar muestra los avisos que daría exportar con el documento y lo que cambiaría en\n"
    "          cada tabla, sin tocar nada del directorio de trabajo: las tablas se hacen\n"
    "          aparte, con las mismas respuestas. --resumen da solo las cuentas de cambios.\n"
    "copias    lista las copias de las tablas que se guardan antes de cada exportar.\n"
    "          --comparar dice lo que cambiaría restaurar la copia COPIA (o la que tomaría\n"
    "          restaurar sin nombre); --resumen da solo las cuentas.\n"
    "restaurar vuelve a poner la copia COPIA (o la más reciente) en lugar de las tablas,\n"
    "          después de guardar las tablas actuales como una copia más.\n"
    "\n"
    "Los avisos salen por la salida de errores, cada uno en una línea que empieza con\n"
    "\"Aviso:\"; --estricto hace terminar con el código 3 si hay alguno.\n";

struct Opciones
{
    std::string orden;
    std::filesystem::path archivo;
    std::optional<std::filesystem::path> dir;
    std::optional<std::filesystem::path> cursos;
    bool sinLineas = false;
    bool sinMemoria = false;
    bool estricto = false;
    bool resumen = false;
    bool comparar = false;
};

// Exit code of a run that completed with these warnings.
constexpr int kConAvisos = 3;

// Returns nothing on a usage error, which `error` then names.
std::optional<Opciones> Analizar(const std::vector<std::string>& args, std::string& error)
{
    if (args.empty()) {
        error = "Falta la orden";
        return std::nullopt;
    }
    Opciones op;
    op.orden = args[0];
    if (op.orden != "exportar" && op.orden != "cursos" && op.orden != "importar" && op.orden != "comprobar" &&
        op.orden != "copias" && op.orden != "restaurar") {
        error = "Orden desconocida: " + op.orden;
        return std::nullopt;
    }
    // copias takes no name, restaurar may take one, and so does copias --comparar.
    const bool sinArchivo = op.orden == "copias" || op.orden == "restaurar";
    op.comparar = op.orden == "copias" && std::find(args.begin() + 1, args.end(), "--comparar") != args.end();
    bool hayArchivo = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool conDir = op.orden != "cursos";
        const bool conCursos = op.orden == "exportar" || op.orden == "comprobar";
        const bool conAvisos = conCursos || op.orden == "importar";
        if ((conDir && a == "--dir") || (conCursos && a == "--cursos")) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "Falta el valor de " + a;
                return std::nullopt;
            }
            (a == "--dir" ? op.dir : op.cursos) = sys::PathFromUtf8(args[++i]);
        } else if ((op.orden == "exportar" || op.orden == "comprobar") && a == "--sin-lineas") {
            op.sinLineas = true;
        } else if (conCursos && a == "--sin-memoria") {
            op.sinMemoria = true;
        } else if (conAvisos && a == "--estricto") {
            op.estricto = true;
        } else if ((op.orden == "comprobar" || op.orden == "copias") && a == "--resumen") {
            op.resumen = true;
        } else if (op.comparar && a == "--comparar") {
            // Seen before the loop: it lets copias take a name.
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            error = "La orden " + op.orden + " no admite la opción " + a;
            return std::nullopt;
        } else if (!hayArchivo && (op.orden != "copias" || op.comparar)) {
            op.archivo = sys::PathFromUtf8(a);
            hayArchivo = true;
        } else {
            error = "Sobra el argumento " + a;
            return std::nullopt;
        }
    }
    if (!hayArchivo && !sinArchivo) {
        error = op.orden == "importar" ? "Falta el archivo o la carpeta de destino"
                                       : "Falta el documento de centro (CENTRO.xml)";
        return std::nullopt;
    }
    return op;
}

// "No existe archivo" naming the file the command line gave.
std::string NoExiste(const std::filesystem::path& archivo)
{
    return std::string(msg::kNoExisteArchivo) + ": " + TextoRuta(archivo);
}

// Loads the centre document, refused as exportar refuses it.
xml::Document CargarCentro(const std::filesystem::path& archivo)
{
    auto documento = xml::Document::load(archivo);
    ComprobarDocumentoCentro(documento, archivo);
    return documento;
}

// False only when nothing is there by that name: anything else that is not a regular file (a
// folder, a FIFO, a device) is refused by the load itself, with a message that names it.
bool Existe(const std::filesystem::path& archivo)
{
    std::error_code ec;
    return std::filesystem::exists(archivo, ec);
}

int Cursos(const Opciones& op, std::ostream& out, std::ostream& err)
{
    if (!Existe(op.archivo)) {
        err << NoExiste(op.archivo) << "\n";
        return 1;
    }
    const auto doc = CargarCentro(op.archivo);
    out << csv::PlantillaCursos(LeerCursos(doc));
    return 0;
}

// The courses file's rows, then the answers remembered for the document's centre: the file wins
// for the courses it names. A memory that cannot be read is left out and told in `aviso`. The
// file's answers that are not stored as given are told in `avisosArchivo`, when given (the run
// itself tells those of the remembered answers).
std::vector<csv::FilaCurso> Respuestas(const Opciones& op, const std::filesystem::path& workDir,
                                       const xml::Document& documento, std::optional<Aviso>& aviso,
                                       ListaAvisos* avisosArchivo)
{
    std::vector<csv::FilaCurso> filas;
    if (op.cursos) {
        // A regular file of at most 16 MB: a FIFO or a device is refused without waiting.
        filas = csv::LeerCursosCsv(ReadBoundedFile(*op.cursos, csv::kTamanoMaximo, op.cursos->string()),
                                   op.cursos->filename().string());
        if (avisosArchivo != nullptr) {
            csv::AsignarCursos(LeerCursos(documento), filas, avisosArchivo);
        }
    }
    if (!op.sinMemoria) {
        try {
            const auto recordadas = memoria::DelCentro(memoria::Leer(workDir), CodigoCentro(documento));
            filas.insert(filas.end(), recordadas.begin(), recordadas.end());
        } catch (const Error& e) {
            aviso = Aviso{TipoAviso::Memoria,
                          "",
                          "",
                          "",
                          TextoRuta(memoria::Archivo(workDir)),
                          std::string("no se ha podido leer: ") + e.what() +
                              "; no se ha usado ningún nivel ni curso recordado"};
        }
    }
    return filas;
}

// The warnings after a run's summary: one "Aviso:" line each, then their count.
int Avisar(const ListaAvisos& avisos, bool estricto, std::ostream& err)
{
    if (avisos.empty()) {
        return 0;
    }
    for (const Aviso& a : avisos) {
        err << "Aviso: " << a.Linea() << "\n";
    }
    err << avisos.Cuenta() << "\n";
    return estricto ? kConAvisos : 0;
}

void NombrarInforme(const std::filesystem::path& informe, std::ostream& out)
{
    if (!informe.empty()) {
        out << "  Informe: " << TextoRuta(informe) << "\n";
    }
}

int Exportar(const Opciones& op, std::ostream& out, std::ostream& err)
{
    if (!Existe(op.archivo)) {
        err << NoExiste(op.archivo) << "\n";
        return 1;
    }
    // Every course must have its level and course number before any table is touched. The
    // document is read once, for this check and for the run.
    const std::filesystem::path workDir = op.dir ? *op.dir : WorkingDirectory();
    auto documento = xml::Document::load(op.archivo);
    const auto cursos = LeerCursos(documento);
    std::optional<Aviso> avisoMemoria;
    ListaAvisos avisosArchivo;
    const auto filas = Respuestas(op, workDir, documento, avisoMemoria, &avisosArchivo);
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
        if (avisoMemoria) {
            err << "Aviso: " << avisoMemoria->Linea() << "\n";
        }
        return 1;
    }

    EstadoProceso estado;
    estado.archivoElegido = op.archivo;
    ConsolePrompter prompter(op.archivo, niveles, !op.sinLineas);
    Importacion importacion(estado, prompter, workDir);
    importacion.UsarMemoria(!op.sinMemoria);
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
    if (const auto* cambios = importacion.cambios()) {
        out << "  Cambios respecto a las tablas de antes (copia " << estado.copiaAntesDeImportar << "):\n"
            << cambios->Cuentas("    ");
    } else if (!importacion.FalloComparacion().empty()) {
        out << "  Cambios respecto a las tablas de antes: no se han podido comparar: "
            << importacion.FalloComparacion() << "\n";
    }
    NombrarInforme(importacion.informe(), out);
    ListaAvisos avisos = importacion.avisos();
    avisos.Agregar(avisosArchivo);
    return Avisar(avisos, op.estricto, err);
}

// The answers of a would-be import: the levels and courses known, typed in, and the dialog then
// closed, so that a course without an answer stays as it is instead of ending the run.
class RespuestasSinDialogo : public ConsolePrompter
{
public:
    RespuestasSinDialogo(const std::filesystem::path& archivo, const std::vector<csv::NivelCurso>& niveles,
                         bool crearLineas)
        : ConsolePrompter(archivo, niveles, crearLineas)
        , m_niveles(niveles)
    {
    }

    void MostrarControlCursos(ControlCursos& dialogo) override
    {
        dialogo.FormShow();
        dialogo.Rellenar(m_niveles);
        dialogo.Tabla().Close();
    }

private:
    std::vector<csv::NivelCurso> m_niveles;
};

int Comprobar(const Opciones& op, std::ostream& out, std::ostream& err)
{
    if (!Existe(op.archivo)) {
        err << NoExiste(op.archivo) << "\n";
        return 1;
    }
    const std::filesystem::path workDir = op.dir ? *op.dir : WorkingDirectory();
    auto documento = CargarCentro(op.archivo);
    const auto cursos = LeerCursos(documento);
    std::optional<Aviso> avisoMemoria;
    // Every answer as the import would store it, the file's and the remembered ones.
    ListaAvisos avisosRespuestas;
    const auto niveles = csv::AsignarCursos(cursos, Respuestas(op, workDir, documento, avisoMemoria, nullptr),
                                            &avisosRespuestas);

    ListaAvisos avisos = ComprobarDocumento(documento);
    if (avisoMemoria) {
        avisos.Agregar(*avisoMemoria);
    }
    avisos.Agregar(avisosRespuestas);
    // CURSOST as the import would leave it. A course without an answer yet gets one in the
    // dialog, so it stands here for any answer; what is checked is the rest.
    std::vector<RegistroCurso> cursost;
    std::size_t sinRespuesta = 0;
    for (std::size_t i = 0; i < cursos.size(); ++i) {
        RegistroCurso r{std::string(cp1252::Left(cursos[i].codi, tablas::kCursost.Ancho("CODI"))),
                        cursos[i].descripcio, niveles[i].nivel, niveles[i].curso};
        if (!niveles[i].Completo()) {
            ++sinRespuesta;
            r.nivel = "?????";
            r.curso = "???";
        }
        cursost.push_back(std::move(r));
    }
    avisos.Agregar(ComprobarNiveles(documento, cursost));

    // The tables the import would write, made aside with the same answers (the remembered ones are
    // in `niveles` already) and compared with the working directory's.
    RespuestasSinDialogo prompter(op.archivo, niveles, !op.sinLineas);
    const Ensayo ensayo = Ensayar(workDir, std::move(documento), prompter, false);
    avisos.Agregar(ensayo.cambios.AvisosAbreviaturas());

    for (const Aviso& a : avisos) {
        out << "Aviso: " << a.Linea() << "\n";
    }
    out << (avisos.empty() ? std::string("Sin avisos") : avisos.Cuenta()) << "\n";
    if (sinRespuesta > 0) {
        out << sinRespuesta << (sinRespuesta == 1 ? " curso no tiene" : " cursos no tienen")
            << " todavía nivel y curso: se pedirán al importar\n";
    }
    out << "\nCambios respecto a las tablas actuales";
    if (sinRespuesta > 0) {
        out << " (los cursos sin nivel ni curso, con ellos vacíos)";
    }
    out << ":\n" << ensayo.cambios.Cuentas("  ");
    if (!op.resumen && !ensayo.cambios.SinCambios()) {
        out << "\n" << ensayo.cambios.Lista();
    }
    return op.estricto && !avisos.empty() ? kConAvisos : 0;
}

int Importar(const Opciones& op, std::ostream& out, std::ostream& err)
{
    EstadoProceso estado;
    ConsolePrompter prompter(op.archivo, {}, false);
    Exportacion exportacion(estado, prompter, op.dir ? *op.dir : WorkingDirectory());
    const FinRun fin = exportacion.BImportarClick();
    std::ostream& destino = fin == FinRun::Completado ? out : err;
    for (const auto& m : prompter.Mensajes()) {
        destino << (fin == FinRun::SinArchivo && m == msg::kNoExisteArchivo ? NoExiste(op.archivo) : m)
                << "\n";
    }
    if (fin != FinRun::Completado) {
        return 1;
    }
    out << "  " << exportacion.sesiones() << (exportacion.sesiones() == 1 ? " sesión" : " sesiones") << " en "
        << exportacion.salida().string() << "\n";
    const Comprobacion& c = exportacion.comprobacion();
    out << "  Comprobado: " << c.registros << (c.registros == 1 ? " registro" : " registros") << " de SOLUC, "
        << c.sinDia << " sin día (no se exportan), " << c.actividades
        << (c.actividades == 1 ? " actividad" : " actividades") << "\n";
    NombrarInforme(exportacion.informe(), out);
    return Avisar(exportacion.avisos(), op.estricto, err);
}

int Copias(const Opciones& op, std::ostream& out)
{
    if (op.comparar) {
        const std::filesystem::path dir = op.dir ? *op.dir : WorkingDirectory();
        const auto copia = copias::Elegir(dir, op.archivo.string());
        // A copy that a restore would refuse is refused here, with the same message.
        copias::Comprobar(copia);
        const auto cambios = comparacion::CompararRestauracion(dir, copia);
        out << "Cambios que haría restaurar la copia " << copia.nombre << " (" << copia.fecha << "):\n"
            << cambios.Cuentas("  ");
        if (!op.resumen && !cambios.SinCambios()) {
            out << "\n" << cambios.Lista();
        }
        return 0;
    }
    const auto copias = copias::Listar(op.dir ? *op.dir : WorkingDirectory());
    if (copias.empty()) {
        out << "No hay ninguna copia de las tablas.\n";
        return 0;
    }
    for (const auto& c : copias) {
        out << copias::Describir(c) << "\n";
    }
    return 0;
}

int Restaurar(const Opciones& op, std::ostream& out)
{
    const auto copia = copias::Restaurar(op.dir ? *op.dir : WorkingDirectory(), op.archivo.string());
    out << "Tablas restauradas desde la copia " << copia.nombre << " (" << copia.fecha << ").\n"
        << "Las tablas que había se han guardado antes como otra copia.\n";
    return 0;
}

} // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "ayuda")) {
        out << kUso;
        return 0;
    }
    std::string error;
    const auto op = Analizar(args, error);
    if (!op) {
        err << error << "\n\n" << kUso;
        return 2;
    }
    // A working directory given on the command line must be there: a mistyped one would list no
    // copies, or have tables made in a folder Velorin never reads.
    std::error_code ec;
    if (op->dir && !std::filesystem::is_directory(*op->dir, ec)) {
        err << "No existe el directorio de trabajo " << TextoRuta(*op->dir) << "\n";
        return 1;
    }
    try {
        // A run that did not end leaves its marker: said on every command until an import or a
        // restore ends.
        if (const auto aviso = copias::AvisoInterrumpido(op->dir ? *op->dir : WorkingDirectory())) {
            err << *aviso << " (zendral-cli restaurar)\n";
        }
        if (op->orden == "cursos") {
            return Cursos(*op, out, err);
        }
        if (op->orden == "comprobar") {
            return Comprobar(*op, out, err);
        }
        if (op->orden == "copias") {
            return Copias(*op, out);
        }
        if (op->orden == "restaurar") {
            return Restaurar(*op, out);
        }
        return op->orden == "importar" ? Importar(*op, out, err) : Exportar(*op, out, err);
    } catch (const Error& e) {
        err << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << ExceptionMessage(e) << "\n";
        return 1;
    }
}

} // namespace zendral::cli
