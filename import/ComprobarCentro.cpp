#include "ComprobarCentro.h"

#include "CodePage.h"
#include "Tablas.h"

#include <map>
#include <optional>
#include <set>

namespace zendral
{
namespace
{

using tablas::Dato;
using tablas::Origen;
using tablas::Seccion;
using xml::AttributeText;

// The attribute as the document holds it, trimmed as the import trims it (UTF-8).
std::optional<std::string> Original(const xml::Node& elemento, const std::string& nombre)
{
    const auto valor = elemento.getNamedItem(nombre);
    if (!valor) {
        return std::nullopt;
    }
    return std::string(cp1252::Trim(*valor));
}

// The attribute that holds the element's own GestIB code; empty when the section has none.
std::string AtributoCodigo(const Seccion& s)
{
    for (const Origen& o : s.origenes) {
        if (o.dato == Dato::Codigo) {
            return o.atributo;
        }
    }
    return {};
}

std::string Posicion(const Seccion& s, std::size_t posicion)
{
    return s.Elemento() + " n.º " + std::to_string(posicion);
}

// "MATERIA 2063541", or its position when it has no code: "MATERIA n.º 3" followed by `sufijo`.
std::string Nombrar(const Seccion& s, const xml::Node& nodo, std::size_t posicion,
                    const std::string& sufijo = {})
{
    const std::string codi = Original(nodo, AtributoCodigo(s)).value_or("");
    if (!codi.empty()) {
        return s.Elemento() + " " + TextoVisible(codi);
    }
    return Posicion(s, posicion) + sufijo;
}

std::string Comillas(const std::string& utf8) { return "«" + utf8 + "»"; }

// False when the document has no section at all: that one warning says it all.
bool SeccionesPresentes(const xml::Document& doc, ListaAvisos& avisos)
{
    std::vector<const Seccion*> ausentes;
    std::size_t secciones = 0;
    std::string nombres;
    for (const Seccion* s : tablas::SeccionesCentro()) {
        if (s->RutaSeccion().empty()) {
            continue;
        }
        ++secciones;
        nombres += (nombres.empty() ? "" : ", ") + s->Nombre();
        if (!doc.selectSingleNode(s->RutaSeccion())) {
            ausentes.push_back(s);
        }
    }
    if (ausentes.size() == secciones) {
        const xml::Node raiz = doc.selectSingleNode("/CENTRE");
        avisos.Agregar(
            {TipoAviso::Seccion, "", "", "", "CENTRE",
             raiz ? "el documento no tiene ninguna sección (" + nombres + "): todas las tablas quedan vacías"
                  : "el documento no es un documento de centro: todas las tablas quedan vacías"});
        return false;
    }
    for (const Seccion* s : ausentes) {
        avisos.Agregar({TipoAviso::Seccion, s->tabla.nombre, "", "", s->Nombre(),
                        "falta en el documento: la tabla queda sin " + s->contenido});
    }
    return true;
}

// The cut-code warning's detail: what cutting `guardado` to `almacenado` does.
std::string Recorte(const xml::Document& doc, const Seccion& s, const Origen& o, const std::string& guardado,
                    const std::string& almacenado)
{
    const std::size_t ancho = s.Ancho(o.campo);
    std::string detalle = "tiene " + std::to_string(guardado.size()) +
                          " caracteres y se guarda recortado a " + std::to_string(ancho) + ": " +
                          Comillas(cp1252::ToUtf8(almacenado));
    if (&s != &tablas::kCursos || o.dato != Dato::Codigo) {
        return detalle;
    }
    // The groups stage looks the whole code up in CURSOST, which keeps only its cut form.
    detalle += "; sus grupos quedarán sin nivel ni curso";
    std::vector<std::string> otros;
    for (const auto& curs : doc.selectNodes(s.ruta)) {
        const std::string codi = AttributeText(curs, o.atributo);
        if (codi != guardado && cp1252::Left(codi, ancho) == almacenado) {
            otros.push_back(Comillas(cp1252::ToUtf8(codi)));
        }
    }
    if (!otros.empty()) {
        detalle += ", y se confunde con ";
        detalle += otros.size() == 1 ? "el curso " : "los cursos ";
        for (std::size_t i = 0; i < otros.size(); ++i) {
            detalle += (i == 0 ? "" : ", ") + otros[i];
        }
    }
    return detalle;
}

// What each element of the sections loses or changes: characters, cut codes, repeated codes.
class Comprobador
{
public:
    Comprobador(const xml::Document& doc, ListaAvisos& avisos)
        : m_doc(doc)
        , m_avisos(avisos)
    {
    }

