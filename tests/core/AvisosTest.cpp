#include "CarpetaZendral.h"
#include "CodePage.h"
#include "ComprobarCentro.h"
#include "CursosCsv.h"
#include "DbfTable.h"
#include "Error.h"
#include "Importacion.h"
#include "Informe.h"
#include "MemoriaCursos.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zendral
{
namespace
{

namespace fs = std::filesystem;
using test::Mostrar;
using Lista = std::vector<std::string>;

std::string Centre(const std::string& cuerpo, const std::string& codi = "07013456")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CENTRE codi=\"" + codi + "\">" + cuerpo + "</CENTRE>";
}

// Every section present and sound: two courses with groups, their subjects, a teacher, a room.
const std::string kLimpio =
    "<MATERIES><MATERIA codi=\"2063541\" curs=\"C1\" descripcio=\"Matemàtiques\" curta=\"MAT\"/>"
    "<MATERIA codi=\"2063542\" curs=\"C2\" descripcio=\"Música\" curta=\"MÚS\"/></MATERIES>"
    "<ACTIVITATS><ACTIVITAT codi=\"900\" descripcio=\"Guàrdia\" curta=\"GUA\"/></ACTIVITATS>"
    "<PLACES><PLACA codi=\"P1\" descripcio=\"Joan Pons\" curta=\"JOAN\"/></PLACES>"
    "<AULES><AULA codi=\"101\" descripcio=\"Aula 101\"/></AULES>"
    "<CURSOS><CURS codi=\"C1\" descripcio=\"1r d'ESO\"><GRUP codi=\"G1\" nom=\"A\"/>"
    "<GRUP codi=\"G2\" nom=\"B\"/></CURS>"
    "<CURS codi=\"C2\" descripcio=\"2n d'ESO\"><GRUP codi=\"G3\" nom=\"A\"/></CURS></CURSOS>";

xml::Document Doc(const std::string& texto) { return xml::Document::loadMemory(texto, "centre.xml"); }

Lista Lineas(const ListaAvisos& avisos)
{
    Lista lineas;
    for (const Aviso& a : avisos) {
        lineas.push_back(a.Linea());
    }
    return lineas;
}

// CURSOST as the dialog leaves it when every course got `nivel` and `curso`.
std::vector<RegistroCurso> Respondido(const xml::Document& doc, const std::string& nivel,
                                      const std::string& curso)
{
    std::vector<RegistroCurso> r;
    for (const auto& c : LeerCursos(doc)) {
        r.push_back({std::string(cp1252::Left(c.codi, 20)), c.descripcio, nivel, curso});
    }
    return r;
}

// A value shown in a warning keeps to one line and says what it holds: each control character as
// the character reference that writes it.
TEST(AvisosTest, ValuesShowControlCharactersAsCharacterReferences)
{
    EXPECT_EQ(TextoVisible("Àvila € 😀"), "Àvila € 😀");
    EXPECT_EQ(TextoVisible("a\nb\r\tc"), "a&#xA;b&#xD;&#x9;c");
    EXPECT_EQ(TextoVisible(std::string("\0\x7F", 2) + "\xC2\x8D\xC2\x85"), "&#x0;&#x7F;&#x8D;&#x85;");
    EXPECT_EQ(TextoVisible("a\xE9"), "aé");
}

TEST(ComprobarCentroTest, CleanDocumentGivesNoWarning)
{
    const auto doc = Doc(Centre(kLimpio));
    EXPECT_TRUE(ComprobarDocumento(doc).empty()) << ComprobarDocumento(doc).Detalles();
    EXPECT_TRUE(ComprobarNiveles(doc, Respondido(doc, "ESO", "1")).empty());
    EXPECT_EQ(CodigoCentro(doc), "07013456");
}

// Each kind of loss from a small document that has it, by the line that names it.
TEST(ComprobarCentroTest, EachLossIsNamedWithTableElementFieldAndValue)
{
    struct Caso
    {
        const char* que;
        std::string cuerpo;
        TipoAviso tipo;
        std::string linea;
    };
    const std::string curso25 = "2351000000000000000000001";
    const std::vector<Caso> casos = {
        {"carácter fuera de windows-1252 en un código",
         "<MATERIES><MATERIA codi=\"Ł2063541\" curs=\"C1\" descripcio=\"Mates\" curta=\"MAT\"/></MATERIES>",
         TipoAviso::Conversion,
         "Caracteres que Velorin no puede guardar: ASIGNOMT.CODI, MATERIA Ł2063541, «Ł2063541»: se guarda "
         "como "
         "«?2063541»; con este código GestIB no reconocerá el elemento"},
        {"emoji en un nombre, sin código", "<PLACES><PLACA descripcio=\"Joan 🙂\" curta=\"JO\"/></PLACES>",
         TipoAviso::Conversion,
         "Caracteres que Velorin no puede guardar: PROFT.NOMBRE, PLACA n.º 1, «Joan 🙂»: se guarda como "
         "«Joan ?»"},
        {"código de profesor de más de 40",
         "<PLACES><PLACA codi=\"" + std::string(45, '7') + "\" descripcio=\"X\" curta=\"X\"/></PLACES>",
         TipoAviso::Recorte,
         "Códigos recortados: PROFT.CODI, PLACA " + std::string(45, '7') + ", «" + std::string(45, '7') +
             "»: tiene 45 caracteres y se guarda recortado a 40: «" + std::string(40, '7') + "»"},
        {"curso de una materia de más de 20",
         "<MATERIES><MATERIA codi=\"M1\" curs=\"" + curso25 + "\" descripcio=\"X\" curta=\"X\"/></MATERIES>",
         TipoAviso::Recorte,
         "Códigos recortados: ASIGNOMT.CODICURS, MATERIA M1, «" + curso25 +
             "»: tiene 25 caracteres y se guarda recortado a 20: «23510000000000000000»"},
        {"curso de más de 20 que se confunde con otro",
         "<CURSOS><CURS codi=\"" + curso25 + "\" descripcio=\"1r\"><GRUP codi=\"G1\" nom=\"A\"/></CURS>" +
             "<CURS codi=\"23510000000000000000\" descripcio=\"2n\"><GRUP codi=\"G2\" "
             "nom=\"A\"/></CURS></CURSOS>",
         TipoAviso::Recorte,
         "Códigos recortados: CURSOST.CODI, CURS " + curso25 + ", «" + curso25 +
             "»: tiene 25 caracteres y se guarda recortado a 20: «23510000000000000000»; sus grupos quedarán "
             "sin "
             "nivel ni curso, y se confunde con el curso «23510000000000000000»"},
        {"dos aulas con el mismo código",
         "<AULES><AULA codi=\"101\" descripcio=\"A\"/><AULA codi=\" 101 \" descripcio=\"B\"/></AULES>",
         TipoAviso::Repetido,
         "Códigos de GestIB repetidos: AULAT.CODI, AULA 101, «101»: el mismo código que AULA n.º 1: la "
         "exportación "
         "solo reconocerá el primero"},
        {"dos grupos de cursos distintos con el mismo código",
         "<CURSOS><CURS codi=\"C1\" descripcio=\"1r\"><GRUP codi=\"G1\" nom=\"A\"/></CURS>"
         "<CURS codi=\"C2\" descripcio=\"2n\"><GRUP codi=\"G1\" nom=\"B\"/></CURS></CURSOS>",
         TipoAviso::Repetido,
         "Códigos de GestIB repetidos: GRUPOST.CODI, GRUP G1, «G1»: el mismo código que GRUP n.º 1 de CURS "
         "C1: la "
         "exportación "
         "solo reconocerá el primero"},
        {"materias de un curso sin grupos",
         "<MATERIES><MATERIA codi=\"M1\" curs=\"C9\" descripcio=\"X\" curta=\"X\"/>"
         "<MATERIA codi=\"M2\" curs=\"C9\" descripcio=\"Y\" curta=\"Y\"/></MATERIES>"
         "<CURSOS><CURS codi=\"C9\" descripcio=\"FP\"/></CURSOS>",
         TipoAviso::SinGrupo,
         "Materias cuyo curso no tiene grupos: MATIB.CODICURS, «C9»: 2 materias de este curso no tendrán "
         "registro "
         "en MATIB ni líneas de asignaturas, porque el curso no tiene grupos (M1, M2)"},
        {"sección que falta", "<MATERIES/>", TipoAviso::Seccion,
         "Secciones que faltan en el documento: PROFT, «PLACES»: falta en el documento: la tabla queda sin "
         "los "
         "profesores"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        const auto avisos = ComprobarDocumento(Doc(Centre(c.cuerpo)));
        const Lista lineas = Lineas(avisos);
        EXPECT_NE(std::find(lineas.begin(), lineas.end(), c.linea), lineas.end()) << avisos.Detalles();
        for (const Aviso& a : avisos) {
            // Only the kind under test, the sections the small document leaves out, and its subjects
            // without groups.
            EXPECT_TRUE(a.tipo == c.tipo || a.tipo == TipoAviso::Seccion || a.tipo == TipoAviso::SinGrupo)
                << a.Linea();
        }
    }
}

TEST(ComprobarCentroTest, DocumentWithoutSectionsSaysSoOnce)
{
    for (const std::string& texto : {Centre(""), std::string("<OTRO><MATERIES/></OTRO>")}) {
        const auto avisos = ComprobarDocumento(Doc(texto));
        ASSERT_EQ(avisos.size(), 1u) << avisos.Detalles();
        EXPECT_EQ(avisos.begin()->tipo, TipoAviso::Seccion);
        EXPECT_NE(avisos.begin()->detalle.find("todas las tablas quedan vacías"), std::string::npos);
    }
}

TEST(ComprobarCentroTest, GroupsWithoutLevelCourseOrAbbreviation)
{
    const std::string largo = "2351000000000000000000001";
    const auto doc = Doc(Centre("<CURSOS><CURS codi=\"C1\" descripcio=\"1r\"><GRUP codi=\"G1\" nom=\"A\"/>"
                                "<GRUP codi=\"G2\" nom=\"\"/></CURS>"
                                "<CURS codi=\"" +
                                largo +
                                "\" descripcio=\"2n\"><GRUP codi=\"G3\" nom=\"B\"/></CURS>"
                                "<CURS codi=\"C3\" descripcio=\"3r\"/></CURSOS>"));
    // C1 got a level but no course number; the long code is never found in CURSOST.
    auto cursost = Respondido(doc, "ESO", "1");
    cursost[0].curso = "  ";
    const Lista lineas = Lineas(ComprobarNiveles(doc, cursost));
    EXPECT_EQ(lineas,
              (Lista{"Grupos sin nivel, curso o abreviatura: GRUPOST.CURSO, CURS C1, «C1»: sus 2 grupos "
                     "quedan sin curso",
                     "Grupos sin nivel, curso o abreviatura: GRUPOST.NIVEL, CURS " + largo + ", «" + largo +
                         "»: su grupo queda sin nivel ni curso (el código tiene más de 20 caracteres y no se "
                         "encuentra en CURSOST)"}));

    // Nothing at all to build the abbreviation from: the first such group stores it empty.
    cursost[0].nivel = "";
    const Lista vacias = Lineas(ComprobarNiveles(doc, cursost));
    EXPECT_EQ(std::count_if(vacias.begin(), vacias.end(),
                            [](const std::string& l) {
                                return l.find("GRUPOST.ABREV, GRUP G2, «»: la abreviatura del grupo queda "
                                              "vacía") != std::string::npos;
                            }),
              1);
}

TEST(CursosCsvUtf8Test, FileInAnotherCodePageIsRefusedNamingTheLine)
{
    const std::string latin1 = "CODI;DESCRIPCIO;NIVEL;CURSO\n23510;1r;ESO;1\n23511;2n;\xC9S;2\n";
    try {
        csv::LeerCursosCsv(latin1, "cursos.csv");
        FAIL() << "aceptado";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "El archivo cursos.csv no está en UTF-8 (línea 3): guárdelo con la "
                                         "codificación UTF-8 y vuelva a intentarlo");
    }
    EXPECT_EQ(csv::LeerCursosCsv("\xEF\xBB\xBF"
                                 "CODI;DESCRIPCIO;NIVEL;CURSO\n1;x;ÉS;1\n",
                                 "c")
                  .at(0)
                  .nivel,
              "ÉS");
}

TEST(InformeTest, KeepsTheNewestFiftyAndNeverCreatesTheWorkingDirectory)
{
    test::TempDir dir;
    const fs::path work = dir / "VTEMP";
    Informe informe{"Importación del centro", dir / "centre.xml", "completado", {{"PROFT", 3}}, {}, {}};
    EXPECT_THROW(EscribirInforme(work, informe, 0), Error);
    EXPECT_FALSE(fs::exists(work));

    fs::create_directory(work);
    informe.avisos.Agregar(
        {TipoAviso::Conversion, "PROFT", "PLACA P1", "NOMBRE", "Łukasz", "se guarda como «?ukasz»"});
    // Two in the same second, then one a second for 51 more seconds.
    std::vector<fs::path> escritos;
    const std::time_t base = 1'800'000'000;
    escritos.push_back(EscribirInforme(work, informe, base));
    escritos.push_back(EscribirInforme(work, informe, base));
    for (int i = 1; i <= 51; ++i) {
        escritos.push_back(EscribirInforme(work, informe, base + i));
    }
    EXPECT_NE(escritos[0], escritos[1]);
    std::size_t cuantos = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(CarpetaZendral(work) / "informes")) {
        ++cuantos;
    }
    EXPECT_EQ(cuantos, kInformesGuardados);
    EXPECT_FALSE(fs::exists(escritos[0]));
    EXPECT_FALSE(fs::exists(escritos[2]));
    EXPECT_TRUE(fs::exists(escritos[3]));
    const std::string texto = test::ReadFile(escritos.back());
    for (const char* parte :
         {"Zendral: Importación del centro\n", "Resultado: completado\n", "  PROFT: 3\n", "Avisos: 1 aviso\n",
          "PROFT.NOMBRE, PLACA P1, «Łukasz»: se guarda como «?ukasz»"}) {
        EXPECT_NE(texto.find(parte), std::string::npos) << parte << "\n" << texto;
    }
}

