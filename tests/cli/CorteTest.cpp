// Kills the centre import before each of its file-changing system calls in turn (zendral_corte,
// a separate process) and checks what a crash at that point leaves: every table is the old
// complete one or the new complete one (MATIB possibly without announcing its index yet), our
// engine and python3-dbfread read them all, and "zendral-cli restaurar" brings back the exact
// bytes of the tables before the run.
#include "Cli.h"
#include "Copias.h"
#include "DbfTable.h"
#include "ExternalTool.h"
#include "TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

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

TEST(CorteTest, EveryKillPointLeavesOldOrNewTablesAndRestoreBringsBackTheBytes)
{
    test::TempDir tmp;
    // The tables before the run: the sample centre. The run: the same centre with every name
    // changed, so that every table but the empty DIASHORAST changes.
    const fs::path limpio = tmp / "limpio";
    fs::create_directory(limpio);
    ASSERT_EQ(Cli(Importar(kSamples / "centre.xml", limpio)), 0);
    std::string texto = test::ReadFile(kSamples / "centre.xml");
    for (std::size_t at = 0; (at = texto.find("descripcio=\"", at)) != std::string::npos; at += 12) {
        texto.insert(at + 12, "Nou ");
    }
    const fs::path centro = tmp.write("centre-nou.xml", texto);
    const Conjunto antes = Leer(limpio);
    ASSERT_EQ(antes.size(), 9u);

    // The whole run once, counting its calls.
    const fs::path entero = tmp / "entero";
    fs::copy(limpio, entero, fs::copy_options::recursive);
    // Under Wine RunTool starts Linux programs, so the Windows program goes through Wine.
#ifdef ZENDRAL_CORTE_EJECUTOR
    std::vector<std::string> orden = {ZENDRAL_CORTE_EJECUTOR, ZENDRAL_CORTE_EXE};
#else
    std::vector<std::string> orden = {ZENDRAL_CORTE_EXE};
#endif
    const std::size_t punto = orden.size();
    orden.push_back("0");
    for (const auto& a : Importar(centro, entero)) {
        orden.push_back(a);
    }
    const auto completo = test::RunTool(orden);
    ASSERT_TRUE(completo.ok) << completo.Text();
    long llamadas = 0;
    for (const auto& l : completo.lines) {
        if (l.rfind("llamadas=", 0) == 0) {
            llamadas = std::stol(l.substr(9));
        }
    }
    ASSERT_GT(llamadas, 20);
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
    for (long k = 1; k <= llamadas; ++k) {
        SCOPED_TRACE("corte en la llamada " + std::to_string(k));
        const fs::path dir = tmp / ("corte" + std::to_string(k));
        fs::copy(limpio, dir, fs::copy_options::recursive);
        orden[punto] = std::to_string(k);
        orden[punto + 4] = dir.string();
        const auto corte = test::RunTool(orden);
        ASSERT_FALSE(corte.ok) << corte.Text();

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
        if (copias::Listar(dir).empty()) {
            // Killed before its copy was complete, so before it changed anything.
            EXPECT_FALSE(cambio);
            continue;
        }
        std::string err;
        ASSERT_EQ(Cli({"restaurar", "--dir", dir.string()}, &err), 0) << err;
        EXPECT_EQ(Leer(dir), antes);
        EXPECT_FALSE(copias::AvisoInterrumpido(dir).has_value());
        ++restauradas;
        fs::remove_all(dir);
    }
    EXPECT_GT(mezcladas, 8);
    EXPECT_GT(restauradas, 8);
    std::cout << "puntos de corte: " << llamadas << ", con tablas cambiadas: " << mezcladas
              << ", restauradas: " << restauradas << "\n";
#ifndef _WIN32
    const auto leidas = test::RunTool(paraDbfread);
    EXPECT_TRUE(leidas.ok) << leidas.Text();
#endif
}

} // namespace
} // namespace zendral::cli
