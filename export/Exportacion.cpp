#include "Exportacion.h"

#include "AtomicFile.h"
#include "CarpetaZendral.h"
#include "Cerrojos.h"
#include "CodePage.h"
#include "DbfTable.h"
#include "Error.h"
#include "Informe.h"
#include "Mensajes.h"
#include "Prompter.h"

#include <array>
#include <cassert>
#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zendral
{
namespace
{

// A lookup table: the first record of each key, read on the first lookup so that a table is
// only read (and its fields only required) when some session needs it.
template <std::size_t N> class Busqueda
{
public:
    using Valores = std::array<std::string, N>;

    Busqueda(dbf::Table& tabla, std::string clave, std::array<const char*, N> campos)
        : m_tabla(tabla)
        , m_clave(std::move(clave))
        , m_campos(campos)
    {
    }

    // The fields of the first record whose key equals `clave` exactly; empty texts when none.
    const Valores& Buscar(const std::string& clave)
    {
        if (!m_leida) {
            for (m_tabla.First(); !m_tabla.Eof(); m_tabla.Next()) {
                std::string k = m_tabla.FieldByName(m_clave).AsString();
                if (m_indice.count(k) != 0) {
                    continue;
                }
                Valores v;
                for (std::size_t i = 0; i < N; ++i) {
                    v[i] = m_tabla.FieldByName(m_campos[i]).AsString();
                }
                m_registros.emplace(k, m_tabla.RecordNumber());
                m_indice.emplace(std::move(k), std::move(v));
            }
            m_leida = true;
        }
        const auto it = m_indice.find(clave);
        return it == m_indice.end() ? m_vacio : it->second;
    }

    // Where the values for `clave` came from: " (tabla T, campo F, registro N)" for field `i`.
    std::string Donde(const std::string& clave, std::size_t i) const
    {
        const auto it = m_registros.find(clave);
        return " (tabla " + m_tabla.TableName() + ", campo " + m_campos[i] + ", registro " +
               std::to_string(it == m_registros.end() ? 0 : it->second) + ")";
    }

    // Sets attribute `atributo` of `sesion` to field `i` for `clave`; a text the document cannot
    // hold is reported with the table, field and record it came from.
    void Poner(xml::Node& sesion, const char* atributo, const std::string& clave, std::size_t i)
    {
        try {
            sesion.setAttribute(atributo, cp1252::ToUtf8(Buscar(clave)[i]));
        } catch (const Error& e) {
            throw Error(e.what() + Donde(clave, i));
        }
    }

private:
    dbf::Table& m_tabla;
    std::string m_clave;
    std::array<const char*, N> m_campos;
    bool m_leida = false;
    std::unordered_map<std::string, Valores> m_indice;
    std::unordered_map<std::string, std::size_t> m_registros;
    Valores m_vacio;
};

// Opens the tables in the given order and closes them in the order the run closes them, also
// when an error ends the run.
class TablasAbiertas
{
public:
    explicit TablasAbiertas(std::vector<dbf::Table*> apertura)
    {
        for (dbf::Table* t : apertura) {
            t->Open();
            m_abiertas.push_back(t);
        }
    }
    ~TablasAbiertas()
    {
        for (dbf::Table* t : m_abiertas) {
            try {
                if (t->Active()) {
                    t->Close();
                }
            } catch (...) {
                // The error that ended the run is the one the user needs to see.
            }
        }
    }
    void Cerrar(const std::vector<dbf::Table*>& orden)
    {
        for (dbf::Table* t : orden) {
            if (t->Active()) {
                t->Close();
            }
        }
    }

private:
    std::vector<dbf::Table*> m_abiertas;
};

std::string Utf8(const std::string& ansi) { return cp1252::ToUtf8(ansi); }

} // namespace

bool PeriodoEnRango(double hora, bool mediasHoras)
{
    // 2^63 and 2^62 are exact doubles; NaN fails every comparison. With half periods, 2 x whole
    // part must fit, also before the 1 is taken off.
    constexpr double kLimite = -static_cast<double>(std::numeric_limits<long long>::min());
    const double entera = std::trunc(hora);
    if (!mediasHoras) {
        return entera >= -kLimite && entera < kLimite;
    }
    return entera > -kLimite / 2 && entera < kLimite / 2;
}

long long Periodo(double hora, bool mediasHoras)
{
    assert(PeriodoEnRango(hora, mediasHoras));
    const double entera = std::trunc(hora);
    const auto w = static_cast<long long>(entera);
    if (!mediasHoras) {
        return w;
    }
    return hora - entera > 0 ? 2 * w : 2 * w - 1;
}

Exportacion::Exportacion(EstadoProceso& estado, Prompter& prompter, std::filesystem::path workDir)
    : m_estado(estado)
    , m_prompter(prompter)
    , m_workDir(std::move(workDir))
{
}

void Exportacion::EscribirInforme(const std::string& resultado)
{
    if (m_informeEscrito) {
        return;
    }
    m_informeEscrito = true;
    Informe informe{"Exportación del horario", m_salida, resultado, {{"SOLUC", m_comprobacion.registros}},
                    m_comprobacion.Lineas(),   m_avisos};
    try {
        m_informe = zendral::EscribirInforme(m_workDir, informe, std::time(nullptr));
        m_prompter.InformeEscrito(m_informe);
    } catch (const Error& e) {
        m_avisos.Agregar({TipoAviso::Informe, "", "", "", TextoRuta(CarpetaZendral(m_workDir) / "informes"),
                          std::string("no se ha podido escribir el informe: ") + e.what()});
    }
}

FinRun Exportacion::BImportarClick()
{
    m_sesiones = 0;
    m_comprobacion = {};
    m_avisos.clear();
    m_informe.clear();
    ElegirArchivo(m_estado, m_prompter);
    std::error_code ec;
    const auto& elegido = m_estado.archivoElegido;
    const bool esDirectorio = !elegido.empty() && std::filesystem::is_directory(elegido, ec);
    if (elegido.empty() || (!esDirectorio && !std::filesystem::exists(elegido, ec))) {
        m_prompter.Mensaje(msg::kNoExisteArchivo);
        if (m_estado.LanzadoPorHost()) {
            m_estado.codigoResultado = 0;
        }
        return FinRun::SinArchivo;
    }
    m_salida = (esDirectorio ? elegido : elegido.parent_path()) / kArchivoHorario;
    // Before anything else: the six tables locked for the whole run, and a destination that
    // takes new files.
    const CerrojoRun cerrojo(
        m_workDir, {"SOLUC.DBF", "PROFT.DBF", "AULAT.DBF", "ASIGNOMT.DBF", "GRUPOST.DBF", "DIASHORAST.DBF"},
        false, ArchivoRun(m_workDir));
    ComprobarDirectorioEscribible(m_salida.parent_path(), "la carpeta de destino");
    // Documents that killed runs left half-written beside the destination.
    BorrarHuerfanos(m_salida.parent_path(), {m_salida.filename().string()});
    m_informeEscrito = false;
    // An error that ends the run still leaves its report; the error itself is shown to the user.
    struct InformeSiFalla
    {
        Exportacion& run;
        ~InformeSiFalla()
        {
            try {
                run.EscribirInforme("interrumpido por un error");
            } catch (...) {
                // Only the report is lost; the error on its way out is what the user needs to see.
            }
        }
    } informeSiFalla{*this};

    m_estado.documento.emplace();
    xml::Document& doc = *m_estado.documento;
    doc.appendChild(doc.createElement("HORARI"));
    doc.selectSingleNode("/HORARI").appendChild(doc.createElement("SESSIONS"));
    xml::Node sesiones = doc.selectSingleNode("/HORARI/SESSIONS");

    CursorOcupado cursor(m_prompter);
    m_prompter.Etapa("1 de 2: sesiones del horario resuelto (SOLUC)");
    dbf::Table wwTableSoluc("wwTableSoluc", m_workDir, "SOLUC");
    dbf::Table wwTableProfesor("wwTableProfesor", m_workDir, "PROFT");
    dbf::Table wwTableAulas("wwTableAulas", m_workDir, "AULAT");
    dbf::Table wwTableNomAsg("wwTableNomAsg", m_workDir, "ASIGNOMT");
    dbf::Table wwTableGrupos("wwTableGrupos", m_workDir, "GRUPOST");
    dbf::Table wwTableDiasHoras("wwTableDiasHoras", m_workDir, "DIASHORAST");
    TablasAbiertas tablas(
        {&wwTableSoluc, &wwTableProfesor, &wwTableAulas, &wwTableNomAsg, &wwTableGrupos, &wwTableDiasHoras});

    Busqueda<1> profesores(wwTableProfesor, "ABREV", {"CODI"});
    Busqueda<2> grupos(wwTableGrupos, "ABREV", {"CODI", "CODICURS"});
    Busqueda<3> diasHoras(wwTableDiasHoras, "DIHO", {"DIA", "HORADESDE", "MINUTOS"});
    Busqueda<1> aulas(wwTableAulas, "ABREV", {"CODI"});
    Busqueda<1> asignaturas(wwTableNomAsg, "COD", {"CODI"});

    // Half periods are in use when any HORA, on any day, has a fraction.
    bool mediasHoras = false;
    for (wwTableSoluc.First(); !wwTableSoluc.Eof() && !mediasHoras; wwTableSoluc.Next()) {
        const double hora = wwTableSoluc.FieldByName("HORA").AsFloat();
        mediasHoras = hora != std::trunc(hora);
    }

    for (wwTableSoluc.First(); !wwTableSoluc.Eof(); wwTableSoluc.Next()) {
        if (wwTableSoluc.FieldByName("DIA").AsInteger() == 0) {
            continue;
        }
        // Attached at once, so that the document owns it whatever happens next; the attributes
        // come out in the order they are first set.
        xml::Node sesion = sesiones.appendChild(doc.createElement("SESSIO"));
        profesores.Poner(sesion, "placa", wwTableSoluc.FieldByName("PROF").AsString(), 0);

        const std::string grupo = wwTableSoluc.FieldByName("CODGRUPO").AsString();
        grupos.Poner(sesion, "curs", grupo, 1);
        grupos.Poner(sesion, "grup", grupo, 0);

        const double hora = wwTableSoluc.FieldByName("HORA").AsFloat();
        if (!PeriodoEnRango(hora, mediasHoras)) {
            throw Error("El valor " + Utf8(wwTableSoluc.FieldByName("HORA").AsString()) +
                        " del campo HORA del registro " + std::to_string(wwTableSoluc.RecordNumber()) +
                        " de la tabla SOLUC está fuera de rango");
        }
        const std::string clave =
            wwTableSoluc.FieldByName("DIA").AsString() + std::to_string(Periodo(hora, mediasHoras));
        diasHoras.Poner(sesion, "dia", clave, 0);
        diasHoras.Poner(sesion, "hora", clave, 1);
        diasHoras.Poner(sesion, "durada", clave, 2);

        aulas.Poner(sesion, "aula", wwTableSoluc.FieldByName("AULA").AsString(), 0);
        asignaturas.Poner(sesion, "materia", wwTableSoluc.FieldByName("ASIG").AsString(), 0);

        const std::string tarea = wwTableSoluc.FieldByName("TAREA").AsString();
        try {
            sesion.setAttribute("activitat", Utf8(tarea));
        } catch (const Error& e) {
            throw Error(e.what() + std::string(" (tabla SOLUC, campo TAREA, registro ") +
                        std::to_string(wwTableSoluc.RecordNumber()) + ")");
        }
        if (!cp1252::Trim(tarea).empty()) {
            for (const char* nombre : {"curs", "grup", "materia", "aula"}) {
                sesion.setAttribute(nombre, "");
            }
        }
        ++m_sesiones;
    }
    tablas.Cerrar(
        {&wwTableSoluc, &wwTableGrupos, &wwTableProfesor, &wwTableAulas, &wwTableNomAsg, &wwTableDiasHoras});

    // The document replaces the previous one only once it has been read back and found to hold
    // what SOLUC says.
    m_prompter.Etapa("2 de 2: escritura y comprobación de " + std::string(kArchivoHorario));
    try {
        m_comprobacion = GuardarComprobado(doc, m_salida, m_workDir);
    } catch (const Error& e) {
        EscribirInforme(std::string("error: ") + e.what());
        throw;
    }
    m_avisos = m_comprobacion.AvisosSinRegistro();
    cursor.Restaurar();
    m_estado.codigoResultado = 1;
    EscribirInforme("completado");
    m_prompter.MensajeFinal(msg::kProcesoFinalizado, m_avisos);
    return FinRun::Completado;
}

} // namespace zendral