// A whole import: the warnings reach the closing message and the report, and the level/course
// answers are remembered per centre.
class MemoriaTest : public ::testing::Test
{
protected:
    MemoriaTest() { fs::create_directory(work); }

    FinRun Importar(const std::string& texto, std::deque<Mostrar> dialogos, bool memoria = true)
    {
        EstadoProceso estado;
        prompter = {};
        prompter.dialogos = std::move(dialogos);
        Importacion imp(estado, prompter, work);
        imp.UsarMemoria(memoria);
        const FinRun fin = imp.ImportarDocumento(Doc(texto));
        avisos = imp.avisos();
        informe = imp.informe();
        return fin;
    }

    Lista Niveles()
    {
        dbf::Table t("prueba", work, "GRUPOST");
        t.Open();
        Lista v;
        for (t.First(); !t.Eof(); t.Next()) {
            v.push_back(t.FieldByName("ABREV").AsString() + "|" + t.FieldByName("NIVEL").AsString() + "|" +
                        t.FieldByName("CURSO").AsString());
        }
        t.Close();
        return v;
    }

    std::string Tablas()
    {
        std::string todo;
        for (const char* t :
             {"ASIGNOMT", "PROFT", "AULAT", "CURSOST", "GRUPOST", "MATIB", "ASIGT", "DIASHORAST"}) {
            std::string bytes = test::ReadFile(work / (std::string(t) + ".DBF"));
            // The date of the last update is the only part that may differ from one run to the next.
            bytes.replace(1, 3, "---");
            todo += bytes;
        }
        return todo;
    }

