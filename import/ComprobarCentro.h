#pragma once

#include "Avisos.h"
#include "XmlDocument.h"

#include <filesystem>
#include <string>
#include <vector>

// What a centre import of a document loses or changes, found from the document itself and from
// the level and course answers. The import's tables are written as they always are; these
// checks only tell.
namespace zendral
{

// A record of CURSOST as read back (windows-1252).
struct RegistroCurso
{
    std::string codi;
    std::string descripcio;
    std::string nivel;
    std::string curso;
};

// CURSOST of the working directory, in record order.
std::vector<RegistroCurso> LeerCursost(const std::filesystem::path& workDir);

// Warnings that the document alone decides: missing sections, characters windows-1252 cannot
// hold or a table cannot carry (control characters, stored as "?"), codes cut to their field,
// repeated GestIB codes and subjects whose course has no group. Values are shown with
// TextoVisible.
ListaAvisos ComprobarDocumento(const xml::Document& doc);

// Warnings that the level and course answers decide, with CURSOST as `cursost` holds it: courses
// whose groups get an empty level or course number, and group abbreviations that stay empty.
ListaAvisos ComprobarNiveles(const xml::Document& doc, const std::vector<RegistroCurso>& cursost);

// The centre's GestIB code, `codi` of CENTRE, as UTF-8 (trimmed; empty when missing).
std::string CodigoCentro(const xml::Document& doc);

} // namespace zendral
