// Faults at every file-changing system call of the centre import and of the restore, in turn.
// A kill (zendral_corte, a separate process) leaves every table the old complete one or the new
// complete one (MATIB possibly without announcing its index yet), readable by our engine and
// python3-dbfread, and "zendral-cli restaurar" brings back the exact bytes of before. An error
// (no space, I/O error) leaves exactly the old set or exactly the new one, no marker and no
// temporary file; the copies never change.
#include "Corte.h"

#include "Cli.h"
#include "Copias.h"
#include "DbfTable.h"
#include "ExternalTool.h"
#include "RunLock.h"
#include "TempDir.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <sstream>
#include <thread>

namespace zendral::cli
{
namespace
{

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(ZENDRAL_SOURCE_DIR) / "samples";

using Conjunto = std::map<std::string, std::string>;

// The nine files of the tables, as they are on disk; a missing file is absent from the map.
Conjunto Leer(const fs::path& dir)
{
    Conjunto c;
    for (const auto& archivo : copias::Archivos()) {
        std::error_code ec;
        if (fs::is_regular_file(dir / archivo, ec)) {
            c[archivo] = test::ReadFile(dir / archivo);
        }
    }
    return c;
}

// A table's bytes with its index no longer announced, as MATIB is between its own rename and
// its index's.
std::string SinIndice(std::string bytes)
{
    bytes[28] = 0;
    for (std::size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D'; at += 32) {
        bytes[at + 31] = 0;
    }
    return bytes;
}

int Cli(const std::vector<std::string>& args, std::string* err = nullptr)
{
    std::ostringstream out, e;
    const int codigo = RunCli(args, out, e);
    if (err != nullptr) {
        *err = e.str();
    }
    return codigo;
}

std::vector<std::string> Importar(const fs::path& centro, const fs::path& dir)
{
    return {"exportar",   centro.string(), "--dir",
            dir.string(), "--cursos",      (kSamples / "cursos.csv").string()};
}

// The tables before the run: the sample centre. The run: the same centre with every name
// changed, so that every table but the empty DIASHORAST changes.
class CorteTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directory(limpio);
        ASSERT_EQ(Cli(Importar(kSamples / "centre.xml", limpio)), 0);
        std::string texto = test::ReadFile(kSamples / "centre.xml");
        for (std::size_t at = 0; (at = texto.find("descripcio=\"", at)) != std::string::npos; at += 12) {
            texto.insert(at + 12, "Nou ");
        }
        centro = tmp.write("centre-nou.xml", texto);
        antes = Leer(limpio);
        ASSERT_EQ(antes.size(), 9u);
    }

    // A fresh working directory holding the tables of before (and their copy).
    fs::path Nuevo(const std::string& nombre)
    {
        const fs::path dir = tmp / nombre;
        fs::remove_all(dir);
        fs::copy(limpio, dir, fs::copy_options::recursive);
        return dir;
    }

    test::TempDir tmp;
    fs::path limpio = tmp / "limpio";
    fs::path centro;
    Conjunto antes;
};

// Every copy of `dir` still passes its check, byte for byte as `guardadas` had it.
Conjunto Copias(const fs::path& dir)
{
    Conjunto c;
    for (const auto& copia : copias::Listar(dir)) {
        copias::Comprobar(copia);
        for (const auto& e : fs::directory_iterator(copia.carpeta)) {
            c[copia.nombre + "/" + e.path().filename().string()] = test::ReadFile(e.path());
        }
    }
    return c;
}

// The kill points of zendral-cli ARGS: how many file-changing calls the whole command makes, run
// once in `dir`; then `comprobar(k, dir)` after a kill before each of them, in a fresh directory.
template <typename Comprobar>
void CadaCorte(const std::vector<std::string>& args, const std::function<fs::path(long)>& nuevo,
               Comprobar comprobar)
{
#ifdef ZENDRAL_CORTE_EJECUTOR
    std::vector<std::string> orden = {ZENDRAL_CORTE_EJECUTOR, ZENDRAL_CORTE_EXE};
#else
    std::vector<std::string> orden = {ZENDRAL_CORTE_EXE};
#endif
    const std::size_t punto = orden.size();
    orden.push_back("0");
    orden.insert(orden.end(), args.begin(), args.end());
    const std::size_t dirAt = std::find(orden.begin(), orden.end(), "--dir") - orden.begin() + 1;
    orden[dirAt] = nuevo(0).string();
    const auto completo = test::RunTool(orden);
    ASSERT_TRUE(completo.ok) << completo.Text();
    long llamadas = 0;
    for (const auto& l : completo.lines) {
        if (l.rfind("llamadas=", 0) == 0) {
            llamadas = std::stol(l.substr(9));
        }
    }
    ASSERT_GT(llamadas, 10);
    for (long k = 1; k <= llamadas; ++k) {
        SCOPED_TRACE("corte en la llamada " + std::to_string(k));
        orden[punto] = std::to_string(k);
        orden[dirAt] = nuevo(k).string();
        const auto corte = test::RunTool(orden);
        ASSERT_FALSE(corte.ok) << corte.Text();
        comprobar(k, fs::path(orden[dirAt]));
    }
}