    // Every section, as the import reads them.
    void Secciones()
    {
        for (const Seccion* s : tablas::SeccionesCentro()) {
            if (s->dentroDe == nullptr) {
                Elementos(*s, m_doc.selectNodes(s->ruta), "");
            }
        }
    }

private:
    // The elements of `s`, then those of the sections that lie in each; `de` names the element
    // they lie in (" de CURS C1").
    void Elementos(const Seccion& s, const xml::NodeList& nodos, const std::string& de)
    {
        std::size_t posicion = 0;
        for (const auto& nodo : nodos) {
            ++posicion;
            const std::string nombre = Nombrar(s, nodo, posicion, de);
            Elemento(s, nodo, nombre, Posicion(s, posicion) + de);
            for (const Seccion* dentro : tablas::SeccionesCentro()) {
                if (dentro->dentroDe == &s) {
                    Elementos(*dentro, nodo.selectNodes(dentro->ruta), " de " + nombre);
                }
            }
        }
    }

    // `lugar` names the element by its position, for a later element with the same code.
    void Elemento(const Seccion& s, const xml::Node& nodo, const std::string& nombre,
                  const std::string& lugar)
    {
        for (const Origen& o : s.origenes) {
            const auto original = Original(nodo, o.atributo);
            if (!original) {
                continue;
            }
            // As AttributeText gives it to the stages: a character windows-1252 lacks or a
            // control character becomes "?".
            const std::string guardado = cp1252::FromUtf8ForTable(*original);
            const std::string valor = TextoVisible(*original);
            if (cp1252::ToUtf8(guardado) != *original) {
                std::string detalle = "se guarda como " + Comillas(cp1252::ToUtf8(guardado));
                if (o.dato != Dato::Texto) {
                    detalle += "; con este código GestIB no reconocerá el elemento";
                }
                m_avisos.Agregar({TipoAviso::Conversion, s.tabla.nombre, nombre, o.campo, valor, detalle});
            }
            // The cutting of other texts is part of how the tables are made.
            if (o.dato == Dato::Texto) {
                continue;
            }
            const std::size_t ancho = s.Ancho(o.campo);
            const std::string almacenado(cp1252::Left(guardado, ancho));
            if (guardado.size() > ancho) {
                m_avisos.Agregar({TipoAviso::Recorte, s.tabla.nombre, nombre, o.campo, valor,
                                  Recorte(m_doc, s, o, guardado, almacenado)});
            }
            // Codes that only become equal when cut are told by the cut warning.
            if (o.dato == Dato::Codigo && !guardado.empty()) {
                const auto [it, nuevo] = m_vistos[&s].emplace(guardado, lugar);
                if (!nuevo) {
                    m_avisos.Agregar({TipoAviso::Repetido, s.tabla.nombre, nombre, o.campo, valor,
                                      "el mismo código que " + it->second +
                                          ": la exportación solo reconocerá el primero"});
                }
            }
        }
    }

