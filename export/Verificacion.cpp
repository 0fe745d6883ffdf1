#include "Verificacion.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "DbfTable.h"
#include "Error.h"
#include "Informe.h"
#include "System.h"

#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <utility>

namespace zendral
{
namespace
{

[[noreturn]] void Fallo(const std::string& que)
{
    throw Error("La comprobación de " + std::string(kArchivoHorario) + " ha fallado: " + que +
                ". Se conserva el documento anterior.");
}

void Anotar(Comprobacion::SinRegistro& s, std::size_t numero, std::string valor)
{
    if (s.primeros.size() < Comprobacion::kPrimeros) {
        s.primeros.push_back({numero, std::move(valor)});
    }
    ++s.cuenta;
}

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

// The sessions of the document: HORARI alone at the top, holding exactly one SESSIONS, which
// holds nothing but SESSIO elements.
std::vector<xml::Node> LeerSesiones(const xml::Document& doc)
{
    const xml::NodeList arriba = doc.childNodes();
    const xml::Node raiz = arriba.item(0);
    if (arriba.length() != 1 || !raiz.isElement() || raiz.name() != kElementoHorari) {
        Fallo("el documento no tiene HORARI como único elemento");
    }
    const xml::NodeList hijos = raiz.selectNodes(kElementoSessions);
    if (hijos.length() != 1) {
        Fallo("HORARI no tiene exactamente un SESSIONS");
    }
    std::vector<xml::Node> sesiones;
    for (const xml::Node& n : hijos.item(0).childNodes()) {
        if (!n.isElement() || n.name() != kElementoSessio) {
            Fallo("SESSIONS contiene algo que no es una sesión");
        }
        sesiones.push_back(n);
    }
    return sesiones;
}

// What a SESSIO must say for a SOLUC record, found in the lookup tables read anew through tables
// of the check's own.
class SesionEsperada
{
public:
    SesionEsperada(const Horario& horario, dbf::Table& soluc, const std::filesystem::path& workDir)
        : m_horario(horario)
        , m_origenes(horario.Origenes())
        , m_soluc(soluc)
    {
        for (const Horario::Tabla& declarada : horario.busquedas) {
            const std::string nombre = declarada.nombre;
            m_tablas.push_back(std::make_unique<dbf::Table>("Comprobar" + nombre, workDir, nombre));
            m_busquedas.emplace_back(*m_tablas.back(), declarada);
        }
    }

    // The attributes' values (UTF-8) for the current record, number `numero` of SOLUC; counts it
    // in `c` as an activity and under each lookup that finds no record for it.
    std::vector<std::string> Valores(std::size_t numero, bool mediasHoras, Comprobacion& c)
    {
        const std::string tarea = m_soluc.FieldByName(m_horario.actividad.campo).AsString();
        const bool actividad = !cp1252::Trim(tarea).empty();
        c.actividades += actividad ? 1 : 0;
        std::array<const std::vector<std::string>*, Horario::kBusquedas> encontrados{};
        std::array<bool, Horario::kBusquedas> buscado{};
        std::vector<std::string> valores;
        for (std::size_t i = 0; i < m_origenes.size(); ++i) {
            const Horario::Origen& origen = m_origenes[i];
            if (!origen.busqueda) {
                valores.push_back(cp1252::ToUtf8(tarea));
                continue;
            }
            const Horario::Busqueda b = *origen.busqueda;
            if (!buscado[b]) {
                buscado[b] = true;
                encontrados[b] = Buscar(b, numero, mediasHoras, actividad, c);
            }
            const bool vacio =
                encontrados[b] == nullptr || (actividad && !m_horario.atributos[i].enActividad);
            valores.push_back(vacio ? std::string() : cp1252::ToUtf8((*encontrados[b])[origen.valor]));
        }
        return valores;
    }

private:
    const Horario& m_horario;
    std::vector<Horario::Origen> m_origenes;
    dbf::Table& m_soluc;
    std::vector<std::unique_ptr<dbf::Table>> m_tablas;
    std::vector<TablaBusqueda> m_busquedas;

