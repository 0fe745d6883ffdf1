#pragma once

#include "BoundedRead.h"
#include "ControlCursos.h"
#include "Importacion.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The level and course number of each course, as a ";"-separated UTF-8 text with the header
// CODI;DESCRIPCIO;NIVEL;CURSO. Fields may be quoted with double quotes.
namespace zendral::csv
{

struct FilaCurso
{
    std::string codi; // UTF-8, as written
    std::string descripcio;
    std::string nivel;
    std::string curso;
};

inline constexpr const char* kCabecera = "CODI;DESCRIPCIO;NIVEL;CURSO";

// The largest courses file read, the remembered answers' one included: a centre's courses take a
// few kilobytes.
inline constexpr std::uint64_t kTamanoMaximo = 16 * kMegabyte;

// The records of a ";"-separated UTF-8 text, each a list of fields; a leading byte-order mark
// is skipped and empty lines are left out. Throws Error naming `nombre` and the line when the
// text is not valid UTF-8 or a quote is left open.
std::vector<std::vector<std::string>> LeerRegistrosCsv(std::string_view texto, const std::string& nombre);
// A field as written between ";": quoted when it holds ";", a quote or a line break.
std::string CampoCsv(const std::string& valor);

// Parses the text; `nombre` names it in messages. Throws Error on a missing or wrong header, an
// unterminated quote, text that is not UTF-8 or a row with the wrong number of fields.
std::vector<FilaCurso> LeerCursosCsv(std::string_view texto, const std::string& nombre);

// A template with one row per course of the document and empty level and course number.
std::string PlantillaCursos(const std::vector<CursoDocumento>& cursos);

// Level and course number for each course of the document, in document order, as they are
// stored in CURSOST (windows-1252 as tables store text, so a control character becomes "?"; cut
// to their fields' widths). A row's CODI matches a course's code after the same text rules
// (trimmed, windows-1252, cut to the width of CURSOST's CODI); the first matching row wins. A
// course without a row gets empty values. A level or course number that is not stored as given
// (a character windows-1252 lacks, a control character) adds a code-page warning to `avisos`,
// when given.
using zendral::NivelCurso;
std::vector<NivelCurso> AsignarCursos(const std::vector<CursoDocumento>& cursos,
                                      const std::vector<FilaCurso>& filas, ListaAvisos* avisos = nullptr);

} // namespace zendral::csv
