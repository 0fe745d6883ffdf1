#include "ComprobarCentro.h"

#include "Abreviaturas.h"
#include "CodePage.h"
#include "DbfTable.h"
#include "Tablas.h"

#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace zendral
{
namespace
{

using xml::AttributeText;

// An attribute the import reads: where it goes, and the field's width when it is a GestIB code
// (0 for other texts, whose cutting is part of how the tables are made).
struct Atributo
{
    const char* nombre;
    const char* campo;
    std::size_t anchoCodigo;
};

struct Seccion
{
    const char* seccion;
    const char* ruta;
    const char* elemento;
    const char* tabla;
    const char* contenido; // what the table lacks without the section
    std::vector<Atributo> atributos;
};

const std::vector<Seccion>& Secciones()
{
    static const std::vector<Seccion> kSecciones = {
        {"MATERIES",
         "/CENTRE/MATERIES/MATERIA",
         "MATERIA",
         "ASIGNOMT",
         "las materias",
         {{"codi", "CODI", 20},
          {"curs", "CODICURS", 20},
          {"descripcio", "NOMBRE", 0},
          {"curta", "CODLARGO", 0}}},
        {"ACTIVITATS",
         "/CENTRE/ACTIVITATS/ACTIVITAT",
         "ACTIVITAT",
         "ASIGNOMT",
         "las actividades",
         {{"codi", "CODI", 20}, {"descripcio", "NOMBRE", 0}, {"curta", "CODLARGO", 0}}},
        {"PLACES",
         "/CENTRE/PLACES/PLACA",
         "PLACA",
         "PROFT",
         "los profesores",
         {{"codi", "CODI", 40}, {"descripcio", "NOMBRE", 0}, {"curta", "ABREV", 0}}},
        {"AULES",
         "/CENTRE/AULES/AULA",
         "AULA",
         "AULAT",
         "las aulas",
         {{"codi", "CODI", 60}, {"descripcio", "NOMBRE", 0}}},
        {"CURSOS",
         "/CENTRE/CURSOS/CURS",
         "CURS",
         "CURSOST",
         "los cursos y sus grupos",
         {{"codi", "CODI", 20}, {"descripcio", "DESCRIPCIO", 0}}},
    };
    return kSecciones;
}

const Seccion kGrupos{"GRUP",    "GRUP",       "GRUP",
                      "GRUPOST", "los grupos", {{"codi", "CODI", 20}, {"nom", "GRUPO", 0}}};

// The attribute as the document holds it, trimmed as the import trims it (UTF-8).
std::optional<std::string> Original(const xml::Node& elemento, const char* nombre)
{
    const auto valor = elemento.getNamedItem(nombre);
    if (!valor) {
        return std::nullopt;
    }
    return std::string(cp1252::Trim(*valor));
}

// "MATERIA 2063541", or its position when it has no code: "MATERIA n.º 3".
std::string Nombrar(const char* elemento, const xml::Node& nodo, std::size_t posicion,
                    const std::string& sufijo = {})
{
    const std::string codi = Original(nodo, "codi").value_or("");
    if (!codi.empty()) {
        return std::string(elemento) + " " + TextoVisible(codi);
    }
    return std::string(elemento) + " n.º " + std::to_string(posicion) + sufijo;
}

std::string Posicion(const char* elemento, std::size_t posicion)
{
    return std::string(elemento) + " n.º " + std::to_string(posicion);
}

std::string Comillas(const std::string& utf8) { return "«" + utf8 + "»"; }

class Comprobador
{
public:
    explicit Comprobador(const xml::Document& doc)
        : m_doc(doc)
    {
    }

    ListaAvisos Todo()
    {
        if (!SeccionesPresentes()) {
            return std::move(m_avisos);
        }
        for (const Seccion& s : Secciones()) {
            std::map<std::string, std::string> vistos; // stored code -> first element
            std::size_t posicion = 0;
            for (const auto& nodo : m_doc.selectNodes(s.ruta)) {
                ++posicion;
                const std::string nombre = Nombrar(s.elemento, nodo, posicion);
                Elemento(s, nodo, nombre, Posicion(s.elemento, posicion), vistos);
                if (std::string(s.elemento) == "CURS") {
                    Grupos(nodo, nombre);
                }
            }
        }
        MateriasSinGrupo();
        return std::move(m_avisos);
    }

private:
    // False when the document has no section at all: that one warning says it all.
    bool SeccionesPresentes()
    {
        std::vector<const Seccion*> ausentes;
        for (const Seccion& s : Secciones()) {
            const std::string ruta = std::string("/CENTRE/") + s.seccion;
            if (!m_doc.selectSingleNode(ruta)) {
                ausentes.push_back(&s);
            }
        }
        if (ausentes.size() == Secciones().size()) {
            const xml::Node raiz = m_doc.selectSingleNode("/CENTRE");
            m_avisos.Agregar(
                {TipoAviso::Seccion, "", "", "", "CENTRE",
                 raiz ? "el documento no tiene ninguna sección (MATERIES, ACTIVITATS, PLACES, "
                        "AULES, CURSOS): todas las tablas quedan vacías"
                      : "el documento no es un documento de centro: todas las tablas quedan vacías"});
            return false;
        }
        for (const Seccion* s : ausentes) {
            m_avisos.Agregar({TipoAviso::Seccion, s->tabla, "", "", s->seccion,
                              std::string("falta en el documento: la tabla queda sin ") + s->contenido});
        }
        return true;
    }

    // `lugar` names the element by its position, for a later element with the same code.
    void Elemento(const Seccion& s, const xml::Node& nodo, const std::string& nombre,
                  const std::string& lugar, std::map<std::string, std::string>& vistos)
    {
        for (const Atributo& a : s.atributos) {
            const auto original = Original(nodo, a.nombre);
            if (!original) {
                continue;
            }
            // As AttributeText gives it to the stages: a character windows-1252 lacks or a
            // control character becomes "?".
            const std::string guardado = cp1252::FromUtf8ForTable(*original);
            const std::string valor = TextoVisible(*original);
            const bool esCodigo = a.anchoCodigo > 0;
            if (cp1252::ToUtf8(guardado) != *original) {
                std::string detalle = "se guarda como " + Comillas(cp1252::ToUtf8(guardado));
                if (esCodigo) {
                    detalle += "; con este código GestIB no reconocerá el elemento";
                }
                m_avisos.Agregar({TipoAviso::Conversion, s.tabla, nombre, a.campo, valor, detalle});
            }
            if (!esCodigo) {
                continue;
            }
            const std::string almacenado(cp1252::Left(guardado, a.anchoCodigo));
            if (guardado.size() > a.anchoCodigo) {
                m_avisos.Agregar({TipoAviso::Recorte, s.tabla, nombre, a.campo, valor,
                                  Recorte(s, a, guardado, almacenado)});
            }
            // Codes that only become equal when cut are told by the cut warning.
            if (std::string(a.nombre) == "codi" && !guardado.empty()) {
                const auto [it, nuevo] = vistos.emplace(guardado, lugar);
                if (!nuevo) {
                    m_avisos.Agregar({TipoAviso::Repetido, s.tabla, nombre, a.campo, valor,
                                      "el mismo código que " + it->second +
                                          ": la exportación solo reconocerá el primero"});
                }
            }
        }
    }

    std::string Recorte(const Seccion& s, const Atributo& a, const std::string& guardado,
                        const std::string& almacenado)
    {
        std::string detalle = "tiene " + std::to_string(guardado.size()) +
                              " caracteres y se guarda recortado a " + std::to_string(a.anchoCodigo) + ": " +
                              Comillas(cp1252::ToUtf8(almacenado));
        if (std::string(s.elemento) != "CURS") {
            return detalle;
        }
        // Stage 5 looks the whole code up in CURSOST, which keeps only its first 20 characters.
        detalle += "; sus grupos quedarán sin nivel ni curso";
        std::vector<std::string> otros;
        for (const auto& curs : m_doc.selectNodes("/CENTRE/CURSOS/CURS")) {
            const std::string codi = AttributeText(curs, "codi");
            if (codi != guardado && cp1252::Left(codi, a.anchoCodigo) == almacenado) {
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

    void Grupos(const xml::Node& curs, const std::string& nombreCurso)
    {
        std::size_t posicion = 0;
        for (const auto& grup : curs.selectNodes("GRUP")) {
            ++posicion;
            const std::string nombre = Nombrar("GRUP", grup, posicion, " de " + nombreCurso);
            Elemento(kGrupos, grup, nombre, Posicion("GRUP", posicion) + " de " + nombreCurso, m_grupos);
        }
    }

    void MateriasSinGrupo()
    {
        // GRUPOST keeps the course code cut to 20, and so does ASIGNOMT.
        std::set<std::string> conGrupos;
        for (const auto& curs : m_doc.selectNodes("/CENTRE/CURSOS/CURS")) {
            if (curs.selectNodes("GRUP").length() > 0) {
                conGrupos.insert(std::string(cp1252::Left(AttributeText(curs, "codi"), 20)));
            }
        }
        std::map<std::string, std::vector<std::string>> sinGrupo;
        std::vector<std::string> orden;
        for (const auto& materia : m_doc.selectNodes("/CENTRE/MATERIES/MATERIA")) {
            const std::string curso(cp1252::Left(AttributeText(materia, "curs"), 20));
            if (conGrupos.count(curso) != 0) {
                continue;
            }
            auto& lista = sinGrupo[curso];
            if (lista.empty()) {
                orden.push_back(curso);
            }
            lista.push_back(TextoVisible(Original(materia, "codi").value_or("")));
        }
        for (const std::string& curso : orden) {
            const auto& materias = sinGrupo[curso];
            std::string detalle = materias.size() == 1
                                      ? "1 materia de este curso"
                                      : std::to_string(materias.size()) + " materias de este curso";
            detalle += " no tendrá" + std::string(materias.size() == 1 ? "" : "n") +
                       " registro en MATIB ni líneas de asignaturas, porque el curso no tiene grupos (";
            for (std::size_t i = 0; i < materias.size() && i < 5; ++i) {
                detalle += (i == 0 ? "" : ", ") + materias[i];
            }
            detalle += materias.size() > 5 ? ", …)" : ")";
            m_avisos.Agregar({TipoAviso::SinGrupo, "MATIB", "", "CODICURS", cp1252::ToUtf8(curso), detalle});
        }
    }

    const xml::Document& m_doc;
    ListaAvisos m_avisos;
    std::map<std::string, std::string> m_grupos;
};

} // namespace

std::vector<RegistroCurso> LeerCursost(const std::filesystem::path& workDir)
{
    dbf::Table tabla("wwTableCursos", workDir, "CURSOST");
    tabla.Open(false);
    std::vector<RegistroCurso> registros;
    for (tabla.First(); !tabla.Eof(); tabla.Next()) {
        registros.push_back({tabla.FieldByName("CODI").AsString(), tabla.FieldByName("DESCRIPCIO").AsString(),
                             tabla.FieldByName("NIVEL").AsString(), tabla.FieldByName("CURSO").AsString()});
    }
    tabla.Close();
    return registros;
}

ListaAvisos ComprobarDocumento(const xml::Document& doc) { return Comprobador(doc).Todo(); }

ListaAvisos ComprobarNiveles(const xml::Document& doc, const std::vector<RegistroCurso>& cursost)
{
    // The groups stage takes the first CURSOST record of each code.
    std::unordered_map<std::string, const RegistroCurso*> porCodigo;
    for (const auto& r : cursost) {
        porCodigo.try_emplace(r.codi, &r);
    }
    ListaAvisos avisos;
    abrev::ListaOcupados ocupados(4, abrev::AcortarDosYDos);
    std::size_t posicion = 0;
    for (const auto& curs : doc.selectNodes("/CENTRE/CURSOS/CURS")) {
        ++posicion;
        const std::string codigo = AttributeText(curs, "codi");
        const auto grupos = curs.selectNodes("GRUP");
        if (grupos.length() == 0) {
            continue;
        }
        std::string nivel;
        std::string curso;
        if (const auto it = porCodigo.find(codigo); it != porCodigo.end()) {
            nivel = it->second->nivel;
            curso = it->second->curso;
        }
        const bool sinNivel = cp1252::Trim(nivel).empty();
        const bool sinCurso = cp1252::Trim(curso).empty();
        if (sinNivel || sinCurso) {
            const std::string falta = sinNivel && sinCurso ? "sin nivel ni curso"
                                      : sinNivel           ? "sin nivel"
                                                           : "sin curso";
            std::string detalle = grupos.length() == 1
                                      ? "su grupo queda " + falta
                                      : "sus " + std::to_string(grupos.length()) + " grupos quedan " + falta;
            if (codigo.size() > 20) {
                detalle += " (el código tiene más de 20 caracteres y no se encuentra en CURSOST)";
            }
            avisos.Agregar({TipoAviso::SinNivel, "GRUPOST", Nombrar("CURS", curs, posicion),
                            sinNivel ? "NIVEL" : "CURSO", cp1252::ToUtf8(codigo), detalle});
        }
        std::size_t posGrupo = 0;
        for (const auto& grup : grupos) {
            ++posGrupo;
            const std::string nom = AttributeText(grup, "nom");
            const std::string candidato =
                std::string(cp1252::Left(nivel, 2)) + std::string(cp1252::Left(curso, 1)) + nom;
            const std::string clave = ocupados.Asignar(candidato, cp1252::Left(candidato, 3));
            const std::string abreviatura = ocupados.Almacenado(clave);
            if (cp1252::Trim(cp1252::Left(abreviatura, 4)).empty()) {
                avisos.Agregar({TipoAviso::SinNivel, "GRUPOST",
                                Nombrar("GRUP", grup, posGrupo, " de " + Nombrar("CURS", curs, posicion)),
                                "ABREV", cp1252::ToUtf8(nom),
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
