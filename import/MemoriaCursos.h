#pragma once

#include "Avisos.h"
#include "ComprobarCentro.h"
#include "CursosCsv.h"
#include "XmlDocument.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zendral
{
class Prompter;
}

// The level and course number the user gave each course, remembered per centre between imports
// in zendral/cursos.csv of the working directory: UTF-8, ";"-separated, with a header, so that a
// person can read and edit it.
namespace zendral::memoria
{

inline constexpr const char* kCabecera = "CENTRE;CODI;DESCRIPCIO;NIVEL;CURSO";

// One remembered answer; every text UTF-8. `codi` is the course code as CURSOST keeps it.
struct Respuesta
{
    std::string centre;
    std::string codi;
    std::string descripcio;
    std::string nivel;
    std::string curso;
};

std::filesystem::path Archivo(const std::filesystem::path& workDir);

// Every remembered answer, in file order; none when the file does not exist. Throws Error when
// it cannot be read, is not a regular file (a FIFO or a device is refused without waiting), is
// larger than csv::kTamanoMaximo, is not UTF-8 or has a wrong header or row.
std::vector<Respuesta> Leer(const std::filesystem::path& workDir);

// The answers of one centre as rows of a courses file, for csv::AsignarCursos.
std::vector<csv::FilaCurso> DelCentro(const std::vector<Respuesta>& respuestas, const std::string& centre);

// Remembers `nuevas` (all of one centre): each replaces the answer of the same centre and course,
// the others are kept. Written whole and renamed into place. Throws Error.
void Guardar(const std::filesystem::path& workDir, const std::vector<Respuesta>& nuevas);

// Before the level/course dialog: fills CURSOST's levels and course numbers from the answers
// remembered for the document's centre. Courses without one stay empty; a table without any is not
// touched. A memory that cannot be read becomes a warning, and so does an answer that is not stored
// as given (see csv::AsignarCursos). Returns how many courses got an answer.
std::size_t Aplicar(const std::filesystem::path& workDir, const xml::Document& doc, Prompter& prompter,
                    ListaAvisos& avisos);

// After the level/course stage: remembers every course of CURSOST that has both values. A
// memory that cannot be read is left as it is; that, or a failed write, becomes a warning.
void Recordar(const std::filesystem::path& workDir, const xml::Document& doc, ListaAvisos& avisos);

} // namespace zendral::memoria