// The errors injected at each call: no space, an I/O error and, on Windows, a sharing violation
// (another program's passing open, as the system layer reports it once its waiting is over).
#ifdef _WIN32
constexpr int kErrores[] = {ENOSPC, EIO, EAGAIN};
#else
constexpr int kErrores[] = {ENOSPC, EIO};
#endif

// The command with each of kErrores at its k-th file-changing call, for every k the whole
// command makes, each in a fresh directory from `nuevo`.
template <typename Comprobar>
void CadaError(const std::vector<std::string>& args, const std::function<fs::path()>& nuevo,
               Comprobar comprobar)
{
    auto orden = args;
    const std::size_t dirAt = std::find(orden.begin(), orden.end(), "--dir") - orden.begin() + 1;
    long llamadas = 0;
    {
        orden[dirAt] = nuevo().string();
        test::FalloInyectado cuenta(ENOSPC, {}, std::numeric_limits<long>::max());
        ASSERT_EQ(Cli(orden), 0);
        llamadas = cuenta.Vistas();
    }
    ASSERT_GT(llamadas, 10);
    for (long k = 1; k <= llamadas; ++k) {
        for (const int err : kErrores) {
            SCOPED_TRACE("error " + std::to_string(err) + " en la llamada " + std::to_string(k));
            orden[dirAt] = nuevo().string();
            std::string mensaje;
            int codigo = 0;
            {
                test::FalloInyectado fallo(err, {}, k, 1);
                codigo = Cli(orden, &mensaje);
            }
            const fs::path dir = orden[dirAt];
            comprobar(codigo, mensaje, dir);
            // No marker: the run ended, well or with the tables put back.
            EXPECT_FALSE(copias::AvisoInterrumpido(dir)) << mensaje;
            // What the failed call left behind is a leftover the next run knows as one.
            copias::LimpiarRestos(dir);
            EXPECT_TRUE(test::Temporales(dir.string()).empty());
            EXPECT_TRUE(test::Temporales((dir / "zendral").string()).empty());
        }
    }
}