    test::TempDir dir;
    fs::path work = dir / "VTEMP";
    test::ScriptedPrompter prompter;
    ListaAvisos avisos;
    fs::path informe;
};

TEST_F(MemoriaTest, WarningsReachTheClosingMessageAndTheReport)
{
    const std::string texto =
        Centre("<MATERIES><MATERIA codi=\"Ł1\" curs=\"C1\" descripcio=\"X\" curta=\"X\"/>"
               "</MATERIES><CURSOS><CURS codi=\"C1\" descripcio=\"1r\"><GRUP codi=\"G1\" "
               "nom=\"A\"/></CURS></CURSOS>");
    ASSERT_EQ(Importar(texto, {Mostrar{{{"ESO", "1"}}}}), FinRun::Completado);
    // Missing ACTIVITATS, PLACES, AULES; the code.
    ASSERT_EQ(avisos.size(), 4u) << avisos.Detalles();
    ASSERT_EQ(prompter.detalles.size(), 1u);
    EXPECT_EQ(prompter.detalles[0].rfind("4 avisos\n\nSecciones que faltan en el documento (3):\n", 0), 0u)
        << prompter.detalles[0];
    EXPECT_NE(prompter.detalles[0].find(
                  "Caracteres que Velorin no puede guardar (1):\n  - ASIGNOMT.CODI, MATERIA Ł1"),
              std::string::npos);
    ASSERT_FALSE(informe.empty());
    EXPECT_EQ(informe.parent_path(), CarpetaZendral(work) / "informes");
    const std::string texto8 = test::ReadFile(informe);
    EXPECT_NE(texto8.find("  GRUPOST: 1\n"), std::string::npos) << texto8;
    EXPECT_NE(texto8.find("Avisos: 4 avisos"), std::string::npos);

    // A clean document: a plain closing message.
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}}}), FinRun::Completado);
    EXPECT_TRUE(avisos.empty()) << avisos.Detalles();
    EXPECT_EQ(prompter.detalles, Lista{""});
}

