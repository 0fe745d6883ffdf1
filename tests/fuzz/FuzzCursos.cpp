// The courses CSV through its reader and the matching of rows to courses. A bad file must end
// in zendral::Error. A file that reads well is checked against the template writer: the
// template for courses named like its rows reads back to the same codes and names.
#include "CodePage.h"
#include "CursosCsv.h"
#include "Error.h"
#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

[[noreturn]] void Fallo(const char* que)
{
    std::fprintf(stderr, "CursosCsv: %s\n", que);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace zendral;
    std::vector<csv::FilaCurso> filas;
    try {
        filas = csv::LeerCursosCsv(fuzz::AsText(data, size), "cursos.csv");
    } catch (const Error&) {
        return 0;
    }

    // Courses as the import reads them from a document: windows-1252 text.
    std::vector<CursoDocumento> cursos;
    for (const auto& fila : filas) {
        cursos.push_back({cp1252::FromUtf8(fila.codi), cp1252::FromUtf8(fila.descripcio)});
    }
    cursos.push_back({"SIN FILA", "Curso que ningún registro nombra"});

    const auto asignados = csv::AsignarCursos(cursos, filas);
    if (asignados.size() != cursos.size()) {
        Fallo("one result per course expected");
    }
    for (const auto& nc : asignados) {
        if (nc.nivel.size() > 5 || nc.curso.size() > 3) {
            Fallo("level or course number longer than its field");
        }
    }

    const std::string plantilla = csv::PlantillaCursos(cursos);
    std::vector<csv::FilaCurso> releidas;
    try {
        releidas = csv::LeerCursosCsv(plantilla, "plantilla.csv");
    } catch (const Error&) {
        Fallo("the template does not read back");
    }
    if (releidas.size() != cursos.size()) {
        Fallo("the template reads back to another number of rows");
    }
    for (std::size_t i = 0; i < cursos.size(); ++i) {
        if (releidas[i].codi != cp1252::ToUtf8(cursos[i].codi) ||
            releidas[i].descripcio != cp1252::ToUtf8(cursos[i].descripcio) || !releidas[i].nivel.empty() ||
            !releidas[i].curso.empty()) {
            Fallo("a template row reads back changed");
        }
    }
    return 0;
}
