// Throughput of the two runs on generated data of growing size. Compare the times of one run
// with each other (the ratio between sizes shows whether the work grows linearly), not with
// figures from another machine.
//
// ImportAgainstFloor sets the centre import of a centre 100 times a large school (4000 courses)
// beside what no import can beat on the same machine: `xmllint --noout` over the same document,
// plus reading and writing again every table file the import wrote. Run it alone with
//   build/bench/zendral_bench --benchmark_filter=ImportAgainstFloor
// Import and floor take turns, five rounds; each counts its fastest round, so that other load on
// the machine disturbs the ratio less. Counters: ratio = import time / floor time,
// writes_per_record = write calls of the import (syscw of /proc/self/io) per record it posted,
// appended or edited (the level/course dialog edits every course once).
//
// CompareAgainstImport and CheckAgainstImport set the comparison of two sets of tables of that
// size, and `zendral-cli comprobar` of a changed document, beside the import that writes them:
//   build/bench/zendral_bench --benchmark_filter='(Compare|Check)AgainstImport'
// Counters: ratio = comparison (or comprobar) time / import time, fastest rounds of five.
#include "Cli.h"
#include "Comparacion.h"
#include "ControlCursos.h"
#include "DbfTable.h"
#include "Exportacion.h"
#include "Importacion.h"
#include "Prompter.h"
#include "Tablas.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
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
            ++ediciones;
        }
        d.Rellenar(niveles);
        d.BitBtn1Click();
    }
    bool ConfirmarLineas() override { return true; }

    // Records posted in the level/course dialog.
    std::size_t ediciones = 0;

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
// rooms. With `cambios`, what a school sees mid-year: a teacher inserted first with the initials
// of the next one (every numbered abbreviation after it shifts), a room gone, a subject renamed
// and the first course with a fifth group.
fs::path Centre(const fs::path& dir, int cursos, const std::string& nombre = "centre.xml",
                bool cambios = false)
{
    std::ofstream out(dir / nombre);
    out << "<CENTRE><MATERIES>";
    for (int c = 0; c < cursos; ++c) {
        for (int m = 0; m < 12; ++m) {
            out << "<MATERIA codi=\"" << c * 100 + m << "\" curs=\"C" << c << "\" descripcio=\"Matèria " << m
                << (cambios && c == 1 && m == 1 ? " nova" : "") << "\" curta=\"M" << m << "\"/>";
        }
    }
    out << "</MATERIES><PLACES>";
    if (cambios) {
        out << "<PLACA codi=\"nou\" descripcio=\"Professor nou\" curta=\"PR0\"/>";
    }
    for (int p = 0; p < cursos * 3; ++p) {
        out << "<PLACA codi=\"" << p << "\" descripcio=\"Professor " << p << "\" curta=\"PR" << p % 7
            << "\"/>";
    }
    out << "</PLACES><AULES>";
    for (int a = 0; a < cursos * 2; ++a) {
        if (cambios && a == 5) {
            continue;
        }
        out << "<AULA codi=\"" << a << "\" descripcio=\"Aula " << a << "\"/>";
    }
    out << "</AULES><CURSOS>";
    for (int c = 0; c < cursos; ++c) {
        out << "<CURS codi=\"C" << c << "\" descripcio=\"Curs " << c << "\">";
        for (int g = 0; g < (cambios && c == 0 ? 5 : 4); ++g) {
            out << "<GRUP codi=\"G" << c << "_" << g << "\" nom=\"" << char('A' + g) << "\"/>";
        }
        out << "</CURS>";
    }
    out << "</CURSOS></CENTRE>";
    return dir / nombre;
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

// Write calls this process has made so far.
std::uint64_t WriteCalls()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "syscw:") {
            return value;
        }
    }
    std::abort();
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Reads every .DBF and .MDX of `from` and writes it into `to`, 64 KB at a time; with `sync`, each
// file is on the disk before the next (as a copy that must outlive a power cut is).
void CopyTables(const fs::path& from, const fs::path& to, bool sync = false)
{
    std::vector<char> buffer(64 * 1024);
    for (const auto& entry : fs::directory_iterator(from)) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".DBF" && ext != ".MDX") {
            continue;
        }
        const int in = ::open(entry.path().c_str(), O_RDONLY);
        const int out = ::open((to / entry.path().filename()).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (in < 0 || out < 0) {
            std::abort();
        }
        for (ssize_t n; (n = ::read(in, buffer.data(), buffer.size())) > 0;) {
            if (::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) {
                std::abort();
            }
        }
        if (sync && ::fsync(out) != 0) {
            std::abort();
        }
        ::close(in);
        ::close(out);
    }
}

