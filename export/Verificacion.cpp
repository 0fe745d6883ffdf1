#include "Verificacion.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "DbfTable.h"
#include "Error.h"
#include "Exportacion.h"
#include "Informe.h"
#include "Sistema.h"

#include <cerrno>
#include <cmath>
#include <iterator>
#include <libxml/tree.h>
#include <optional>
#include <unordered_map>
#include <utility>

namespace zendral
{
namespace
{

constexpr const char* kAtributos[] = {"placa",  "curs", "grup",    "dia",      "hora",
                                      "durada", "aula", "materia", "activitat"};
constexpr std::size_t kNumAtributos = std::size(kAtributos);

// A lookup table read on its first use, the first record of each key winning, as the export
// reads it.
class Tabla
{
public:
    Tabla(const std::filesystem::path& workDir, const char* nombre, const char* clave,
          std::vector<const char*> campos)
        : m_tabla(std::string("Comprobar") + nombre, workDir, nombre)
        , m_clave(clave)
        , m_campos(std::move(campos))
    {
    }

    // The fields of the record whose key is `clave`, or nothing.
    const std::vector<std::string>* Buscar(const std::string& clave)
    {
        if (!m_leida) {
            m_tabla.Open();
            for (m_tabla.First(); !m_tabla.Eof(); m_tabla.Next()) {
                std::vector<std::string> valores;
                for (const char* campo : m_campos) {
                    valores.push_back(m_tabla.FieldByName(campo).AsString());
                }
                m_indice.try_emplace(m_tabla.FieldByName(m_clave).AsString(), std::move(valores));
            }
            m_tabla.Close();
            m_leida = true;
        }
        const auto it = m_indice.find(clave);
        return it == m_indice.end() ? nullptr : &it->second;
    }

private:
    dbf::Table m_tabla;
    const char* m_clave;
    std::vector<const char*> m_campos;
    bool m_leida = false;
    std::unordered_map<std::string, std::vector<std::string>> m_indice;
};

[[noreturn]] void Fallo(const std::string& que)
{
    throw Error("La comprobación de " + std::string(kArchivoHorario) + " ha fallado: " + que +
                ". Se conserva el documento anterior.");
}

// The attributes of an element, names and values, in document order (UTF-8).
std::vector<std::pair<std::string, std::string>> Atributos(const xml::Node& nodo)
{
    std::vector<std::pair<std::string, std::string>> atributos;
    for (const xmlAttr* a = nodo.raw()->properties; a != nullptr; a = a->next) {
        const std::string nombre(reinterpret_cast<const char*>(a->name));
        atributos.emplace_back(nombre, nodo.getNamedItem(nombre).value_or(""));
    }
    return atributos;
}

void Anotar(Comprobacion::SinRegistro& s, std::size_t numero, std::string valor)
{
    if (s.primeros.size() < Comprobacion::kPrimeros) {
        s.primeros.push_back({numero, std::move(valor)});
    }
    ++s.cuenta;
}

struct Descripcion
{
    const char* nombre;
    const char* tabla;
};
constexpr Descripcion kDescripciones[] = {{"profesor", "PROFT"},
                                          {"grupo", "GRUPOST"},
                                          {"aula", "AULAT"},
                                          {"materia", "ASIGNOMT"},
                                          {"día y hora", "DIASHORAST"}};

std::string Sesiones(std::size_t n) { return std::to_string(n) + (n == 1 ? " sesión" : " sesiones"); }

std::string Primeros(const Comprobacion::SinRegistro& s)
{
    std::string texto;
    for (std::size_t i = 0; i < s.primeros.size(); ++i) {
        texto +=
            (i == 0 ? "" : ", ") + std::to_string(s.primeros[i].numero) + " «" + s.primeros[i].valor + "»";
    }
    if (s.cuenta > s.primeros.size()) {
        texto += ", …";
    }
    return texto;
}

} // namespace

std::vector<std::string> Comprobacion::Lineas() const
{
    std::vector<std::string> lineas;
    lineas.push_back("Registros de SOLUC: " + std::to_string(registros));
    lineas.push_back("Sesiones escritas: " + std::to_string(sesiones) + " (comprobadas una a una)");
    lineas.push_back("Registros sin día (no se exportan): " + std::to_string(sinDia));
    lineas.push_back("Actividades: " + std::to_string(actividades));
    for (std::size_t k = 0; k < kBusquedas; ++k) {
        const auto& s = sinRegistro[k];
        std::string linea =
            std::string("Sin registro de ") + kDescripciones[k].nombre + ": " + std::to_string(s.cuenta);
        if (s.cuenta > 0) {
            linea += " (registros de SOLUC " + Primeros(s) + ")";
        }
        lineas.push_back(linea);
    }
    return lineas;
}

ListaAvisos Comprobacion::AvisosSinRegistro() const
{
    ListaAvisos avisos;
    for (std::size_t k = 0; k < kBusquedas; ++k) {
        const auto& s = sinRegistro[k];
        if (s.cuenta == 0) {
            continue;
        }
        const bool diaHora = k == DiaHora;
        avisos.Agregar({TipoAviso::SinRegistro, kDescripciones[k].tabla, "", "", s.primeros.front().valor,
                        Sesiones(s.cuenta) + " sin registro de " + kDescripciones[k].nombre + " en " +
                            kDescripciones[k].tabla +
                            (diaHora ? ": salen sin día, hora ni duración" : ": el atributo sale vacío") +
                            " (registros de SOLUC " + Primeros(s) + ")"});
    }
    return avisos;
}

Comprobacion ComprobarHorario(const std::filesystem::path& documento, const std::filesystem::path& workDir)
{
    const xml::Document doc = xml::Document::load(documento);
    const xml::Node raiz = doc.selectSingleNode("/HORARI");
    if (!raiz || raiz.raw()->next != nullptr || raiz.raw()->prev != nullptr) {
        Fallo("el documento no tiene HORARI como único elemento");
    }
    const xml::NodeList hijos = raiz.selectNodes("SESSIONS");
    if (hijos.length() != 1) {
        Fallo("HORARI no tiene exactamente un SESSIONS");
    }
    std::vector<xml::Node> sesiones;
    for (const xmlNode* n = hijos.item(0).raw()->children; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE || std::string(reinterpret_cast<const char*>(n->name)) != "SESSIO") {
            Fallo("SESSIONS contiene algo que no es una sesión");
        }
        sesiones.emplace_back(const_cast<xmlNode*>(n));
    }