    // The record lookup `b` finds, or nothing; a miss is counted unless the session is an
    // activity that carries nothing the lookup gives.
    const std::vector<std::string>* Buscar(Horario::Busqueda b, std::size_t numero, bool mediasHoras,
                                           bool actividad, Comprobacion& c)
    {
        const std::optional<std::string> texto = TextoBuscado(m_horario.busquedas[b], m_soluc, mediasHoras);
        if (!texto) {
            Fallo("el registro " + std::to_string(numero) + " de SOLUC tiene una HORA fuera de rango");
        }
        const std::vector<std::string>* encontrado = m_busquedas[b].Buscar(*texto);
        if (encontrado == nullptr && (!actividad || m_horario.CuentaEnActividad(b))) {
            Anotar(c.sinRegistro[b], numero, cp1252::ToUtf8(*texto));
        }
        return encontrado;
    }
};

} // namespace

std::vector<std::string> Comprobacion::Lineas(const Horario& horario) const
{
    std::vector<std::string> lineas;
    lineas.push_back("Registros de SOLUC: " + std::to_string(registros));
    lineas.push_back("Sesiones escritas: " + std::to_string(sesiones) + " (comprobadas una a una)");
    lineas.push_back("Registros sin día (no se exportan): " + std::to_string(sinDia));
    lineas.push_back("Actividades: " + std::to_string(actividades));
    for (std::size_t k = 0; k < kBusquedas; ++k) {
        const auto& s = sinRegistro[k];
        std::string linea =
            std::string("Sin registro de ") + horario.busquedas[k].que + ": " + std::to_string(s.cuenta);
        if (s.cuenta > 0) {
            linea += " (registros de SOLUC " + Primeros(s) + ")";
        }
        lineas.push_back(linea);
    }
    return lineas;
}

ListaAvisos Comprobacion::AvisosSinRegistro(const Horario& horario) const
{
    ListaAvisos avisos;
    for (std::size_t k = 0; k < kBusquedas; ++k) {
        const auto& s = sinRegistro[k];
        if (s.cuenta == 0) {
            continue;
        }
        const Horario::Tabla& tabla = horario.busquedas[k];
        const bool diaHora = k == DiaHora;
        avisos.Agregar({TipoAviso::SinRegistro, tabla.nombre, "", "", s.primeros.front().valor,
                        Sesiones(s.cuenta) + " sin registro de " + tabla.que + " en " + tabla.nombre +
                            (diaHora ? ": salen sin día, hora ni duración" : ": el atributo sale vacío") +
                            " (registros de SOLUC " + Primeros(s) + ")"});
    }
    return avisos;
}

Comprobacion ComprobarHorario(const std::filesystem::path& documento, const std::filesystem::path& workDir,
                              const Horario& horario)
{
    const xml::Document doc = xml::Document::load(documento);
    const std::vector<xml::Node> sesiones = LeerSesiones(doc);
    Comprobacion c;
    dbf::Table soluc("ComprobarSOLUC", workDir, "SOLUC");
    soluc.Open();
    SesionEsperada esperada(horario, soluc, workDir);
    const bool mediasHoras = MediasHoras(soluc);
    for (soluc.First(); !soluc.Eof(); soluc.Next()) {
        const std::size_t numero = ++c.registros;
        if (!TieneDia(soluc)) {
            ++c.sinDia;
            continue;
        }
        const std::vector<std::string> valores = esperada.Valores(numero, mediasHoras, c);
        if (c.sesiones >= sesiones.size()) {
            Fallo("falta la sesión del registro " + std::to_string(numero) + " de SOLUC");
        }
        const auto atributos = sesiones[c.sesiones].attributes();
        ++c.sesiones;
        if (atributos.size() != valores.size()) {
            Fallo("la sesión " + std::to_string(c.sesiones) + " tiene " + std::to_string(atributos.size()) +
                  " atributos en lugar de " + std::to_string(valores.size()));
        }
        for (std::size_t i = 0; i < valores.size(); ++i) {
            const char* nombre = horario.atributos[i].nombre;
            if (atributos[i].first != nombre) {
                Fallo("la sesión " + std::to_string(c.sesiones) + " no tiene el atributo " + nombre +
                      " en su lugar");
            }
            if (atributos[i].second != valores[i]) {
                Fallo("el atributo " + std::string(nombre) + " de la sesión " + std::to_string(c.sesiones) +
                      " (registro " + std::to_string(numero) + " de SOLUC) dice «" + atributos[i].second +
                      "» en lugar de «" + valores[i] + "»");
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
                               const std::filesystem::path& workDir, const Horario& horario)
{
    // The new document in a temporary file of its own beside the old one (made exclusively, never
    // through a link), on disk before it is read back; removed unless it took the document's place.
    NewFile nuevo(destino);
    int fallo = nuevo.Write(doc.toString());
    if (fallo == 0) {
        fallo = nuevo.Sync();
    }
    // Closed before it is read back: Windows lets no other handle read a file locked exclusively.
    if (const int e = nuevo.Close(); fallo == 0) {
        fallo = e;
    }
    if (fallo != 0) {
        throw Error("No se puede escribir el archivo " + TextoRuta(destino) + ": " + SystemReason(fallo));
    }
    Comprobacion c = ComprobarHorario(nuevo.temporary(), workDir, horario);
    if (const int err = nuevo.Commit(); err != 0) {
        throw Error("No se puede reemplazar el archivo " + TextoRuta(destino) + ": " + SystemReason(err));
    }
    return c;
}

} // namespace zendral
