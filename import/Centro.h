#pragma once

#include "Tablas.h"
#include "XmlDocument.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The centre document as the import reads it, through the sections that Tablas declares: the
// stages write from this and the checks warn from it.
namespace zendral
{

// The attributes of one element of a section, read in the declared order as the stages read them
// (AttributeText: trimmed, windows-1252), by the field each goes to.
class Atributos
{
public:
    Atributos(const tablas::Seccion& seccion, const xml::Node& elemento);

    // The text of the attribute that `campo` comes from; throws std::logic_error when the section
    // does not list the field.
    const std::string& operator[](std::string_view campo) const;

private:
    const tablas::Seccion& m_seccion;
    std::vector<std::string> m_valores;
};

// A record of CURSOST as read back (windows-1252).
struct RegistroCurso
{
    std::string codi;
    std::string descripcio;
    std::string nivel;
    std::string curso;
};

// CURSOST of the working directory, in record order; `exclusiva` opens it for this reader alone.
std::vector<RegistroCurso> LeerCursost(const std::filesystem::path& workDir, bool exclusiva = false);

// A group as GRUPOST gets it, before the fields cut their values.
struct FilaGrupo
{
    xml::Node grup;
    std::string clave; // what the taken list holds for it
    std::string abrev; // the stored form of the key
    std::string nom;
    std::string codi;
    std::string descrip;
};

// A course of the document, what CURSOST gives for its code, and the rows of its groups in
// document order.
struct CursoGrupos
{
    xml::Node curs;
    std::string codi; // as read, whole: the CODICURS of its groups
    std::string nivel;
    std::string curso;
    std::string descripcion;
    std::vector<FilaGrupo> grupos;
};

// Every course of the document, in document order, with its groups' rows: the level, course
// number and description of the first `cursost` record of its code (empty without one), and
// abbreviations from one taken list that serves all courses alike.
std::vector<CursoGrupos> FilasGrupos(const xml::Document& doc, const std::vector<RegistroCurso>& cursost);

} // namespace zendral