TEST_F(MemoriaTest, SecondImportOfTheSameCentreNeedsNoTyping)
{
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{{{"ESO", "1"}, {" BA", "2"}}}}), FinRun::Completado);
    const std::string primeras = Tablas();
    EXPECT_EQ(test::ReadFile(memoria::Archivo(work)), "CENTRE;CODI;DESCRIPCIO;NIVEL;CURSO\n"
                                                      "07013456;C1;1r d'ESO;ESO;1\n"
                                                      "07013456;C2;2n d'ESO; BA;2\n");

    // No typing: OK at once, and the tables come out byte for byte as when the answers were typed.
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{}}), FinRun::Completado);
    EXPECT_EQ(prompter.salidaVisible, std::vector<bool>{false});
    EXPECT_EQ(Niveles(), (Lista{"ES1A|ESO|1", "ES1B|ESO|1", " B2A| BA|2"}));
    EXPECT_EQ(Tablas(), primeras);

    // The user changes one answer in the dialog: the new one is remembered in place.
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{{{"ESO", "1"}, {"BAT", "2"}}}}), FinRun::Completado);
    EXPECT_EQ(test::ReadFile(memoria::Archivo(work)), "CENTRE;CODI;DESCRIPCIO;NIVEL;CURSO\n"
                                                      "07013456;C1;1r d'ESO;ESO;1\n"
                                                      "07013456;C2;2n d'ESO;BAT;2\n");

    // Without the memory the dialog starts empty and insists.
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{}, Mostrar{{}, Mostrar::Fin::Forzar}}, false),
              FinRun::SalidaForzada);
    EXPECT_EQ(prompter.salidaVisible, (std::vector<bool>{false, true}));
}

