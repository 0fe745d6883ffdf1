#include "Centro.h"

#include "Abreviaturas.h"
#include "CodePage.h"
#include "DbfTable.h"

#include <unordered_map>

namespace zendral
{

Atributos::Atributos(const tablas::Seccion& seccion, const xml::Node& elemento)
    : m_seccion(seccion)
{
    m_valores.reserve(seccion.origenes.size());
    for (const auto& origen : seccion.origenes) {
        m_valores.push_back(xml::AttributeText(elemento, origen.atributo));
    }
}

const std::string& Atributos::operator[](std::string_view campo) const
{
    return m_valores[m_seccion.Indice(campo)];
}

std::vector<RegistroCurso> LeerCursost(const std::filesystem::path& workDir, bool exclusiva)
{
    dbf::Table tabla("wwTableCursos", workDir, tablas::kCursost.nombre);
    tabla.Open(exclusiva);
    std::vector<RegistroCurso> registros;
    for (tabla.First(); !tabla.Eof(); tabla.Next()) {
        registros.push_back({tabla.FieldByName("CODI").AsString(), tabla.FieldByName("DESCRIPCIO").AsString(),
                             tabla.FieldByName("NIVEL").AsString(), tabla.FieldByName("CURSO").AsString()});
    }
    tabla.Close();
    return registros;
}

std::vector<CursoGrupos> FilasGrupos(const xml::Document& doc, const std::vector<RegistroCurso>& cursost)
{
    std::unordered_map<std::string, const RegistroCurso*> porCodigo;
    for (const auto& r : cursost) {
        porCodigo.try_emplace(r.codi, &r);
    }
    abrev::ListaOcupados ocupados(tablas::kGrupost.Ancho("ABREV"), abrev::AcortarDosYDos);
    std::vector<CursoGrupos> cursos;
    for (const auto& curs : doc.selectNodes(tablas::kCursos.ruta)) {
        CursoGrupos c{curs, Atributos(tablas::kCursos, curs)["CODI"], {}, {}, {}, {}};
        if (const auto it = porCodigo.find(c.codi); it != porCodigo.end()) {
            c.nivel = it->second->nivel;
            c.curso = it->second->curso;
            c.descripcion = it->second->descripcio;
        }
        for (const auto& grup : curs.selectNodes(tablas::kGrups.ruta)) {
            const Atributos grupo(tablas::kGrups, grup);
            const std::string& nom = grupo["GRUPO"];
            const std::string& codi = grupo["CODI"];
            // Level's first 2 characters, course number's first, then the whole name.
            const std::string candidato =
                std::string(cp1252::Left(c.nivel, 2)) + std::string(cp1252::Left(c.curso, 1)) + nom;
            const std::string clave = ocupados.Asignar(candidato, cp1252::Left(candidato, 3));
            c.grupos.push_back({grup, clave, ocupados.Almacenado(clave), nom, codi,
                                "(" + codi + ") " + c.descripcion + " - " + nom});
        }
        cursos.push_back(std::move(c));
    }
    return cursos;
}

} // namespace zendral
