#pragma once

#include "Avisos.h"
#include "Centro.h"
#include "XmlDocument.h"

#include <string>
#include <vector>

// What a centre import of a document loses or changes, found from the document itself and from
// the level and course answers. The import's tables are written as they always are; these
// checks only tell.
namespace zendral
{

// Warnings that the document alone decides: missing sections, characters windows-1252 cannot
// hold or a table cannot carry (control characters, stored as "?"), codes cut to their field,
// repeated GestIB codes and subjects whose course has no group. Values are shown with
// TextoVisible.
ListaAvisos ComprobarDocumento(const xml::Document& doc);

// Warnings that the level and course answers decide, with CURSOST as `cursost` holds it: courses
// whose groups get an empty level or course number, and group abbreviations that stay empty.
ListaAvisos ComprobarNiveles(const xml::Document& doc, const std::vector<RegistroCurso>& cursost);
// The same from the group rows that FilasGrupos made of the document and CURSOST.
ListaAvisos ComprobarNiveles(const std::vector<CursoGrupos>& cursos);

// The centre's GestIB code, `codi` of CENTRE, as UTF-8 (trimmed; empty when missing).
std::string CodigoCentro(const xml::Document& doc);

} // namespace zendral