TEST_F(CorteTest, EveryKillPointLeavesOldOrNewTablesAndRestoreBringsBackTheBytes)
{
    const fs::path entero = Nuevo("entero");
    ASSERT_EQ(Cli(Importar(centro, entero)), 0);
    const Conjunto despues = Leer(entero);
    for (const auto& [archivo, bytes] : antes) {
        if (archivo != "DIASHORAST.DBF") {
            EXPECT_NE(despues.at(archivo), bytes) << archivo << " no cambia: la prueba no distinguiría";
        }
    }

    std::vector<std::string> paraDbfread = {
        ZENDRAL_PYTHON, (fs::path(ZENDRAL_SOURCE_DIR) / "tests" / "support" / "dbfread_check.py").string()};
    int restauradas = 0;
    int mezcladas = 0;
    long puntos = 0;
    CadaCorte(
        Importar(centro, limpio), [&](long k) { return Nuevo("corte" + std::to_string(k)); },
        [&](long k, const fs::path& dir) {
            puntos = k;
            const Conjunto ahora = Leer(dir);
            bool cambio = false;
            for (const auto& [archivo, bytes] : antes) {
                const auto it = ahora.find(archivo);
                ASSERT_NE(it, ahora.end()) << archivo << " falta";
                const bool vieja = it->second == bytes;
                const std::string& completa = despues.at(archivo);
                // CURSOST is put in place whole and then edited in place by the level/course dialog,
                // one course at a time, as the user answers: the new table, with its answers so far.
                const bool nueva = it->second == completa ||
                                   (archivo == "MATIB.DBF" && it->second == SinIndice(completa)) ||
                                   (archivo == "CURSOST.DBF" && it->second.size() == completa.size() &&
                                    it->second.compare(0, 32, completa, 0, 32) == 0);
                EXPECT_TRUE(vieja || nueva) << archivo << " no es ni la de antes ni la nueva";
                cambio = cambio || !vieja;
                if (archivo.ends_with(".DBF")) {
                    const std::string tabla = archivo.substr(0, archivo.size() - 4);
                    dbf::Table t("t", dir, tabla);
                    t.Open(false);
                    std::size_t n = 0;
                    for (t.First(); !t.Eof(); t.Next()) {
                        for (const auto& f : t.Fields()) {
                            t.FieldByName(f.name).AsString();
                        }
                        ++n;
                    }
                    EXPECT_EQ(n, t.RecordCount());
                    t.Close();
                    // Kept aside for python3-dbfread, which reads them all at the end in one go.
                    const fs::path guardada = tmp / "leidas" / std::to_string(k);
                    fs::create_directories(guardada);
                    fs::copy_file(dir / archivo, guardada / archivo);
                    paraDbfread.push_back((guardada / archivo).string());
                }
            }
            if (cambio) {
                ++mezcladas;
                // The run did not end: every command says so.
                EXPECT_TRUE(copias::AvisoInterrumpido(dir).has_value());
            }
            if (!copias::AvisoInterrumpido(dir)) {
                // Killed before its marker, so before it changed anything, or after the last change.
                EXPECT_TRUE(ahora == antes || ahora == despues);
                return;
            }
            std::string err;
            ASSERT_EQ(Cli({"restaurar", "--dir", dir.string()}, &err), 0) << err;
            EXPECT_EQ(Leer(dir), antes);
            EXPECT_FALSE(copias::AvisoInterrumpido(dir).has_value());
            ++restauradas;
            fs::remove_all(dir);
        });
    EXPECT_GT(mezcladas, 8);
    EXPECT_GT(restauradas, 8);
    std::cout << "puntos de corte: " << puntos << ", con tablas cambiadas: " << mezcladas
              << ", restauradas: " << restauradas << "\n";
#ifndef _WIN32
    const auto leidas = test::RunTool(paraDbfread);
    EXPECT_TRUE(leidas.ok) << leidas.Text();
#endif
}

TEST_F(CorteTest, EveryInjectedErrorInAnImportLeavesExactlyTheOldOrTheNewSet)
{
    const fs::path entero = Nuevo("entero");
    ASSERT_EQ(Cli(Importar(centro, entero)), 0);
    const Conjunto despues = Leer(entero);
    const Conjunto guardadas = Copias(limpio);
    int deshechas = 0;
    CadaError(
        Importar(centro, limpio), [&] { return Nuevo("error"); },
        [&](int codigo, const std::string& mensaje, const fs::path& dir) {
            const Conjunto ahora = Leer(dir);
            if (codigo == 0) {
                EXPECT_EQ(ahora, despues);
            } else {
                EXPECT_EQ(ahora, antes) << mensaje;
                deshechas += mensaje.find("Se han vuelto a poner las tablas que había antes de la "
                                          "importación") != std::string::npos;
            }
            // The copy of before is as it was.
            const Conjunto copias = Copias(dir);
            for (const auto& [archivo, bytes] : guardadas) {
                EXPECT_EQ(copias.at(archivo), bytes) << archivo;
            }
        });
    EXPECT_GT(deshechas, 8);
}