    const xml::Document& m_doc;
    ListaAvisos& m_avisos;
    // Per section, each GestIB code met and where it was met first.
    std::map<const Seccion*, std::map<std::string, std::string>> m_vistos;
};

// Subjects whose course has no group get no MATIB record and no subject line.
void MateriasSinGrupo(const xml::Document& doc, ListaAvisos& avisos)
{
    const Seccion& cursos = tablas::kCursos;
    const Seccion& materias = tablas::kMateries;
    // GRUPOST and ASIGNOMT each keep the course code cut to their CODICURS.
    std::set<std::string> conGrupos;
    for (const auto& curs : doc.selectNodes(cursos.ruta)) {
        if (curs.selectNodes(tablas::kGrups.ruta).length() > 0) {
            conGrupos.insert(std::string(cp1252::Left(AttributeText(curs, cursos.Atributo("CODI")),
                                                      tablas::kGrupost.Ancho("CODICURS"))));
        }
    }
    std::map<std::string, std::vector<std::string>> sinGrupo;
    std::vector<std::string> orden;
    for (const auto& materia : doc.selectNodes(materias.ruta)) {
        const std::string curso(
            cp1252::Left(AttributeText(materia, materias.Atributo("CODICURS")), materias.Ancho("CODICURS")));
        if (conGrupos.count(curso) != 0) {
            continue;
        }
        auto& lista = sinGrupo[curso];
        if (lista.empty()) {
            orden.push_back(curso);
        }
        lista.push_back(TextoVisible(Original(materia, materias.Atributo("CODI")).value_or("")));
    }
    for (const std::string& curso : orden) {
        const auto& lista = sinGrupo[curso];
        std::string detalle = lista.size() == 1 ? "1 materia de este curso"
                                                : std::to_string(lista.size()) + " materias de este curso";
        detalle += " no tendrá" + std::string(lista.size() == 1 ? "" : "n") +
                   " registro en MATIB ni líneas de asignaturas, porque el curso no tiene grupos (";
        for (std::size_t i = 0; i < lista.size() && i < 5; ++i) {
            detalle += (i == 0 ? "" : ", ") + lista[i];
        }
        detalle += lista.size() > 5 ? ", …)" : ")";
        avisos.Agregar(
            {TipoAviso::SinGrupo, tablas::kMatib.nombre, "", "CODICURS", cp1252::ToUtf8(curso), detalle});
    }
}

} // namespace

ListaAvisos ComprobarDocumento(const xml::Document& doc)
{
    ListaAvisos avisos;
    if (SeccionesPresentes(doc, avisos)) {
        Comprobador(doc, avisos).Secciones();
        MateriasSinGrupo(doc, avisos);
    }
    return avisos;
}

ListaAvisos ComprobarNiveles(const xml::Document& doc, const std::vector<RegistroCurso>& cursost)
{
    return ComprobarNiveles(FilasGrupos(doc, cursost));
}

ListaAvisos ComprobarNiveles(const std::vector<CursoGrupos>& cursos)
{
    const Seccion& seccion = tablas::kCursos;
    ListaAvisos avisos;
    std::size_t posicion = 0;
    for (const CursoGrupos& c : cursos) {
        ++posicion;
        if (c.grupos.empty()) {
            continue;
        }
        const std::string nombre = Nombrar(seccion, c.curs, posicion);
        const bool sinNivel = cp1252::Trim(c.nivel).empty();
        const bool sinCurso = cp1252::Trim(c.curso).empty();
        if (sinNivel || sinCurso) {
            const std::string falta = sinNivel && sinCurso ? "sin nivel ni curso"
                                      : sinNivel           ? "sin nivel"
                                                           : "sin curso";
            std::string detalle = c.grupos.size() == 1
                                      ? "su grupo queda " + falta
                                      : "sus " + std::to_string(c.grupos.size()) + " grupos quedan " + falta;
            // CURSOST keeps the code cut, and the groups stage looks the whole code up.
            if (c.codi.size() > seccion.Ancho("CODI")) {
                detalle += " (el código tiene más de " + std::to_string(seccion.Ancho("CODI")) +
                           " caracteres y no se encuentra en " + seccion.tabla.nombre + ")";
            }
            avisos.Agregar({TipoAviso::SinNivel, tablas::kGrupost.nombre, nombre,
                            sinNivel ? "NIVEL" : "CURSO", cp1252::ToUtf8(c.codi), detalle});
        }
        std::size_t posGrupo = 0;
        for (const FilaGrupo& g : c.grupos) {
            ++posGrupo;
            if (cp1252::Trim(cp1252::Left(g.abrev, tablas::kGrupost.Ancho("ABREV"))).empty()) {
                avisos.Agregar({TipoAviso::SinNivel, tablas::kGrupost.nombre,
                                Nombrar(tablas::kGrups, g.grup, posGrupo, " de " + nombre), "ABREV",
                                cp1252::ToUtf8(g.nom),
                                "la abreviatura del grupo queda vacía: Velorin no lo distinguirá"});
            }
        }
    }
    return avisos;
}

std::string CodigoCentro(const xml::Document& doc)
{
    return cp1252::ToUtf8(AttributeText(doc.selectSingleNode("/CENTRE"), "codi"));
}

} // namespace zendral
