#include "Exportacion.h"

#include "AtomicFile.h"
#include "CarpetaZendral.h"
#include "CodePage.h"
#include "DbfTable.h"
#include "Error.h"
#include "Informe.h"
#include "Mensajes.h"
#include "Prompter.h"
#include "RunLock.h"

#include <array>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zendral
{
namespace
{

// Where a text of the document came from: " (tabla T, campo F, registro N)".
std::string Donde(const dbf::Table& tabla, const std::string& campo, std::size_t registro)
{
    return " (tabla " + tabla.TableName() + ", campo " + campo + ", registro " + std::to_string(registro) +
           ")";
}

// Sets attribute `atributo` of `sesion` to `ansi`; a text the document cannot hold is reported
// with where it came from, as `donde()` says.
template <class Lugar>
void Poner(xml::Node& sesion, const char* atributo, const std::string& ansi, Lugar donde)
{
    try {
        sesion.setAttribute(atributo, cp1252::ToUtf8(ansi));
    } catch (const Error& e) {
        throw Error(e.what() + donde());
    }
}

// Writes SOLUC's records as SESSIO elements, by the session mapping.
class EscritorSesiones
{
public:
    EscritorSesiones(const Horario& horario, dbf::Table& soluc, const std::vector<dbf::Table*>& tablas)
        : m_horario(horario)
        , m_origenes(horario.Origenes())
        , m_soluc(soluc)
    {
        for (const Horario::Tabla& declarada : horario.busquedas) {
            m_busquedas.emplace_back(Objeto(tablas, declarada.nombre), declarada);
        }
    }

    // The SESSIO of the current record, appended to `sesiones`.
    void Escribir(xml::Document& doc, xml::Node& sesiones, bool mediasHoras)
    {
        // Attached at once, so that the document owns it whatever happens next; the attributes
        // come out in the order they are first set.
        xml::Node sesion = sesiones.appendChild(doc.createElement(kElementoSessio));
        std::array<std::optional<std::string>, Horario::kBusquedas> buscados;
        std::optional<std::string> actividad;
        for (std::size_t i = 0; i < m_origenes.size(); ++i) {
            const char* atributo = m_horario.atributos[i].nombre;
            const Horario::Origen& origen = m_origenes[i];
            if (!origen.busqueda) {
                actividad = m_soluc.FieldByName(m_horario.actividad.campo).AsString();
                Poner(sesion, atributo, *actividad,
                      [&] { return Donde(m_soluc, m_horario.actividad.campo, m_soluc.RecordNumber()); });
                continue;
            }
            const Horario::Busqueda b = *origen.busqueda;
            if (!buscados[b]) {
                buscados[b] = Buscado(m_horario.busquedas[b], mediasHoras);
            }
            TablaBusqueda& busqueda = m_busquedas[b];
            const std::string& buscado = *buscados[b];
            const std::vector<std::string>* valores = busqueda.Buscar(buscado);
            Poner(sesion, atributo, valores != nullptr ? (*valores)[origen.valor] : std::string(), [&] {
                return Donde(busqueda.tabla(), m_horario.busquedas[b].valores[origen.valor].campo,
                             busqueda.Registro(buscado));
            });
        }
        if (!actividad) {
            actividad = m_soluc.FieldByName(m_horario.actividad.campo).AsString();
        }
        if (!cp1252::Trim(*actividad).empty()) {
            for (const Horario::Atributo& a : m_horario.atributos) {
                if (!a.enActividad) {
                    sesion.setAttribute(a.nombre, "");
                }
            }
        }
    }

private:
    const Horario& m_horario;
    std::vector<Horario::Origen> m_origenes;
    dbf::Table& m_soluc;
    std::vector<TablaBusqueda> m_busquedas;

    static dbf::Table& Objeto(const std::vector<dbf::Table*>& tablas, const std::string& nombre)
    {
        for (dbf::Table* t : tablas) {
            if (t->TableName() == nombre) {
                return *t;
            }
        }
        throw std::logic_error("La exportación no abre la tabla " + nombre);
    }

    std::string Buscado(const Horario::Tabla& tabla, bool mediasHoras)
    {
        std::optional<std::string> texto = TextoBuscado(tabla, m_soluc, mediasHoras);
        if (!texto) {
            throw Error("El valor " + cp1252::ToUtf8(m_soluc.FieldByName(kCampoHora).AsString()) +
                        " del campo " + kCampoHora + " del registro " +
                        std::to_string(m_soluc.RecordNumber()) + " de la tabla " + m_soluc.TableName() +
                        " está fuera de rango");
        }
        return std::move(*texto);
    }
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

} // namespace

Exportacion::Exportacion(EstadoProceso& estado, Prompter& prompter, std::filesystem::path workDir,
                         const Horario& horario)
    : m_estado(estado)
    , m_prompter(prompter)
    , m_workDir(std::move(workDir))
    , m_horario(horario)
{
}

void Exportacion::EscribirInforme(const std::string& resultado)
{
    if (m_informeEscrito) {
        return;
    }
    m_informeEscrito = true;
    Informe informe{
        "Exportación del horario",        m_salida, resultado, {{"SOLUC", m_comprobacion.registros}},
        m_comprobacion.Lineas(m_horario), m_avisos};
    try {
        m_informe = zendral::EscribirInforme(m_workDir, informe, std::time(nullptr));
        m_prompter.InformeEscrito(m_informe);
    } catch (const Error& e) {
        m_avisos.Agregar({TipoAviso::Informe, "", "", "", TextoRuta(CarpetaZendral(m_workDir) / "informes"),
                          std::string("no se ha podido escribir el informe: ") + e.what()});
    }
}

bool Exportacion::ElegirDestino()
{
    ElegirArchivo(m_estado, m_prompter);
    std::error_code ec;
    const auto& elegido = m_estado.archivoElegido;
    const bool esDirectorio = !elegido.empty() && std::filesystem::is_directory(elegido, ec);
    if (elegido.empty() || (!esDirectorio && !std::filesystem::exists(elegido, ec))) {
        m_prompter.Mensaje(msg::kNoExisteArchivo);
        if (m_estado.LanzadoPorHost()) {
            m_estado.codigoResultado = 0;
        }
        return false;
    }
    m_salida = (esDirectorio ? elegido : elegido.parent_path()) / kArchivoHorario;
    return true;
}

xml::Node Exportacion::NuevoDocumento()
{
    m_estado.documento.emplace();
    xml::Document& doc = *m_estado.documento;
    const std::string raiz = std::string("/") + kElementoHorari;
    doc.appendChild(doc.createElement(kElementoHorari));
    doc.selectSingleNode(raiz).appendChild(doc.createElement(kElementoSessions));
    return doc.selectSingleNode(raiz + "/" + kElementoSessions);
}

void Exportacion::EscribirSesiones(xml::Document& doc, xml::Node& sesiones)
{
    dbf::Table wwTableSoluc("wwTableSoluc", m_workDir, "SOLUC");
    dbf::Table wwTableProfesor("wwTableProfesor", m_workDir, "PROFT");
    dbf::Table wwTableAulas("wwTableAulas", m_workDir, "AULAT");
    dbf::Table wwTableNomAsg("wwTableNomAsg", m_workDir, "ASIGNOMT");
    dbf::Table wwTableGrupos("wwTableGrupos", m_workDir, "GRUPOST");
    dbf::Table wwTableDiasHoras("wwTableDiasHoras", m_workDir, "DIASHORAST");
    const std::vector<dbf::Table*> apertura = {&wwTableSoluc,  &wwTableProfesor, &wwTableAulas,
                                               &wwTableNomAsg, &wwTableGrupos,   &wwTableDiasHoras};
    TablasAbiertas tablas(apertura);

    EscritorSesiones escritor(m_horario, wwTableSoluc, apertura);
    const bool mediasHoras = MediasHoras(wwTableSoluc);
    for (wwTableSoluc.First(); !wwTableSoluc.Eof(); wwTableSoluc.Next()) {
        if (TieneDia(wwTableSoluc)) {
            escritor.Escribir(doc, sesiones, mediasHoras);
            ++m_sesiones;
        }
    }
    tablas.Cerrar(
        {&wwTableSoluc, &wwTableGrupos, &wwTableProfesor, &wwTableAulas, &wwTableNomAsg, &wwTableDiasHoras});
}

FinRun Exportacion::BImportarClick()
{
    m_sesiones = 0;
    m_comprobacion = {};
    m_avisos.clear();
    m_informe.clear();
    if (!ElegirDestino()) {
        return FinRun::SinArchivo;
    }
    // Before anything else: the six tables locked for the whole run, and a destination that
    // takes new files.
    const RunLock cerrojo(
        m_workDir, {"SOLUC.DBF", "PROFT.DBF", "AULAT.DBF", "ASIGNOMT.DBF", "GRUPOST.DBF", "DIASHORAST.DBF"},
        false, ArchivoRun(m_workDir));
    CheckWritableDirectory(m_salida.parent_path(), "la carpeta de destino");
    // Documents that killed runs left half-written beside the destination.
    RemoveOrphans(m_salida.parent_path(), {m_salida.filename().string()});
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

    xml::Node sesiones = NuevoDocumento();
    xml::Document& doc = *m_estado.documento;
    CursorOcupado cursor(m_prompter);
    m_prompter.Etapa("1 de 2: sesiones del horario resuelto (SOLUC)");
    EscribirSesiones(doc, sesiones);

    // The document replaces the previous one only once it has been read back and found to hold
    // what SOLUC says.
    m_prompter.Etapa("2 de 2: escritura y comprobación de " + std::string(kArchivoHorario));
    try {
        m_comprobacion = GuardarComprobado(doc, m_salida, m_workDir, m_horario);
    } catch (const Error& e) {
        EscribirInforme(std::string("error: ") + e.what());
        throw;
    }
    m_avisos = m_comprobacion.AvisosSinRegistro(m_horario);
    cursor.Restaurar();
    m_estado.codigoResultado = 1;
    EscribirInforme("completado");
    m_prompter.MensajeFinal(msg::kProcesoFinalizado, m_avisos);
    return FinRun::Completado;
}

} // namespace zendral