    Comprobacion c;
    dbf::Table soluc("ComprobarSOLUC", workDir, "SOLUC");
    soluc.Open();
    Tabla profesores(workDir, "PROFT", "ABREV", {"CODI"});
    Tabla grupos(workDir, "GRUPOST", "ABREV", {"CODI", "CODICURS"});
    Tabla diasHoras(workDir, "DIASHORAST", "DIHO", {"DIA", "HORADESDE", "MINUTOS"});
    Tabla aulas(workDir, "AULAT", "ABREV", {"CODI"});
    Tabla asignaturas(workDir, "ASIGNOMT", "COD", {"CODI"});

    bool mediasHoras = false;
    for (soluc.First(); !soluc.Eof(); soluc.Next()) {
        const double hora = soluc.FieldByName("HORA").AsFloat();
        mediasHoras = mediasHoras || hora != std::trunc(hora);
        ++c.registros;
    }

    std::size_t numero = 0;
    for (soluc.First(); !soluc.Eof(); soluc.Next()) {
        ++numero;
        if (soluc.FieldByName("DIA").AsInteger() == 0) {
            ++c.sinDia;
            continue;
        }
        const std::string tarea = soluc.FieldByName("TAREA").AsString();
        const bool actividad = !cp1252::Trim(tarea).empty();
        c.actividades += actividad ? 1 : 0;

        std::array<std::string, kNumAtributos> esperado;
        // Looks `valor` up; a miss is counted unless the session is an activity, whose group,
        // room and subject are not exported.
        const auto buscar = [&](Tabla& tabla, Comprobacion::Busqueda tipo, const std::string& valor,
                                bool cuentaEnActividad) -> const std::vector<std::string>* {
            const auto* r = tabla.Buscar(valor);
            if (r == nullptr && (cuentaEnActividad || !actividad)) {
                Anotar(c.sinRegistro[tipo], numero, cp1252::ToUtf8(valor));
            }
            return r;
        };
        if (const auto* r =
                buscar(profesores, Comprobacion::Profesor, soluc.FieldByName("PROF").AsString(), true)) {
            esperado[0] = (*r)[0];
        }
        if (const auto* r =
                buscar(grupos, Comprobacion::Grupo, soluc.FieldByName("CODGRUPO").AsString(), false)) {
            esperado[1] = (*r)[1];
            esperado[2] = (*r)[0];
        }
        const double hora = soluc.FieldByName("HORA").AsFloat();
        if (!PeriodoEnRango(hora, mediasHoras)) {
            Fallo("el registro " + std::to_string(numero) + " de SOLUC tiene una HORA fuera de rango");
        }
        const std::string clave =
            soluc.FieldByName("DIA").AsString() + std::to_string(Periodo(hora, mediasHoras));
        if (const auto* r = buscar(diasHoras, Comprobacion::DiaHora, clave, true)) {
            esperado[3] = (*r)[0];
            esperado[4] = (*r)[1];
            esperado[5] = (*r)[2];
        }
        if (const auto* r = buscar(aulas, Comprobacion::Aula, soluc.FieldByName("AULA").AsString(), false)) {
            esperado[6] = (*r)[0];
        }
        if (const auto* r =
                buscar(asignaturas, Comprobacion::Materia, soluc.FieldByName("ASIG").AsString(), false)) {
            esperado[7] = (*r)[0];
        }
        esperado[8] = tarea;
        if (actividad) {
            esperado[1] = esperado[2] = esperado[6] = esperado[7] = "";
        }

        if (c.sesiones >= sesiones.size()) {
            Fallo("falta la sesión del registro " + std::to_string(numero) + " de SOLUC");
        }
        const auto atributos = Atributos(sesiones[c.sesiones]);
        ++c.sesiones;
        if (atributos.size() != kNumAtributos) {
            Fallo("la sesión " + std::to_string(c.sesiones) + " no tiene los nueve atributos");
        }
        for (std::size_t i = 0; i < kNumAtributos; ++i) {
            if (atributos[i].first != kAtributos[i]) {
                Fallo("la sesión " + std::to_string(c.sesiones) + " no tiene el atributo " + kAtributos[i] +
                      " en su lugar");
            }
            const std::string valor = cp1252::ToUtf8(esperado[i]);
            if (atributos[i].second != valor) {
                Fallo("el atributo " + std::string(kAtributos[i]) + " de la sesión " +
                      std::to_string(c.sesiones) + " (registro " + std::to_string(numero) +
                      " de SOLUC) dice «" + atributos[i].second + "» en lugar de «" + valor + "»");
            }
        }
    }
    soluc.Close();
    if (c.sesiones != sesiones.size()) {
        Fallo("el documento tiene " + Sesiones(sesiones.size()) + " y SOLUC da " + Sesiones(c.sesiones));
    }
    return c;
}

Comprobacion GuardarComprobado(const xml::Document& doc, const std::filesystem::path& destino,
                               const std::filesystem::path& workDir)
{
    // The new document in a temporary file of its own beside the old one (made exclusively, never
    // through a link), on disk before it is read back; removed unless it took the document's place.
    ArchivoNuevo nuevo(destino);
    int fallo = nuevo.Escribir(doc.toString());
    if (fallo == 0) {
        fallo = nuevo.Sincronizar();
    }
    // Closed before it is read back: Windows lets no other handle read a file locked exclusively.
    if (const int e = nuevo.Cerrar(); fallo == 0) {
        fallo = e;
    }
    if (fallo != 0) {
        throw Error("No se puede escribir el archivo " + TextoRuta(destino) + ": " + SystemReason(fallo));
    }
    Comprobacion c = ComprobarHorario(nuevo.Temporal(), workDir);
    if (const int err = nuevo.Confirmar(); err != 0) {
        throw Error("No se puede reemplazar el archivo " + TextoRuta(destino) + ": " + SystemReason(err));
    }
    return c;
}

} // namespace zendral