TEST_F(MemoriaTest, AnotherCentreGetsNothingAndAForcedExitRemembersNothing)
{
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}}}), FinRun::Completado);
    const std::string recordado = test::ReadFile(memoria::Archivo(work));

    // Same courses, another centre: nothing filled in; typed, then forced out.
    ASSERT_EQ(
        Importar(Centre(kLimpio, "07999999"), {Mostrar{}, Mostrar{{{"BAT", "1"}}, Mostrar::Fin::Forzar}}),
        FinRun::SalidaForzada);
    EXPECT_EQ(prompter.salidaVisible, (std::vector<bool>{false, true}));
    EXPECT_EQ(test::ReadFile(memoria::Archivo(work)), recordado);
    EXPECT_TRUE(memoria::DelCentro(memoria::Leer(work), "07999999").empty());
}

TEST_F(MemoriaTest, MemoryEditedIntoAnotherCodePageIsWarnedAboutAndKept)
{
    fs::create_directories(CarpetaZendral(work));
    const std::string editado = "CENTRE;CODI;DESCRIPCIO;NIVEL;CURSO\n07013456;C1;1r;\xC9SO;1\n";
    ASSERT_EQ(dir.write("VTEMP/zendral/cursos.csv", editado), memoria::Archivo(work));
    ASSERT_EQ(Importar(Centre(kLimpio), {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}}}), FinRun::Completado);
    const Lista lineas = Lineas(avisos);
    ASSERT_EQ(lineas.size(), 2u) << avisos.Detalles();
    EXPECT_NE(lineas[0].find("no se ha podido leer: El archivo"), std::string::npos) << lineas[0];
    EXPECT_NE(lineas[0].find("no está en UTF-8 (línea 2)"), std::string::npos) << lineas[0];
    EXPECT_NE(lineas[1].find("no se han podido guardar"), std::string::npos) << lineas[1];
    EXPECT_EQ(test::ReadFile(memoria::Archivo(work)), editado);
}

} // namespace
} // namespace zendral