// A restore of the set of before over the new one: at every call an error leaves exactly one of
// the two sets; a kill leaves one of them, or the marker, and then "restaurar" with no name
// finishes the restore it names.
TEST_F(CorteTest, RestoreIsAllOrNothingAtEveryCall)
{
    const fs::path base = Nuevo("base");
    ASSERT_EQ(Cli(Importar(centro, base)), 0);
    const Conjunto nuevo = Leer(base);
    const std::string copia = copias::Listar(base).at(0).nombre;
    const auto desdeBase = [&](const std::string& nombre) {
        const fs::path dir = tmp / nombre;
        fs::remove_all(dir);
        fs::copy(base, dir, fs::copy_options::recursive);
        return dir;
    };
    const std::vector<std::string> restaurar = {"restaurar", copia, "--dir", base.string()};

    int fallidas = 0;
    CadaError(
        restaurar, [&] { return desdeBase("error"); },
        [&](int codigo, const std::string& mensaje, const fs::path& dir) {
            if (codigo == 0) {
                EXPECT_EQ(Leer(dir), antes);
            } else {
                EXPECT_EQ(Leer(dir), nuevo) << mensaje;
                ++fallidas;
            }
        });
    EXPECT_GT(fallidas, 8);

    int terminadas = 0;
    CadaCorte(
        restaurar, [&](long k) { return desdeBase("corte" + std::to_string(k)); },
        [&](long, const fs::path& dir) {
            const Conjunto ahora = Leer(dir);
            if (!copias::AvisoInterrumpido(dir)) {
                EXPECT_TRUE(ahora == antes || ahora == nuevo);
                return;
            }
            std::string err;
            ASSERT_EQ(Cli({"restaurar", "--dir", dir.string()}, &err), 0) << err;
            EXPECT_EQ(Leer(dir), antes);
            ++terminadas;
        });
    EXPECT_GT(terminadas, 4);

    // When putting the set of before back fails as well (every call fails from the first
    // replacement on), the marker stays naming the copy, and the next restore finishes it.
    long renombres = 0;
    {
        const fs::path entera = desdeBase("entera");
        test::FalloInyectado cuenta(ENOSPC, {"rename"}, std::numeric_limits<long>::max());
        ASSERT_EQ(Cli({"restaurar", copia, "--dir", entera.string()}), 0);
        renombres = cuenta.Vistas();
    }
    const fs::path dir = desdeBase("sin-vuelta");
    std::string mensaje;
    {
        // The restore's own renames are its last nine (eight tables and the index): from its
        // second one on, all fail.
        test::FalloInyectado fallo(ENOSPC, {"rename"}, renombres - 7);
        EXPECT_EQ(Cli({"restaurar", copia, "--dir", dir.string()}, &mensaje), 1);
    }
    EXPECT_NE(mensaje.find("vuelva a restaurar la copia " + copia), std::string::npos) << mensaje;
    ASSERT_TRUE(copias::AvisoInterrumpido(dir));
    ASSERT_EQ(Cli({"restaurar", "--dir", dir.string()}, &mensaje), 0) << mensaje;
    EXPECT_EQ(Leer(dir), antes);
    EXPECT_FALSE(copias::AvisoInterrumpido(dir));
}

// Two imports started together, into an empty directory and into a full one: one runs, the other
// either runs after it or stops before it changes anything, saying that another run is going; the
// tables are the new set whole, with no marker and no leftover.
TEST_F(CorteTest, TwoImportsStartedTogetherTakeTurns)
{
    const fs::path entero = Nuevo("entero");
    ASSERT_EQ(Cli(Importar(centro, entero)), 0);
    const Conjunto despues = Leer(entero);
#ifdef ZENDRAL_CORTE_EJECUTOR
    const std::vector<std::string> programa = {ZENDRAL_CORTE_EJECUTOR, ZENDRAL_CORTE_EXE, "0"};
#else
    const std::vector<std::string> programa = {ZENDRAL_CORTE_EXE, "0"};
#endif
    const fs::path vacio = tmp / "vacio";
    fs::create_directory(vacio);
    for (const fs::path& dir : {vacio, Nuevo("lleno")}) {
        SCOPED_TRACE(dir.string());
        auto orden = programa;
        for (const auto& a : Importar(centro, dir)) {
            orden.push_back(a);
        }
        test::ToolOutput salidas[2];
        std::thread otro([&] { salidas[1] = test::RunTool(orden); });
        salidas[0] = test::RunTool(orden);
        otro.join();
        int bien = 0;
        for (const auto& s : salidas) {
            bien += s.ok;
            if (!s.ok) {
                EXPECT_NE(s.Text().find(kOtherRun), std::string::npos) << s.Text();
            }
        }
        EXPECT_GE(bien, 1);
        EXPECT_EQ(Leer(dir), despues);
        EXPECT_FALSE(copias::AvisoInterrumpido(dir));
        EXPECT_TRUE(test::Temporales(dir.string()).empty());
        EXPECT_TRUE(test::Temporales((dir / "zendral").string()).empty());
    }
}

} // namespace
} // namespace zendral::cli