void ImportAgainstFloor(benchmark::State& state)
{
    Directorio dir;
    Directorio copia;
    const fs::path centre = Centre(dir.path, static_cast<int>(state.range(0)));
    const std::string xmllint = "xmllint --noout '" + centre.string() + "'";
    double importTime = 1e300;
    double floorTime = 1e300;
    double writes = 0;
    double records = 0;
    for (auto _ : state) {
        zendral::EstadoProceso estado;
        Respuestas respuestas(centre);
        zendral::Importacion importacion(estado, respuestas, dir.path);
        const std::uint64_t writesBefore = WriteCalls();
        const auto start = std::chrono::steady_clock::now();
        importacion.BExportarClick();
        const auto imported = std::chrono::steady_clock::now();
        writes += static_cast<double>(WriteCalls() - writesBefore);
        if (std::system(xmllint.c_str()) != 0) {
            state.SkipWithError("xmllint failed");
            break;
        }
        CopyTables(dir.path, copia.path);
        const auto copied = std::chrono::steady_clock::now();
        importTime = std::min(importTime, Seconds(imported - start));
        floorTime = std::min(floorTime, Seconds(copied - imported));
        state.SetIterationTime(Seconds(imported - start));

        records += static_cast<double>(respuestas.ediciones);
        for (const auto& [tabla, registros] : importacion.resumen()) {
            records += static_cast<double>(registros);
        }
    }
    state.counters["import_s"] = importTime;
    state.counters["floor_s"] = floorTime;
    state.counters["ratio"] = importTime / floorTime;
    state.counters["records"] = benchmark::Counter(records, benchmark::Counter::kAvgIterations);
    state.counters["writes_per_record"] = writes / records;
    state.counters["document_MB"] = static_cast<double>(fs::file_size(centre)) / 1e6;
}
BENCHMARK(ImportAgainstFloor)->Arg(4000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// An import over an existing set of tables (another document's, so that the copy made before the
// rebuild is a real one) against an import into an empty directory plus one copy of the files,
// each synced to the disk as the import's copy is: ratio = over / (empty + copy). Five rounds, the fastest of
// each counted. Run it alone with
//   build/bench/zendral_bench --benchmark_filter=ImportOverExistingSet
void ImportOverExistingSet(benchmark::State& state)
{
    Directorio docs;
    const fs::path primero = Centre(docs.path, static_cast<int>(state.range(0)));
    const fs::path segundo = Centre(docs.path, static_cast<int>(state.range(0)) + 1, "otro.xml");
    double vacio = 1e300;
    double encima = 1e300;
    double copia = 1e300;
    for (auto _ : state) {
        Directorio dir;
        Directorio destino;
        const auto importar = [&](const fs::path& centre) {
            zendral::EstadoProceso estado;
            Respuestas respuestas(centre);
            const auto start = std::chrono::steady_clock::now();
            zendral::Importacion(estado, respuestas, dir.path).BExportarClick();
            return Seconds(std::chrono::steady_clock::now() - start);
        };
        const double t1 = importar(primero);
        const double t2 = importar(segundo);
        const auto start = std::chrono::steady_clock::now();
        CopyTables(dir.path, destino.path, true);
        const double t3 = Seconds(std::chrono::steady_clock::now() - start);
        vacio = std::min(vacio, t1);
        encima = std::min(encima, t2);
        copia = std::min(copia, t3);
        state.SetIterationTime(t2);
    }
    state.counters["empty_s"] = vacio;
    state.counters["over_s"] = encima;
    state.counters["copy_s"] = copia;
    state.counters["ratio"] = encima / (vacio + copia);
}
BENCHMARK(ImportOverExistingSet)->Arg(4000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

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
        zendral::tablas::Definir(s, zendral::tablas::kSoluc);
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

// The level and course answers of Respuestas, as a courses file for zendral-cli.
fs::path CursosCsv(const fs::path& dir, int cursos)
{
    std::ofstream out(dir / "cursos.csv");
    out << "CODI;DESCRIPCIO;NIVEL;CURSO\n";
    for (int c = 0; c < cursos; ++c) {
        out << "C" << c << ";Curs " << c << ";ESO;" << c % 10 << "\n";
    }
    return dir / "cursos.csv";
}

double Import(const fs::path& centre, const fs::path& dir)
{
    zendral::EstadoProceso estado;
    Respuestas respuestas(centre);
    const auto start = std::chrono::steady_clock::now();
    zendral::Importacion(estado, respuestas, dir).BExportarClick();
    return Seconds(std::chrono::steady_clock::now() - start);
}

// The comparison of the tables of a centre with those of the same centre changed, against the
// import that wrote the changed ones.
void CompareAgainstImport(benchmark::State& state)
{
    Directorio docs;
    const int cursos = static_cast<int>(state.range(0));
    const fs::path primero = Centre(docs.path, cursos);
    const fs::path segundo = Centre(docs.path, cursos, "cambiado.xml", true);
    double importTime = 1e300;
    double compareTime = 1e300;
    std::size_t abreviaturas = 0;
    for (auto _ : state) {
        Directorio antes;
        Directorio despues;
        Import(primero, antes.path);
        importTime = std::min(importTime, Import(segundo, despues.path));
        const auto start = std::chrono::steady_clock::now();
        const auto cambios = zendral::comparacion::Comparar(antes.path, despues.path);
        const std::string lista = cambios.Lista();
        const double t = Seconds(std::chrono::steady_clock::now() - start);
        compareTime = std::min(compareTime, t);
        state.SetIterationTime(t);
        abreviaturas = cambios.AvisosAbreviaturas().size();
    }
    state.counters["import_s"] = importTime;
    state.counters["compare_s"] = compareTime;
    state.counters["ratio"] = compareTime / importTime;
    state.counters["abbreviation_changes"] = static_cast<double>(abreviaturas);
}
BENCHMARK(CompareAgainstImport)->Arg(4000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// `zendral-cli comprobar` of the changed centre over the first one's tables, against
// `zendral-cli exportar` of the same document over the same tables.
void CheckAgainstImport(benchmark::State& state)
{
    Directorio docs;
    const int cursos = static_cast<int>(state.range(0));
    const fs::path primero = Centre(docs.path, cursos);
    const fs::path segundo = Centre(docs.path, cursos, "cambiado.xml", true);
    const fs::path csv = CursosCsv(docs.path, cursos);
    const auto cli = [&](const std::string& orden, const fs::path& dir) {
        std::ostringstream out;
        std::ostringstream err;
        const auto start = std::chrono::steady_clock::now();
        const int codigo = zendral::cli::RunCli(
            {orden, segundo.string(), "--dir", dir.string(), "--cursos", csv.string()}, out, err);
        const double t = Seconds(std::chrono::steady_clock::now() - start);
        return codigo == 0 ? t : -1.0;
    };
    double importTime = 1e300;
    double checkTime = 1e300;
    for (auto _ : state) {
        Directorio dir;
        Import(primero, dir.path);
        const double comprobar = cli("comprobar", dir.path);
        const double exportar = cli("exportar", dir.path);
        if (comprobar < 0 || exportar < 0) {
            state.SkipWithError("zendral-cli failed");
            break;
        }
        checkTime = std::min(checkTime, comprobar);
        importTime = std::min(importTime, exportar);
        state.SetIterationTime(comprobar);
    }
    state.counters["import_s"] = importTime;
    state.counters["check_s"] = checkTime;
    state.counters["ratio"] = checkTime / importTime;
}
BENCHMARK(CheckAgainstImport)->Arg(4000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
