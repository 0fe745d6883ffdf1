#include "Cli.h"

#include "DbfRead.h"
#include "DbfTable.h"
#include "EjecutarCli.h"
#include "ExternalTool.h"
#include "TempDir.h"
#include "Velorin.h"
#include "VelorinSim.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace zendral::cli
{
namespace
{

namespace fs = std::filesystem;

using test::Ejecutar;
using test::kSamples;
using test::Salida;

// The summary without its last line, which names the run's report in zendral/informes/ of `work`.
std::string SinInforme(const std::string& out, const fs::path& work)
{
    const std::string linea = "  Informe: " + (work / "zendral" / "informes" / "").string();
    const std::size_t donde = out.rfind(linea);
    if (donde == std::string::npos || out.back() != '\n' ||
        !fs::is_regular_file(out.substr(donde + 11, out.size() - donde - 12))) {
        return "(sin informe) " + out;
    }
    return out.substr(0, donde);
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

TEST_F(CliTest, UsageErrorsNameTheArgumentAndExitWithTwo)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> malos = {
        {{}, "Falta la orden"},
        {{"exporta", "a.xml"}, "Orden desconocida: exporta"},
        {{"exportar"}, "Falta el documento de centro (CENTRO.xml)"},
        {{"importar", "a.xml", "--cursos", "c.csv"}, "La orden importar no admite la opción --cursos"},
        {{"importar"}, "Falta el archivo o la carpeta de destino"},
        {{"exportar", "a.xml", "b.xml"}, "Sobra el argumento b.xml"},
        {{"copias", "x"}, "Sobra el argumento x"},
        {{"exportar", "a.xml", "--dir"}, "Falta el valor de --dir"},
        {{"exportar", "a.xml", "--cursos"}, "Falta el valor de --cursos"},
        {{"exportar", "a.xml", "--desconocida"}, "La orden exportar no admite la opción --desconocida"},
        {{"cursos", "a.xml", "--sin-lineas"}, "La orden cursos no admite la opción --sin-lineas"},
    };
    for (const auto& [args, error] : malos) {
        const auto s = Ejecutar(args);
        EXPECT_EQ(s.codigo, 2) << error;
        EXPECT_EQ(s.err.rfind(error + "\n\nUso:", 0), 0u) << s.err;
        EXPECT_TRUE(s.out.empty());
    }
}

TEST_F(CliTest, MissingFileSaysSoAndExitsWithOne)
{
    for (const std::string orden : {"exportar", "cursos", "comprobar"}) {
        const auto s = Ejecutar({orden, (dir / "no.xml").string()});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_EQ(s.err, "No existe archivo: " + (dir / "no.xml").string() + "\n");
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
    const std::string salida = SinInforme(s.out, work);
    const std::size_t cambios = salida.find("  Cambios respecto a las tablas de antes (copia ");
    EXPECT_EQ(salida.substr(0, cambios),
              "Proceso finalizado\n"
              "  ASIGNOMT: 47 registros\n  PROFT: 25 registros\n  AULAT: 16 registros\n"
              "  CURSOST: 6 registros\n  GRUPOST: 15 registros\n  MATIB: 43 registros\n"
              "  ASIGT: 120 registros\n  DIASHORAST: 0 registros\n");
    // Into an empty directory every table is new.
    EXPECT_NE(salida.find("):\n    ASIGNOMT: tabla nueva, 47 nuevos\n    PROFT: tabla nueva, 25 nuevos\n"),
              std::string::npos)
        << salida;

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
    EXPECT_EQ(s.err, "No existe archivo: " + (saga / "no.xml").string() + "\n");
    EXPECT_FALSE(fs::exists(saga / "SolucioHorari.xml"));

    // An existing file that is not XML names its directory; a directory names itself.
    const auto cualquiera = dir.write("saga/notas.txt", "no es XML");
    for (const fs::path& destino : {cualquiera, saga}) {
        s = Ejecutar({"importar", destino.string(), "--dir", work.string()});
        ASSERT_EQ(s.codigo, 0) << s.err;
        EXPECT_EQ(SinInforme(s.out, work),
                  "Proceso finalizado\n  485 sesiones en " + (saga / "SolucioHorari.xml").string() +
                      "\n  Comprobado: 486 registros de SOLUC, 1 sin día (no se exportan), "
                      "5 actividades\n");
    }
    EXPECT_EQ(test::ReadFile(cualquiera), "no es XML");
    const test::ToolOutput xmllint =
        test::RunTool({"/usr/bin/xmllint", "--noout", (saga / "SolucioHorari.xml").string()});
    EXPECT_TRUE(xmllint.ok) << xmllint.Text();
}

// A small centre that loses data: a character windows-1252 lacks in a code, and two course codes
// of 21 characters that share their first 20.
const std::string kConPerdidas =
    "<CENTRE codi=\"07000001\"><MATERIES><MATERIA codi=\"Ł1\" curs=\"C1\" descripcio=\"Mates\" "
    "curta=\"MAT\"/>"
    "</MATERIES><ACTIVITATS/><PLACES/><AULES/><CURSOS>"
    "<CURS codi=\"C1\" descripcio=\"1r\"><GRUP codi=\"G1\" nom=\"A\"/></CURS>"
    "<CURS codi=\"123456789012345678901\" descripcio=\"2n\"><GRUP codi=\"G2\" nom=\"A\"/></CURS>"
    "<CURS codi=\"123456789012345678902\" descripcio=\"3r\"><GRUP codi=\"G3\" nom=\"A\"/></CURS>"
    "</CURSOS></CENTRE>";
const std::string kCursosPerdidas =
    "CODI;DESCRIPCIO;NIVEL;CURSO\nC1;1r;ESO;1\n12345678901234567890;2n;BAT;2\n";

std::vector<std::string> Lineas(const std::string& texto)
{
    std::vector<std::string> lineas;
    std::istringstream in(texto);
    for (std::string l; std::getline(in, l);) {
        lineas.push_back(l);
    }
    return lineas;
}

TEST_F(CliTest, WarningsFollowTheSummaryAndStrictTurnsThemIntoExitThree)
{
    const auto centre = dir.write("perdidas.xml", kConPerdidas);
    const auto csv = dir.write("cursos.csv", kCursosPerdidas);
    auto s = Ejecutar(Exportar(centre, {"--cursos", csv.string()}));
    ASSERT_EQ(s.codigo, 0) << s.err;
    const auto out = Lineas(s.out);
    ASSERT_EQ(out.size(), 19u) << s.out;
    EXPECT_EQ(out[0], "Proceso finalizado");
    EXPECT_EQ(out[18].rfind("  Informe: " + (work / "zendral" / "informes" / "").string(), 0), 0u) << out[18];
    EXPECT_TRUE(fs::is_regular_file(out[18].substr(11)));

    const auto err = Lineas(s.err);
    ASSERT_EQ(err.size(), 6u) << s.err;
    for (std::size_t i = 0; i + 1 < err.size(); ++i) {
        EXPECT_EQ(err[i].rfind("Aviso: ", 0), 0u) << err[i];
    }
    EXPECT_EQ(err[0],
              "Aviso: Caracteres que Velorin no puede guardar: ASIGNOMT.CODI, MATERIA Ł1, «Ł1»: se guarda "
              "como «?1»; con este código GestIB no reconocerá el elemento");
    EXPECT_NE(err[1].find("CURSOST.CODI, CURS 123456789012345678901"), std::string::npos) << err[1];
    EXPECT_NE(err[1].find("se confunde con el curso «123456789012345678902»"), std::string::npos) << err[1];
    EXPECT_NE(err[3].find("GRUPOST.NIVEL, CURS 123456789012345678901"), std::string::npos) << err[3];
    EXPECT_EQ(err[5], "5 avisos");

    // --estricto: the same tables, then exit 3.
    const std::string grupos = test::ReadFile(work / "GRUPOST.DBF");
    fs::remove(work / "GRUPOST.DBF");
    s = Ejecutar(Exportar(centre, {"--cursos", csv.string(), "--estricto"}));
    EXPECT_EQ(s.codigo, 3) << s.err;
    EXPECT_EQ(test::ReadFile(work / "GRUPOST.DBF").substr(4), grupos.substr(4));
    EXPECT_EQ(Lineas(s.err).back(), "5 avisos");
}

TEST_F(CliTest, CheckListsTheWarningsAndTouchesNoTable)
{
    const auto centre = dir.write("perdidas.xml", kConPerdidas);
    const auto csv = dir.write("cursos.csv", kCursosPerdidas);
    auto s = Ejecutar({"comprobar", centre.string(), "--dir", work.string(), "--cursos", csv.string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
    // The warnings, then a blank line and the changes.
    const auto out = Lineas(s.out.substr(0, s.out.find("\n\nCambios respecto a las tablas actuales:\n") + 1));
    ASSERT_EQ(out.size(), 6u) << s.out;
    EXPECT_EQ(out[5], "5 avisos");
    // The same warnings a run gives.
    const auto run = Ejecutar(Exportar(centre, {"--cursos", csv.string()}));
    auto avisosRun = Lineas(run.err);
    EXPECT_EQ(std::vector<std::string>(out.begin(), out.end()), avisosRun);
    fs::remove_all(work);
    fs::create_directory(work);

    // Without answers, courses stand for any answer; the long codes still lose theirs.
    s = Ejecutar({"comprobar", centre.string(), "--dir", work.string(), "--estricto"});
    EXPECT_EQ(s.codigo, 3);
    EXPECT_NE(s.out.find("3 cursos no tienen todavía nivel y curso: se pedirán al importar\n"),
              std::string::npos)
        << s.out;
    EXPECT_NE(s.out.find("GRUPOST.NIVEL, CURS 123456789012345678901"), std::string::npos) << s.out;
    EXPECT_TRUE(fs::is_empty(work));

    const auto limpio =
        dir.write("limpio.xml", "<CENTRE codi=\"1\"><MATERIES/><ACTIVITATS/><PLACES/><AULES/>"
                                "<CURSOS><CURS codi=\"C1\" descripcio=\"1r\"><GRUP codi=\"G1\" "
                                "nom=\"A\"/></CURS></CURSOS></CENTRE>");
    s = Ejecutar({"comprobar", limpio.string(), "--dir", work.string(), "--estricto"});
    EXPECT_EQ(s.codigo, 0);
    EXPECT_EQ(
        s.out.rfind("Sin avisos\n1 curso no tiene todavía nivel y curso: se pedirán al importar\n\n", 0), 0u)
        << s.out;
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(CliTest, CoursesFileInAnotherCodePageIsRefused)
{
    const auto csv = dir.write("cursos.csv", "CODI;DESCRIPCIO;NIVEL;CURSO\n23510;1r d'ESO;\xC9SO;1\n");
    const auto s = Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", csv.string()}));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "El archivo cursos.csv no está en UTF-8 (línea 2): guárdelo con la codificación UTF-8 y "
                     "vuelva a intentarlo\n");
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(CliTest, RememberedAnswersServeTheNextImportOfTheSameCentre)
{
    const auto cursos = (kSamples / "cursos.csv").string();
    ASSERT_EQ(Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", cursos})).codigo, 0);
    const auto grupos = test::DbfRead(work / "GRUPOST.DBF").records;
    EXPECT_TRUE(fs::is_regular_file(work / "zendral" / "cursos.csv"));

    // No courses file: the remembered answers, and the same groups.
    auto s = Ejecutar(Exportar(kSamples / "centre.xml"));
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_EQ(test::DbfRead(work / "GRUPOST.DBF").records, grupos);

    // A courses file wins for the courses it names.
    const auto uno = dir.write("uno.csv", "CODI;DESCRIPCIO;NIVEL;CURSO\n23510;x;PRI;6\n");
    ASSERT_EQ(Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", uno.string()})).codigo, 0);
    const auto ahora = test::DbfRead(work / "GRUPOST.DBF").records;
    ASSERT_EQ(ahora.size(), grupos.size());
    EXPECT_EQ(ahora[0].substr(0, 11), "PR6A||PRI|6") << ahora[0];
    EXPECT_EQ(ahora.back(), grupos.back());

    // Ignored on request, and never for another centre.
    s = Ejecutar(Exportar(kSamples / "centre.xml", {"--sin-memoria"}));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err.rfind("¡Atención! Falta algún Dato\n", 0), 0u) << s.err;
    std::string otro = test::ReadFile(kSamples / "centre.xml");
    otro.replace(otro.find("07013456"), 8, "07099999");
    s = Ejecutar(Exportar(dir.write("otro.xml", otro)));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err.rfind("¡Atención! Falta algún Dato\n", 0), 0u) << s.err;
}

TEST_F(CliTest, TimetableExportWarnsAboutSessionsWithoutRecord)
{
    ASSERT_EQ(
        Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", (kSamples / "cursos.csv").string()})).codigo,
        0);
    host::LlenarDiasHoras(work, 8, false);
    host::GenerarSoluc(work, {});
    {
        dbf::Table soluc("SOLUC", work, "SOLUC");
        soluc.Open();
        soluc.First();
        soluc.Edit();
        soluc.FieldByName("PROF").SetAsString("NADI");
        soluc.Post();
        soluc.Close();
    }
    const fs::path saga = dir / "saga";
    fs::create_directory(saga);
    auto s = Ejecutar({"importar", saga.string(), "--dir", work.string(), "--estricto"});
    EXPECT_EQ(s.codigo, 3) << s.err;
    EXPECT_NE(s.out.find("  Comprobado: 486 registros de SOLUC, 1 sin día (no se exportan)"),
              std::string::npos)
        << s.out;
    EXPECT_EQ(s.err,
              "Aviso: Sesiones sin registro en las tablas: PROFT, «NADI»: 1 sesión sin registro de profesor "
              "en PROFT: el atributo sale vacío (registros de SOLUC 1 «NADI»)\n1 aviso\n");
    EXPECT_TRUE(fs::is_regular_file(saga / "SolucioHorari.xml"));
}

// FNV-1a of a file's bytes, with the dates of last update of tables and indexes blanked out.
std::uint64_t Huella(const fs::path& archivo)
{
    std::string bytes = test::ReadFile(archivo);
    const std::string ext = archivo.extension().string();
    if (ext == ".DBF" || ext == ".MDX") {
        bytes.replace(1, 3, 3, '\0');
    }
    if (ext == ".MDX") {
        bytes.replace(44, 3, 3, '\0');
    }
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    }
    return h;
}

// The tables and the timetable document that the whole path gives, byte for byte as before the
// warnings, the check of the document, the reports and the remembered answers existed: the sample
// centre and a centre that loses data in every way the warnings tell.
TEST_F(CliTest, TablesAndTimetableAreByteForByteAsBeforeTheWarnings)
{
    const auto perdidas = dir.write(
        "perdidas.xml",
        "<CENTRE codi=\"07000001\"><MATERIES><MATERIA codi=\"Ł1\" curs=\"123456789012345678901\" "
        "descripcio=\"Mates 🙂\" curta=\"MAT\"/><MATERIA codi=\"M2\" curs=\"C9\" descripcio=\"Física\" "
        "curta=\"FIS\"/></MATERIES><ACTIVITATS><ACTIVITAT codi=\"900\" descripcio=\"Guàrdia\" "
        "curta=\"GUA\"/></ACTIVITATS><PLACES><PLACA codi=\"P1\" descripcio=\"Łukasz\" curta=\"LUK\"/><PLACA "
        "codi=\"P1\" descripcio=\"Joan\" curta=\"JOAN\"/></PLACES><AULES/><CURSOS><CURS codi=\"C1\" "
        "descripcio=\"1r\"><GRUP codi=\"G1\" nom=\"A\"/><GRUP codi=\"G0\" nom=\"\"/></CURS><CURS "
        "codi=\"123456789012345678901\" descripcio=\"2n\"><GRUP codi=\"G2\" nom=\"A\"/></CURS><CURS "
        "codi=\"123456789012345678902\" descripcio=\"3r\"><GRUP codi=\"G3\" nom=\"A\"/></CURS><CURS "
        "codi=\"C9\" descripcio=\"FP\"/></CURSOS></CENTRE>\n");
    const auto cursos =
        dir.write("perdidas.csv",
                  "CODI;DESCRIPCIO;NIVEL;CURSO\nC1;1r;ESO;1\n12345678901234567890;2n;BAT;2\nC9;FP;FP;1\n");
    using Huellas = std::map<std::string, std::uint64_t>;
    const std::vector<std::tuple<fs::path, fs::path, Huellas>> casos = {
        {kSamples / "centre.xml",
         kSamples / "cursos.csv",
         {{"ASIGNOMT.DBF", 0xa17288ade50b5f78ULL},
          {"ASIGT.DBF", 0xf678937aafc59240ULL},
          {"AULAT.DBF", 0xb02ff7a943dd6a59ULL},
          {"CURSOST.DBF", 0x615463615edcec0fULL},
          {"DIASHORAST.DBF", 0x64a0caf65fa44b41ULL},
          {"GRUPOST.DBF", 0x0d16682680cde9d7ULL},
          {"MATIB.DBF", 0x184eaaa8c26ac082ULL},
          {"MATIB.MDX", 0xcb007c563d6b271eULL},
          {"PROFT.DBF", 0xfb35c1fe2b5df5dfULL},
          {"SolucioHorari.xml", 0x655c0b07337ca5d9ULL}}},
        {perdidas,
         cursos,
         {{"ASIGNOMT.DBF", 0x96ea7a94df62259bULL},
          {"ASIGT.DBF", 0xe08ed73742b9d0caULL},
          {"AULAT.DBF", 0xc02220e597650dd9ULL},
          {"CURSOST.DBF", 0x2b845dfd51ada0d3ULL},
          {"DIASHORAST.DBF", 0x64a0caf65fa44b41ULL},
          {"GRUPOST.DBF", 0x5935fbd8980d68d7ULL},
          {"MATIB.DBF", 0x8e6fb61d9eafc8f0ULL},
          {"MATIB.MDX", 0x411a69acf1188260ULL},
          {"PROFT.DBF", 0xf7af1777e58d1e5bULL},
          {"SolucioHorari.xml", 0x475df1fc8ea65da8ULL}}},
    };
    for (const auto& [centre, csv, esperadas] : casos) {
        SCOPED_TRACE(centre.filename().string());
        fs::remove_all(work);
        fs::create_directory(work);
        const fs::path saga = dir / "saga";
        fs::create_directories(saga);
        ASSERT_EQ(Ejecutar(Exportar(centre, {"--cursos", csv.string()})).codigo, 0);
        std::ostringstream o, e;
        ASSERT_EQ(host::EjecutarVelorinSim({"diashoras", "--dir", work.string()}, o, e, work), 0);
        ASSERT_EQ(host::EjecutarVelorinSim({"soluc", "--dir", work.string()}, o, e, work), 0);
        ASSERT_EQ(Ejecutar({"importar", saga.string(), "--dir", work.string()}).codigo, 0);
        for (const auto& [archivo, huella] : esperadas) {
            const fs::path ruta = (archivo == "SolucioHorari.xml" ? saga : work) / archivo;
            EXPECT_EQ(Huella(ruta), huella) << archivo;
        }
        // A second import that takes the remembered answers writes the same tables again.
        ASSERT_EQ(Ejecutar(Exportar(centre)).codigo, 0);
        for (const auto& [archivo, huella] : esperadas) {
            if (archivo != "SolucioHorari.xml" && archivo != "DIASHORAST.DBF") {
                EXPECT_EQ(Huella(work / archivo), huella) << archivo << " con los niveles recordados";
            }
        }
    }
}

// ---- Input that cannot be stored safely, or read without end ---------------------------------

// The command run with a limit: a run that waits on a FIFO or reads a device without end stops
// the whole test program, rather than hanging it.
Salida ConLimite(const std::vector<std::string>& args)
{
    auto run = std::async(std::launch::async, [args] { return Ejecutar(args); });
    if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        std::fprintf(stderr, "zendral-cli %s did not end within 20 s: the test program stops\n",
                     args[0].c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    return run.get();
}

// A character reference to a code point windows-1252 leaves undefined is stored as "?" and named
// by the code-page warning: independent readers decode every table.
TEST_F(CliTest, UndefinedCodePointIsStoredAsQuestionMarkWithAWarning)
{
    std::string texto = test::ReadFile(kSamples / "centre.xml");
    const std::string materia = "descripcio=\"Educació física\"";
    ASSERT_NE(texto.find(materia), std::string::npos);
    texto.replace(texto.find(materia), materia.size(), "descripcio=\"Educaci&#x8D; f&#10;ísica\"");
    const auto centre = dir.write("centre.xml", texto);
    const auto s = Ejecutar(Exportar(centre, {"--cursos", (kSamples / "cursos.csv").string()}));
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.err.find("Aviso: Caracteres que Velorin no puede guardar: ASIGNOMT.NOMBRE, MATERIA "),
              std::string::npos)
        << s.err;
    EXPECT_NE(s.err.find(", «Educaci&#x8D; f&#xA;ísica»: se guarda como «Educaci? f?ísica»\n"),
              std::string::npos)
        << s.err;
    bool vista = false;
    for (const std::string& registro : test::DbfRead(work / "ASIGNOMT.DBF").records) {
        vista = vista || registro.find("|Educaci? f?ísica|") != std::string::npos;
    }
    EXPECT_TRUE(vista);
    EXPECT_FALSE(test::DbfRead(work / "MATIB.DBF").records.empty());
}

// Line breaks and tabs in the courses file's level and course number: "?" and a warning, from the
// run and from the check alike.
TEST_F(CliTest, ControlCharactersInTheCoursesFileAreStoredAsQuestionMarks)
{
    const auto csv =
        dir.write("cursos.csv", "CODI;DESCRIPCIO;NIVEL;CURSO\n23510;x;\"E\nS\";1\n23511;x;ESO;\"\t2\"\n"
                                "23512;x;ESO;3\n23513;x;ESO;4\n23520;x;BAT;1\n23521;x;BAT;2\n");
    const std::string nivel = "Aviso: Caracteres que Velorin no puede guardar: CURSOST.NIVEL, CURS 23510, "
                              "«E&#xA;S»: se guarda como «E?S»\n";
    const std::string curso = "Aviso: Caracteres que Velorin no puede guardar: CURSOST.CURSO, CURS 23511, "
                              "«&#x9;2»: se guarda como «?2»\n";
    auto s = Ejecutar(
        {"comprobar", (kSamples / "centre.xml").string(), "--dir", work.string(), "--cursos", csv.string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.out.find(nivel), std::string::npos) << s.out;
    EXPECT_NE(s.out.find(curso), std::string::npos) << s.out;
    s = Ejecutar(Exportar(kSamples / "centre.xml", {"--cursos", csv.string()}));
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.err.find(nivel), std::string::npos) << s.err;
    EXPECT_NE(s.err.find(curso), std::string::npos) << s.err;
    const auto cursos = test::DbfRead(work / "CURSOST.DBF").records;
    ASSERT_EQ(cursos.size(), 6u);
    EXPECT_EQ(cursos[0].substr(cursos[0].size() - 6), "|E?S|1") << cursos[0];
    EXPECT_EQ(cursos[1].substr(cursos[1].size() - 7), "|ESO|?2") << cursos[1];
}

// The courses file is read only when it is a regular file of at most 16 MB; nothing is touched
// otherwise.
TEST_F(CliTest, CoursesFileThatIsNoRegularFileOrTooLargeIsRefused)
{
    const fs::path grande = dir / "grande.csv";
    {
        std::ofstream out(grande, std::ios::binary);
        out << "CODI;DESCRIPCIO;NIVEL;CURSO\n";
        out << std::string(16 * 1024 * 1024, 'x');
    }
    for (const std::string orden : {"exportar", "comprobar"}) {
        const auto s = ConLimite(
            {orden, (kSamples / "centre.xml").string(), "--dir", work.string(), "--cursos", grande.string()});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_EQ(s.err, "No se puede leer el archivo " + grande.string() +
                             ": es demasiado grande (más de 16 MB)\n");
        EXPECT_TRUE(fs::is_empty(work));
    }
    const auto s = ConLimite(Exportar(kSamples / "centre.xml", {"--cursos", dir.path().string()}));
    EXPECT_EQ(s.codigo, 1);
    EXPECT_EQ(s.err, "No se puede leer el archivo " + dir.path().string() +
                         ": es una carpeta, no un archivo normal\n");
    EXPECT_TRUE(fs::is_empty(work));
}

#ifndef _WIN32
TEST_F(CliTest, FifoOrDeviceAsCoursesFileIsRefusedWithoutWaiting)
{
    const fs::path fifo = dir / "cursos.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string orden : {"exportar", "comprobar"}) {
        SCOPED_TRACE(orden);
        auto s = ConLimite(
            {orden, (kSamples / "centre.xml").string(), "--dir", work.string(), "--cursos", fifo.string()});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_EQ(s.err, "No se puede leer el archivo " + fifo.string() +
                             ": es una tubería (FIFO), no un archivo normal\n");
        s = ConLimite(
            {orden, (kSamples / "centre.xml").string(), "--dir", work.string(), "--cursos", "/dev/zero"});
        EXPECT_EQ(s.codigo, 1);
        EXPECT_EQ(s.err, "No se puede leer el archivo /dev/zero: es un dispositivo, no un archivo normal\n");
        EXPECT_TRUE(fs::is_empty(work));
    }
}

TEST_F(CliTest, FifoAsTheDocumentIsRefusedWithoutWaiting)
{
    const fs::path fifo = dir / "centre.xml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string error =
        "No se puede leer el archivo " + fifo.string() + ": es una tubería (FIFO), no un archivo normal\n";
    for (const std::string orden : {"exportar", "comprobar", "cursos"}) {
        SCOPED_TRACE(orden);
        std::vector<std::string> args = {orden, fifo.string()};
        if (orden != "cursos") {
            args.insert(args.end(), {"--dir", work.string(), "--cursos", (kSamples / "cursos.csv").string()});
        }
        const auto s = ConLimite(args);
        EXPECT_EQ(s.codigo, 1);
        EXPECT_EQ(s.err, error);
        EXPECT_TRUE(s.out.empty()) << s.out;
        EXPECT_TRUE(fs::is_empty(work));
    }
}

// A FIFO where the remembered answers are kept is not read: a warning names it, the import goes
// on with the courses file, and the FIFO stays as it is.
TEST_F(CliTest, FifoAsTheRememberedAnswersIsNotReadNorReplaced)
{
    fs::create_directory(work / "zendral");
    const fs::path fifo = work / "zendral" / "cursos.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string aviso = "Aviso: Niveles y cursos recordados: «" + fifo.string() +
                              "»: no se ha podido leer: No se puede leer el archivo " + fifo.string() +
                              ": es una tubería (FIFO), no un archivo normal; no se ha usado ningún nivel ni "
                              "curso recordado\n";
    auto s = ConLimite({"comprobar", (kSamples / "centre.xml").string(), "--dir", work.string(), "--cursos",
                        (kSamples / "cursos.csv").string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.out.find(aviso), std::string::npos) << s.out;
    s = ConLimite(Exportar(kSamples / "centre.xml", {"--cursos", (kSamples / "cursos.csv").string()}));
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.err.find(aviso), std::string::npos) << s.err;
    EXPECT_NE(s.err.find("no se han podido guardar los niveles y cursos de este centro"), std::string::npos)
        << s.err;
    EXPECT_EQ(fs::status(fifo).type(), fs::file_type::fifo);
    EXPECT_EQ(test::DbfRead(work / "GRUPOST.DBF").records.size(), 15u);
}
#endif

TEST_F(CliTest, MissingWorkingDirectoryIsAnError)
{
    const auto s = Ejecutar({"exportar", (kSamples / "centre.xml").string(), "--dir", (dir / "nada").string(),
                             "--cursos", (kSamples / "cursos.csv").string()});
    EXPECT_EQ(s.codigo, 1);
    // Said as such, not as a table that is missing.
    EXPECT_NE(s.err.find("No existe el directorio de trabajo " + (dir / "nada").string()), std::string::npos)
        << s.err;
    EXPECT_EQ(s.err.find(".DBF"), std::string::npos) << s.err;

    // Every command that takes --dir, listing copies included.
    for (const std::string orden : {"copias", "restaurar"}) {
        const auto c = Ejecutar({orden, "--dir", (dir / "nada").string()});
        EXPECT_EQ(c.codigo, 1) << orden;
        EXPECT_EQ(c.err, "No existe el directorio de trabajo " + (dir / "nada").string() + "\n");
        EXPECT_TRUE(c.out.empty()) << c.out;
    }
}

TEST_F(CliTest, EveryCommandRefusesWhatIsNotACentreDocument)
{
    const auto horario = dir.write("SolucioHorari.xml", "<HORARI><SESSIONS/></HORARI>");
    for (const std::string orden : {"exportar", "cursos", "comprobar"}) {
        std::vector<std::string> args = {orden, horario.string()};
        if (orden != "cursos") {
            args.insert(args.end(), {"--dir", work.string()});
        }
        const auto s = Ejecutar(args);
        EXPECT_EQ(s.codigo, 1) << orden;
        EXPECT_EQ(s.err, "El archivo " + horario.string() +
                             " no es un documento de centro de GestIB: su elemento raíz es HORARI\n")
            << orden;
        EXPECT_TRUE(s.out.empty()) << orden << ": " << s.out;
    }
    EXPECT_TRUE(fs::is_empty(work));
}

} // namespace
} // namespace zendral::cli
