// Throughput of the two runs on generated data of growing size. Compare the times of one run
// with each other (the ratio between sizes shows whether the work grows linearly), not with
// figures from another machine.
#include "ControlCursos.h"
#include "DbfTable.h"
#include "Exportacion.h"
#include "Importacion.h"
#include "Prompter.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// Answers every question: each course gets level "ESO" and its own course number.
class Respuestas : public zendral::Prompter
{
public:
    explicit Respuestas(fs::path archivo)
        : m_archivo(std::move(archivo))
    {
    }
    std::optional<fs::path> ElegirArchivo() override { return m_archivo; }
    void Mensaje(const std::string&) override {}
    void CursorOcupado(bool) override {}
    void MostrarControlCursos(zendral::ControlCursos& d) override
    {
        d.FormShow();
        std::vector<zendral::NivelCurso> niveles;
        for (std::size_t i = 0; i < d.Tabla().RecordCount(); ++i) {
            niveles.push_back({"ESO", std::to_string(i % 10)});
        }
        d.Rellenar(niveles);
        d.BitBtn1Click();
    }
    bool ConfirmarLineas() override { return true; }

private:
    fs::path m_archivo;
};

struct Directorio
{
    Directorio()
    {
        std::string p = (fs::temp_directory_path() / "zendral-bench-XXXXXX").string();
        if (mkdtemp(p.data()) == nullptr) {
            std::abort();
        }
        path = p;
    }
    ~Directorio() { fs::remove_all(path); }
    fs::path path;
};

// A centre with `cursos` courses of 4 groups and 12 subjects each, and matching teachers and
// rooms.
fs::path Centre(const fs::path& dir, int cursos)
{
    std::ofstream out(dir / "centre.xml");
    out << "<CENTRE><MATERIES>";
    for (int c = 0; c < cursos; ++c) {
        for (int m = 0; m < 12; ++m) {
            out << "<MATERIA codi=\"" << c * 100 + m << "\" curs=\"C" << c << "\" descripcio=\"Matèria " << m
                << "\" curta=\"M" << m << "\"/>";
        }
    }
    out << "</MATERIES><PLACES>";
    for (int p = 0; p < cursos * 3; ++p) {
        out << "<PLACA codi=\"" << p << "\" descripcio=\"Professor " << p << "\" curta=\"PR" << p % 7
            << "\"/>";
    }
    out << "</PLACES><AULES>";
    for (int a = 0; a < cursos * 2; ++a) {
        out << "<AULA codi=\"" << a << "\" descripcio=\"Aula " << a << "\"/>";
    }
    out << "</AULES><CURSOS>";
    for (int c = 0; c < cursos; ++c) {
        out << "<CURS codi=\"C" << c << "\" descripcio=\"Curs " << c << "\">";
        for (int g = 0; g < 4; ++g) {
            out << "<GRUP codi=\"G" << c << "_" << g << "\" nom=\"" << char('A' + g) << "\"/>";
        }
        out << "</CURS>";
    }
    out << "</CURSOS></CENTRE>";
    return dir / "centre.xml";
}

void CentreImport(benchmark::State& state)
{
    Directorio dir;
    const fs::path centre = Centre(dir.path, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        zendral::EstadoProceso estado;
        Respuestas respuestas(centre);
        zendral::Importacion(estado, respuestas, dir.path).BExportarClick();
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(CentreImport)->Arg(10)->Arg(40)->Arg(160)->Unit(benchmark::kMillisecond)->Complexity();

void TimetableExport(benchmark::State& state)
{
    Directorio dir;
    const int cursos = static_cast<int>(state.range(0));
    {
        zendral::EstadoProceso estado;
        Respuestas respuestas(Centre(dir.path, cursos));
        zendral::Importacion(estado, respuestas, dir.path).BExportarClick();
        zendral::dbf::Table dh("DIASHORAST", dir.path, "DIASHORAST");
        dh.Open();
        for (int d = 1; d <= 5; ++d) {
            for (int h = 1; h <= 8; ++h) {
                dh.Append();
                dh.FieldByName("DIHO").SetAsString(std::to_string(d) + std::to_string(h));
                dh.FieldByName("DIA").SetAsString(std::to_string(d));
                dh.Post();
            }
        }
        dh.Close();
        zendral::dbf::Table s("SOLUC", dir.path, "SOLUC");
        s.AddFieldDef("DIA", zendral::dbf::FieldType::Integer);
        s.AddFieldDef("HORA", zendral::dbf::FieldType::Float);
        for (const char* f : {"PROF", "CODGRUPO", "AULA", "ASIG", "TAREA"}) {
            s.AddFieldDef(f, zendral::dbf::FieldType::String, 4);
        }
        s.CreateTable();
        s.Open();
        // 30 sessions a week per group.
        for (int c = 0; c < cursos; ++c) {
            for (int g = 0; g < 4; ++g) {
                for (int k = 0; k < 30; ++k) {
                    s.Append();
                    s.FieldByName("DIA").SetAsInteger(1 + k % 5);
                    s.FieldByName("HORA").SetAsFloat(1 + k / 5);
                    s.FieldByName("PROF").SetAsString("PR" + std::to_string(k % 7));
                    s.FieldByName("AULA").SetAsString("Au" + std::to_string(k % 10));
                    s.FieldByName("ASIG").SetAsString("M" + std::to_string(k % 12));
                    s.Post();
                }
            }
        }
        s.Close();
    }
    for (auto _ : state) {
        zendral::EstadoProceso estado;
        Respuestas respuestas(dir.path / "centre.xml");
        zendral::Exportacion(estado, respuestas, dir.path).BImportarClick();
    }
    state.SetComplexityN(cursos * 4 * 30);
}
BENCHMARK(TimetableExport)->Arg(10)->Arg(40)->Arg(160)->Unit(benchmark::kMillisecond)->Complexity();

} // namespace

BENCHMARK_MAIN();
