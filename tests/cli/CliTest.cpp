#include "Cli.h"

#include "DbfRead.h"
#include "ExternalTool.h"
#include "TempDir.h"
#include "Velorin.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace zendral::cli
{
namespace
{

namespace fs = std::filesystem;

const fs::path kSamples = fs::path(ZENDRAL_SOURCE_DIR) / "samples";

struct Salida
{
    int codigo;
    std::string out;
    std::string err;
};

Salida Ejecutar(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int codigo = RunCli(args, out, err);
    return {codigo, out.str(), err.str()};
}

class CliTest : public ::testing::Test
{
protected:
    CliTest() { fs::create_directory(work); }

    std::vector<std::string> Exportar(const fs::path& centre, std::vector<std::string> mas = {})
    {
        std::vector<std::string> args = {"exportar", centre.string(), "--dir", work.string()};
        args.insert(args.end(), mas.begin(), mas.end());
        return args;
    }

    test::TempDir dir;
    fs::path work = dir / "VTEMP";
};

TEST_F(CliTest, UsageErrorsExitWithTwo)
{
    const std::vector<std::vector<std::string>> malos = {
        {},
        {"exportar"},
        {"importar", "a.xml", "--cursos", "c.csv"},
        {"importar"},
        {"exportar", "a.xml", "b.xml"},
        {"exportar", "a.xml", "--dir"},
        {"exportar", "a.xml", "--cursos"},
        {"exportar", "a.xml", "--desconocida"},
        {"cursos", "a.xml", "--sin-lineas"},
    };
    for (const auto& args : malos) {
        const auto s = Ejecutar(args);
        EXPECT_EQ(s.codigo, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(s.err.rfind("Uso:", 0), 0u);
        EXPECT_TRUE(s.out.empty());
    }
}

TEST_F(CliTest, MissingFileSaysSoAndExitsWithOne)
{
    for (const std::string orden : {"exportar", "cursos"}) {
        const auto s = Ejecutar({orden, (dir / "no.xml").string()});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_EQ(s.err, "No existe archivo\n");
    }
    const auto s = Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", (dir / "no.csv").string()}));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_NE(s.err.find("no.csv"), std::string::npos) << s.err;
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(CliTest, TemplateListsEveryCourseReadyToFill)
{
    const auto s = Ejecutar({"cursos", (kSamples / "centre.xml").string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(s.out, "CODI;DESCRIPCIO;NIVEL;CURSO\n"
                     "23510;1r d'ESO;;\n23511;2n d'ESO;;\n23512;3r d'ESO;;\n23513;4t d'ESO;;\n"
                     "23520;1r de Batxillerat;;\n23521;2n de Batxillerat;;\n");
}

TEST_F(CliTest, CoursesLackingDataStopBeforeAnyTable)
{
    const auto csv = dir.write("cursos.csv", "CODI;DESCRIPCIO;NIVEL;CURSO\n23510;x;ESO;1\n23511;x;ESO;2\n"
                                             "23512;x;ESO; \n23513;x;ESO;4\n23520;x;BAT;1\n");
    auto s = Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", csv.string()}));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "¡Atención! Falta algún Dato\n  23512  3r d'ESO\n  23521  2n de Batxillerat\n");
    EXPECT_TRUE(fs::is_empty(work));

    s = Ejecutar(Exportar(kSamples / "centre.xml"));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(std::count(s.err.begin(), s.err.end(), '\n'), 7);
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(CliTest, MalformedDocumentNamesLineAndTouchesNothing)
{
    const auto centre = dir.write("roto.xml", "<CENTRE>\n  <AULES>\n</CENTRE>\n");
    const auto s = Ejecutar(Exportar(centre, {"--cursos", (kSamples / "cursos.csv").string()}));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_NE(s.err.find("roto.xml"), std::string::npos) << s.err;
    EXPECT_NE(s.err.find("línea 3"), std::string::npos) << s.err;
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(CliTest, SampleImportWritesEveryTable)
{
    auto s = Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", (kSamples / "cursos.csv").string()}));
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(s.out, "Proceso finalizado\n"
                     "  ASIGNOMT: 47 registros\n  PROFT: 25 registros\n  AULAT: 16 registros\n"
                     "  CURSOST: 6 registros\n  GRUPOST: 15 registros\n  MATIB: 43 registros\n"
                     "  ASIGT: 120 registros\n  DIASHORAST: 0 registros\n");

    const auto aulas = test::DbfRead(work / "AULAT.DBF");
    EXPECT_EQ(aulas.fields, (std::vector<std::string>{"ABREV:C:4:0", "NOMBRE:C:40:0", "EDIFICIO:C:1:0",
                                                      "MAXALUM:N:11:0", "CODI:C:60:0"}));
    ASSERT_EQ(aulas.records.size(), 16u);
    EXPECT_EQ(aulas.records[10], "Au10|(111) Aula 11||~|111");
    const auto asignaturas = test::DbfRead(work / "ASIGNOMT.DBF");
    EXPECT_EQ(asignaturas.fields,
              (std::vector<std::string>{"COD:C:4:0", "CODLARGO:C:8:0", "NOMBRE:C:40:0", "CODI:C:20:0",
                                        "HORAS:C:8:0", "CODICURS:C:20:0", "ESTAREA:L:1:0"}));
    EXPECT_EQ(asignaturas.records[14], "Educ|Educacia|Educació física|2063605|4|23511|F");

    // Without lines, ASIGT is written empty.
    s = Ejecutar(
        Exportar(kSamples / "centre.xml", {"--cursos", (kSamples / "cursos.csv").string(), "--sin-lineas"}));
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.out.find("  ASIGT: 0 registros\n"), std::string::npos) << s.out;
    EXPECT_TRUE(test::DbfRead(work / "ASIGT.DBF").records.empty());
}

TEST_F(CliTest, TimetableExportGoesToTheDirectoryOfTheGivenName)
{
    ASSERT_EQ(
        Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", (kSamples / "cursos.csv").string()})).codigo,
        0);
    host::LlenarDiasHoras(work, 8, false);
    host::GenerarSoluc(work, {});
    const fs::path saga = dir / "saga";
    fs::create_directory(saga);

    auto s = Ejecutar({"importar", (saga / "no.xml").string(), "--dir", work.string()});
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "No existe archivo\n");
    EXPECT_FALSE(fs::exists(saga / "SolucioHorari.xml"));

    // An existing file that is not XML names its directory; a directory names itself.
    const auto cualquiera = dir.write("saga/notas.txt", "no es XML");
    for (const fs::path& destino : {cualquiera, saga}) {
        s = Ejecutar({"importar", destino.string(), "--dir", work.string()});
        ASSERT_EQ(s.codigo, 0) << s.err;
        EXPECT_EQ(s.out,
                  "Proceso finalizado\n  485 sesiones en " + (saga / "SolucioHorari.xml").string() + "\n");
    }
    EXPECT_EQ(test::ReadFile(cualquiera), "no es XML");
    const test::ToolOutput xmllint =
        test::RunTool({"/usr/bin/xmllint", "--noout", (saga / "SolucioHorari.xml").string()});
    EXPECT_TRUE(xmllint.ok) << xmllint.Text();
}

TEST_F(CliTest, MissingWorkingDirectoryIsAnError)
{
    const auto s = Ejecutar({"exportar", (kSamples / "centre.xml").string(), "--dir", (dir / "nada").string(),
                             "--cursos", (kSamples / "cursos.csv").string()});
    EXPECT_EQ(s.codigo, 1);
    EXPECT_NE(s.err.find("ASIGNOMT"), std::string::npos) << s.err;
}

} // namespace
} // namespace zendral::cli
