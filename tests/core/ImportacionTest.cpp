#include "Importacion.h"

#include "CodePage.h"
#include "ComprobarCentro.h"
#include "Copias.h"
#include "Corte.h"
#include "DbfRead.h"
#include "DbfTable.h"
#include "Error.h"
#include "ExternalTool.h"
#include "Mensajes.h"
#include "ScriptedPrompter.h"
#include "System.h"
#include "Tablas.h"
#include "TempDir.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace zendral
{
namespace
{

namespace fs = std::filesystem;
using test::Mostrar;
using Lista = std::vector<std::string>;

// A centre import against a fresh working directory, with scripted answers.
class ImportacionTest : public ::testing::Test
{
protected:
    ImportacionTest()
        : work(dir / "VTEMP")
    {
        fs::create_directory(work);
    }

    void Cargar(const std::string& xmlUtf8)
    {
        estado.documento = xml::Document::loadMemory(xmlUtf8, "centre.xml");
    }

    Importacion& Imp() { return importacion; }

    // A field of every record, converted to UTF-8.
    Lista Columna(const std::string& tabla, const std::string& campo)
    {
        dbf::Table t("prueba", work, tabla);
        t.Open();
        Lista valores;
        for (t.First(); !t.Eof(); t.Next()) {
            valores.push_back(cp1252::ToUtf8(t.FieldByName(campo).AsString()));
        }
        t.Close();
        return valores;
    }

    // Several fields of every record, joined by '|'.
    Lista Filas(const std::string& tabla, const Lista& campos)
    {
        dbf::Table t("prueba", work, tabla);
        t.Open();
        Lista filas;
        for (t.First(); !t.Eof(); t.Next()) {
            std::string fila;
            for (std::size_t i = 0; i < campos.size(); ++i) {
                fila += (i ? "|" : "") + cp1252::ToUtf8(t.FieldByName(campos[i]).AsString());
            }
            filas.push_back(fila);
        }
        t.Close();
        return filas;
    }

    test::TempDir dir;
    fs::path work;
    EstadoProceso estado;
    test::ScriptedPrompter prompter;
    Importacion importacion{estado, prompter, work};
};

std::string Centre(const std::string& cuerpo)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CENTRE>" + cuerpo + "</CENTRE>";
}

std::string Materias(const std::vector<Lista>& materias)
{
    std::string x = "<MATERIES>";
    for (const auto& m : materias) {
        x += "<MATERIA codi=\"" + m[0] + "\" curs=\"" + m[1] + "\" descripcio=\"" + m[2] + "\" curta=\"" +
             m[3] + "\"/>";
    }
    return x + "</MATERIES>";
}

// Subjects: codes from the short name, separators, the long code and the taken list.
TEST_F(ImportacionTest, SubjectCodesFollowShortNamesAndStayDistinct)
{
    struct Caso
    {
        Lista curtas;
        Lista descripciones; // empty: "Materia"
        Lista cod;
        Lista codlargo; // empty: not checked
    };
    const std::vector<Caso> casos = {
        {{"M.A-T_1", "AB. CD", "A.B", "-ABCD", "LCL 1ESO", "A..BCDE"},
         {},
         {"MAT1", "AB C", "A.B", "-ABC", "LCL1", "A.BC"},
         {"M.A-T_1", "AB. CD", "A.B", "-ABCD", "LCL 1ESO", "A..BCDE"}},
        {{"EDUCACIOFISICA", "LLARGUISSIM", "ALTRALLARGA"},
         {"Educació física", "Mates", ""},
         {"Educ", "Mate", ""},
         {"Educacia", "Matess", ""}},
        {{"MATE", "Mate", "MATE", "FQ", "FQ"}, {}, {"MATE", "Mat1", "MAT2", "FQ", "FQ1"}, {}},
        {Lista(11, "MATE"),
         {},
         {"MATE", "MAT1", "MAT2", "MAT3", "MAT4", "MAT5", "MAT6", "MAT7", "MAT8", "MAT9", "MT10"},
         {}},
        // A shortened code that equals one already stored is not handed out again.
        {{"MT10", "MATE", "MATE", "MATE", "MATE", "MATE", "MATE", "MATE", "MATE", "MATE", "MATE", "MATE"},
         {},
         {"MT10", "MATE", "MAT1", "MAT2", "MAT3", "MAT4", "MAT5", "MAT6", "MAT7", "MAT8", "MAT9", "MT11"},
         {}},
        // "ABC " stores as "ABC", which "abc" would repeat.
        {{"ABC. X", "abc"}, {}, {"ABC", "abc1"}, {}},
    };
    for (const auto& caso : casos) {
        std::vector<Lista> materias;
        for (std::size_t i = 0; i < caso.curtas.size(); ++i) {
            const std::string d = caso.descripciones.empty() ? "Materia" : caso.descripciones[i];
            materias.push_back({"M" + std::to_string(i), "C1", d, caso.curtas[i]});
        }
        Cargar(Centre(Materias(materias)));
        Imp().CargarAsignaturas();
        EXPECT_EQ(Columna("ASIGNOMT", "COD"), caso.cod) << caso.curtas[0];
        if (!caso.codlargo.empty()) {
            EXPECT_EQ(Columna("ASIGNOMT", "CODLARGO"), caso.codlargo) << caso.curtas[0];
        }
    }
}

TEST_F(ImportacionTest, SubjectsComeBeforeActivitiesWhichKeepTheirOwnCode)
{
    Cargar(Centre("<ACTIVITATS><ACTIVITAT codi=\"123456\" descripcio=\"Guàrdia\" curta=\"GUARDIA-PATI\"/>"
                  "</ACTIVITATS>" +
                  Materias({{"  2063541 ", "C1", "Matemàtiques", "MAT"},
                            {"2063542", "C1", "Llengua", "1234"},
                            {"2063543", "C2", "Física", "FQ"},
                            {"2063544", "C2", "Química", "FQ"}}) +
                  "<ACTIVITATS><ACTIVITAT codi=\"9\" descripcio=\"Tutoria\"/></ACTIVITATS>"));
    Imp().CargarAsignaturas();
    EXPECT_EQ(Filas("ASIGNOMT", {"COD", "CODLARGO", "NOMBRE", "CODI", "HORAS", "CODICURS", "ESTAREA"}),
              (Lista{"MAT|MAT|Matemàtiques|2063541|4|C1|F", "1234|1234|Llengua|2063542|4|C1|F",
                     "FQ|FQ|Física|2063543|4|C2|F", "FQ1|FQ|Química|2063544|4|C2|F",
                     "1234|GUARDIA-|Guàrdia|123456|4||T", "9||Tutoria|9|4||T"}));
    EXPECT_EQ(importacion.resumen().back(), (std::pair<std::string, std::size_t>("ASIGNOMT", 6)));
}

TEST_F(ImportacionTest, TeachersGetShortNameOrNumberedAbbreviation)
{
    struct Caso
    {
        Lista curtas;
        Lista abrev;
    };
    const std::vector<Caso> casos = {
        {{"JOAN", "Joan Pons", "JOANA"}, {"JOAN", "P1", "P2"}},
        {{"P1", "X", "X", "X"}, {"P1", "X", "P2", "P3"}},
        {{"", ""}, {"", "P1"}},
        // "AB  CD" stores as "AB", so "ab" clashes with it.
        {{"AB  CD", "ab"}, {"AB", "P1"}},
    };
    for (const auto& caso : casos) {
        std::string x = "<PLACES>";
        for (const auto& c : caso.curtas) {
            x += "<PLACA codi=\"1\" descripcio=\"Nom\" curta=\"" + c + "\"/>";
        }
        Cargar(Centre(x + "</PLACES>"));
        Imp().CargarProfesores();
        EXPECT_EQ(Columna("PROFT", "ABREV"), caso.abrev) << caso.curtas[0];
    }

    const std::string d45 = "Fernández de Córdoba Ibáñez, María Ángeles XY"; // 45 characters
    const std::string d40 = "Sureda Pons, Maria Antònia de Son Rapinya";
    ASSERT_EQ(cp1252::FromUtf8(d45).size(), 45u);
    ASSERT_EQ(cp1252::FromUtf8(d40).size(), 41u);
    const std::string d40exacto = d40.substr(0, d40.size() - 1);
    Cargar(Centre("<PLACES><PLACA codi=\"470101\" descripcio=\"" + d45 +
                  "\" curta=\"FCI\"/><PLACA codi=\"470102\" "
                  "descripcio=\"" +
                  d40exacto + "\" curta=\"MSP\"/></PLACES>"));
    Imp().CargarProfesores();
    const std::string corto = cp1252::ToUtf8(std::string(cp1252::Left(cp1252::FromUtf8(d45), 35)) +
                                             std::string(cp1252::Right(cp1252::FromUtf8(d45), 5)));
    EXPECT_EQ(Filas("PROFT", {"ABREV", "NOMBRE", "DEPART", "DNI", "CODI"}),
              (Lista{"FCI|" + corto + "|" + corto + "||470101",
                     "MSP|" + d40exacto + "|" + d40exacto + "||470102"}));
}

TEST_F(ImportacionTest, RoomsTakeTheStartOfTheirDescription)
{
    struct Caso
    {
        Lista descripciones;
        Lista abrev;
    };
    Lista aulas, esperado = {"Aula", "Aul1", "Aul2", "Aul3", "Aul4", "Aul5",
                             "Aul6", "Aul7", "Aul8", "Aul9", "Au10", "Au11"};
    for (int i = 1; i <= 12; ++i) {
        aulas.push_back("Aula " + std::to_string(i));
    }
    const std::vector<Caso> casos = {
        {aulas, esperado},
        {{"Gim", "GIM"}, {"Gim", "GIM1"}},
        // "GIM " stores as "GIM", the same code as "Gim" regardless of case.
        {{"Gim", "GIM", "GIM nou"}, {"Gim", "GIM1", "GIM2"}},
        {{"Sala d'actes", "A-12", "  Taller  "}, {"Sala", "A-12", "Tall"}},
    };
    for (const auto& caso : casos) {
        std::string x = "<AULES>";
        for (const auto& d : caso.descripciones) {
            x += "<AULA codi=\"1\" descripcio=\"" + d + "\"/>";
        }
        Cargar(Centre(x + "</AULES>"));
        Imp().CargarAulas();
        EXPECT_EQ(Columna("AULAT", "ABREV"), caso.abrev) << caso.descripciones[0];
    }

    Cargar(
        Centre("<AULES><AULA codi=\"1234\" descripcio=\"Laboratori de química\"/>"
               "<AULA codi=\"99\" descripcio=\"Aula d'informàtica i tecnologia del segon pis\"/></AULES>"));
    Imp().CargarAulas();
    EXPECT_EQ(Filas("AULAT", {"ABREV", "NOMBRE", "EDIFICIO", "MAXALUM", "CODI"}),
              (Lista{"Labo|(1234) Laboratori de química|||1234",
                     "Aula|(99) Aula d'informàtica i tecnologia del|||99"}));
}

// Courses C1 (two groups) and C2 (groups A, B) share level and course number; C3 has no record in
// CURSOST because its code is longer than the field.
const std::string kCursos =
    "<CURSOS>"
    "<CURS codi=\"C1\" descripcio=\"Primer curs\"><GRUP codi=\"G7\" nom=\"A\"/>"
    "<GRUP codi=\"G8\" nom=\"ABC\"/></CURS>"
    "<CURS codi=\"C2\" descripcio=\"Primer bis\"><GRUP codi=\"G9\" nom=\"A\"/>"
    "<GRUP codi=\"G10\" nom=\"B\"/></CURS>"
    "<CURS codi=\"C3456789012345678901234\" descripcio=\"Llarg\"><GRUP codi=\"G11\" nom=\"A\"/>"
    "<GRUP codi=\"G12\" nom=\"A\"/></CURS>"
    "<CURS codi=\"C4\" descripcio=\"Sense grups\"/>"
    "</CURSOS>";

TEST_F(ImportacionTest, GroupsTakeLevelAndCourseFromTheDialog)
{
    Cargar(Centre(Materias({{"M1", "C1", "Matemàtiques", "MAT"},
                            {"M2", "C4", "Llengua", "LLE"},
                            {"M3", "C2", "Física", "MAT"}}) +
                  "<ACTIVITATS><ACTIVITAT codi=\"GU\" descripcio=\"Guàrdia\" curta=\"GU\"/></ACTIVITATS>" +
                  kCursos));
    prompter.dialogos = {
        Mostrar{{{"ESO", "1"}, {"ESO", "1"}, {"X", "9"}, {"BAT", "2"}}, Mostrar::Fin::Aceptar}};
    Imp().CargarAsignaturas();
    Imp().CargarCursos();
    ASSERT_FALSE(Imp().VentanaCerrada());
    EXPECT_EQ(prompter.salidaVisible, std::vector<bool>{false});
    EXPECT_EQ(Filas("CURSOST", {"CODI", "DESCRIPCIO", "NIVEL", "CURSO"}),
              (Lista{"C1|Primer curs|ESO|1", "C2|Primer bis|ESO|1", "C3456789012345678901|Llarg|X|9",
                     "C4|Sense grups|BAT|2"}));

    Imp().CargarGrupos();
    EXPECT_EQ(
        Filas("GRUPOST", {"ABREV", "TURNO", "NIVEL", "CURSO", "GRUPO", "CODI", "CODICURS", "DESCRIP"}),
        (Lista{"ES1A||ESO|1|A|G7|C1|(G7) Primer curs - A", "ESBC||ESO|1|AB|G8|C1|(G8) Primer curs - ABC",
               "ES11||ESO|1|A|G9|C2|(G9) Primer bis - A", "ES1B||ESO|1|B|G10|C2|(G10) Primer bis - B",
               "A||||A|G11|C3456789012345678901|(G11)  - A", "A1||||A|G12|C3456789012345678901|(G12)  - A"}));
    // Only subjects of a course with groups get a catalogue record; the activity has no course and
    // no group has an empty course code.
    EXPECT_EQ(Filas("MATIB", {"ABREV", "ABREV8", "NOMBRE", "NIVEL", "CURSO"}),
              (Lista{"MAT|MAT|Matemàtiques|ESO|1", "MAT1|MAT|Física|ESO|1"}));
}

TEST_F(ImportacionTest, GroupKeysClashAcrossCoursesAndKeepStoredCodesDistinct)
{
    struct Caso
    {
        std::string nivel, curso;
        Lista nombres;
        Lista abrev;
    };
    Lista once(11, "A");
    Lista onceAbrev = {"ES1A", "ES11", "ES12", "ES13", "ES14", "ES15",
                       "ES16", "ES17", "ES18", "ES19", "ES10"};
    Lista conCero = once, conCeroAbrev = onceAbrev;
    conCero.push_back("0");
    conCeroAbrev.push_back("ES20");
    const std::vector<Caso> casos = {
        {"ESO", "1", {"A", "B", "C"}, {"ES1A", "ES1B", "ES1C"}},
        {"BATX", "2", {"A"}, {"BA2A"}},
        {"ESO", "1", {"AB"}, {"ESAB"}},
        {"ESO", "1", {"a", "A"}, {"ES1a", "ES11"}},
        {"", "", {"A", "A"}, {"A", "A1"}},
        {"ESO", "1", once, onceAbrev},
        {"ESO", "1", conCero, conCeroAbrev},
    };
    for (const auto& caso : casos) {
        std::string x = "<CURSOS><CURS codi=\"C1\" descripcio=\"Curs\">";
        for (std::size_t i = 0; i < caso.nombres.size(); ++i) {
            x += "<GRUP codi=\"G" + std::to_string(i) + "\" nom=\"" + caso.nombres[i] + "\"/>";
        }
        Cargar(Centre(x + "</CURS></CURSOS>"));
        prompter.dialogos = {Mostrar{{{caso.nivel, caso.curso}}, Mostrar::Fin::Cerrar}};
        Imp().CargarAsignaturas();
        Imp().CargarCursos();
        Imp().CargarGrupos();
        EXPECT_EQ(Columna("GRUPOST", "ABREV"), caso.abrev) << caso.nivel << caso.nombres[0];
    }
}

const std::string kDosCursos =
    "<CURSOS><CURS codi=\"C1\" descripcio=\"U\"><GRUP codi=\"G1\" nom=\"A\"/></CURS>"
    "<CURS codi=\"C2\" descripcio=\"D\"><GRUP codi=\"G2\" nom=\"A\"/></CURS></CURSOS>";

TEST_F(ImportacionTest, DialogReopensUntilEveryCourseHasLevelAndCourse)
{
    Cargar(Centre(kDosCursos));
    // A level of blanks is missing; one with a leading blank is present and kept as typed.
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"   ", "2"}}, Mostrar::Fin::Aceptar},
                         Mostrar{{{"ESO", "1"}, {"ESO", ""}}, Mostrar::Fin::Aceptar},
                         Mostrar{{{"ESO", "1"}, {" ES", "2"}}, Mostrar::Fin::Aceptar}};
    Imp().CargarCursos();
    EXPECT_FALSE(Imp().VentanaCerrada());
    EXPECT_EQ(prompter.salidaVisible, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(prompter.mensajes, (Lista{msg::kFaltaDato, msg::kFaltaDato}));
    EXPECT_TRUE(estado.CursosIncompletos);
    EXPECT_EQ(Filas("CURSOST", {"NIVEL", "CURSO"}), (Lista{"ESO|1", " ES|2"}));

    // The flag outlives the run: the next import's first showing already offers the forced exit.
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
    Imp().CargarCursos();
    EXPECT_EQ(prompter.salidaVisible.back(), true);
}

TEST_F(ImportacionTest, ClosingTheDialogGoesOnWithWhatWasSaved)
{
    Cargar(Centre(kDosCursos));
    prompter.dialogos = {Mostrar{{{"ESO", "1"}}, Mostrar::Fin::Aceptar}, Mostrar{{}, Mostrar::Fin::Cerrar}};
    Imp().CargarAsignaturas();
    Imp().CargarCursos();
    EXPECT_FALSE(Imp().VentanaCerrada());
    EXPECT_EQ(prompter.salidaVisible.size(), 2u);
    Imp().CargarGrupos();
    EXPECT_EQ(Columna("GRUPOST", "ABREV"), (Lista{"ES1A", "A"}));
}

TEST_F(ImportacionTest, ForcedExitEndsTheRunAndLeavesLaterTablesAlone)
{
    const auto centre =
        dir.write("centre.xml", Centre(Materias({{"M1", "C1", "Mates", "MAT"}}) + kDosCursos));
    prompter.archivo = centre;
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"BAT", "2"}}, Mostrar::Fin::Aceptar}};
    ASSERT_EQ(Imp().BExportarClick(), FinRun::Completado);
    const Lista grupos = Columna("GRUPOST", "ABREV");
    const auto asigt = test::ReadFile(work / "ASIGT.DBF");

    estado.lanzadoPorHost = 2;
    prompter.mensajes.clear();
    // The first run's answers would fill the dialog in: this run starts from empty courses.
    Imp().UsarMemoria(false);
    prompter.dialogos = {Mostrar{{}, Mostrar::Fin::Aceptar}, Mostrar{{}, Mostrar::Fin::Forzar}};
    dir.write("centre.xml", Centre(Materias({{"M9", "C9", "Nova", "NOV"}}) + kDosCursos));
    EXPECT_EQ(Imp().BExportarClick(), FinRun::SalidaForzada);
    EXPECT_TRUE(CierraVentana(FinRun::SalidaForzada, estado));
    EXPECT_EQ(estado.codigoResultado, 1) << "the forced exit leaves the result code as it was";
    EXPECT_EQ(prompter.mensajes, Lista{msg::kFaltaDato});
    EXPECT_FALSE(prompter.cursorOcupado);
    EXPECT_EQ(Columna("ASIGNOMT", "COD"), Lista{"NOV"});
    EXPECT_EQ(Columna("GRUPOST", "ABREV"), grupos);
    EXPECT_EQ(test::ReadFile(work / "ASIGT.DBF"), asigt);
}

// Two groups of C1, one of c1 and one without a course code; subjects of C1 and an activity.
const std::string kLineas =
    Materias({{"M1", "C1", "Mates", "MAT"},
              {"M2", "C1", "Llengua", "LEN"},
              {"M3", "C1", "Història", "HIS"},
              {"M4", "c1", "Altres", "ALT"}}) +
    "<ACTIVITATS><ACTIVITAT codi=\"GU\" descripcio=\"Guàrdia\" curta=\"GU\"/></ACTIVITATS>"
    "<CURSOS><CURS codi=\"C1\" descripcio=\"U\"><GRUP codi=\"G1\" nom=\"A\"/><GRUP codi=\"G2\" "
    "nom=\"B\"/></CURS>"
    "<CURS codi=\"\" descripcio=\"Sense codi\"><GRUP codi=\"G3\" nom=\"X\"/></CURS></CURSOS>";

TEST_F(ImportacionTest, LinesJoinEveryGroupWithTheSubjectsOfItsCourse)
{
    Cargar(Centre(kLineas));
    prompter.dialogos = {Mostrar{{{"1", "A"}, {"G", "1"}}, Mostrar::Fin::Aceptar}};
    Imp().CargarAsignaturas();
    Imp().CargarCursos();
    Imp().CargarGrupos();
    Imp().CargarLineas();
    EXPECT_EQ(prompter.preguntasLineas, 1);
    EXPECT_EQ(Filas("ASIGT", {"CASIG", "CPROF", "CGRUP", "CAULA", "TURNO", "NIVEL", "CURSO", "GRUPO", "HORAS",
                              "SESIONES"}),
              (Lista{"MAT||1AA|||1|A|A|4|1111", "LEN||1AA|||1|A|A|4|1111", "HIS||1AA|||1|A|A|4|1111",
                     "MAT||1AB|||1|A|B|4|1111", "LEN||1AB|||1|A|B|4|1111", "HIS||1AB|||1|A|B|4|1111",
                     "GU||G1X|||G|1|X|4|1111"}));
    // With an empty course code, the activity finds its group and gets a catalogue record.
    EXPECT_EQ(Columna("MATIB", "ABREV"), (Lista{"MAT", "LEN", "HIS", "GU"}));

    prompter.lineas = false;
    Imp().CargarLineas();
    EXPECT_EQ(Columna("ASIGT", "CASIG"), Lista{});
    const auto tabla = test::DbfRead(work / "ASIGT.DBF");
    EXPECT_EQ(tabla.fields,
              (Lista{"CASIG:C:4:0", "CPROF:C:4:0", "CGRUP:C:4:0", "CAULA:C:4:0", "TURNO:C:1:0", "NIVEL:C:5:0",
                     "CURSO:C:3:0", "GRUPO:C:2:0", "HORAS:N:20:4", "SESIONES:C:20:0"}));
}

TEST_F(ImportacionTest, HoursTextGivesHoursAndSessionsPattern)
{
    struct Caso
    {
        std::string horas;
        std::string leidas; // HORAS as read back
        std::string sesiones;
    };
    const std::vector<Caso> casos = {
        {"4", "4", "1111"},
        {"1.5", "1.5", "11"},
        {"1,5", "1.5", "11"},
        {"0.5", "0.5", "1"},
        {"2.5", "2.5", "111"},
        {"13", "13", "1111111111111"},
        {"14", "14", "11111111111111"},
        {"15", "15", "21111111111111"},
        {"30", "30", "171111111111111"},
        {"0", "0", ""},
        {"-2", "-2", ""},
        {"-0.5", "-0.5", ""},
        {"", "", ""},
        {"cuatro", "1", "1"},
        {"1.2.3", "1", "1"},
        {"12345678", "12345678", "12345665111111111111"},
    };
    Cargar(
        Centre(Materias({{"M1", "C1", "Mates", "MAT"}}) +
               "<CURSOS><CURS codi=\"C1\" descripcio=\"U\"><GRUP codi=\"G1\" nom=\"A\"/></CURS></CURSOS>"));
    prompter.dialogos = {Mostrar{{{"ESO", "1"}}, Mostrar::Fin::Aceptar}};
    Imp().CargarAsignaturas();
    Imp().CargarCursos();
    Imp().CargarGrupos();
    for (const auto& caso : casos) {
        {
            dbf::Table t("t", work, "ASIGNOMT");
            t.Open();
            t.First();
            t.Edit();
            t.FieldByName("HORAS").SetAsString(caso.horas);
            t.Post();
            t.Close();
        }
        Imp().CargarLineas();
        EXPECT_EQ(Filas("ASIGT", {"HORAS", "SESIONES"}), Lista{caso.leidas + "|" + caso.sesiones})
            << caso.horas;
    }
}

TEST_F(ImportacionTest, NoFileShowsMessageAndTouchesNothing)
{
    EXPECT_EQ(Imp().BExportarClick(), FinRun::SinArchivo);
    EXPECT_EQ(prompter.mensajes, Lista{msg::kNoExisteArchivo});
    EXPECT_EQ(estado.codigoResultado, 0);
    EXPECT_FALSE(CierraVentana(FinRun::SinArchivo, estado));

    estado.lanzadoPorHost = 2;
    prompter.archivo = dir / "no-existe.xml";
    EXPECT_EQ(Imp().BExportarClick(), FinRun::SinArchivo);
    EXPECT_EQ(estado.codigoResultado, -1);
    EXPECT_TRUE(CierraVentana(FinRun::SinArchivo, estado));
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_EQ(prompter.vecesOcupado, 0);
}

TEST_F(ImportacionTest, CompletedRunWritesEveryTableAndACancelReusesTheFileOnlyUnderTheHost)
{
    {
        // Days and hours left by an earlier run.
        dbf::Table t("t", work, "DIASHORAST");
        tablas::Definir(t, tablas::kDiashorast);
        t.CreateTable();
        t.Open();
        t.Append();
        t.FieldByName("DIHO").SetAsString("11");
        t.Post();
        t.Close();
    }
    dir.write("VTEMP/DIASHORAST.MDX", "stray index");
    prompter.archivo = dir.write("centre.xml", Centre(kLineas));
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
    ASSERT_EQ(Imp().BExportarClick(), FinRun::Completado);
    EXPECT_EQ(estado.codigoResultado, 1);
    EXPECT_EQ(prompter.mensajes, Lista{msg::kProcesoFinalizado});
    EXPECT_FALSE(prompter.cursorOcupado);
    EXPECT_EQ(importacion.resumen(), (Resumen{{"ASIGNOMT", 5},
                                              {"PROFT", 0},
                                              {"AULAT", 0},
                                              {"CURSOST", 2},
                                              {"GRUPOST", 3},
                                              {"MATIB", 4},
                                              {"ASIGT", 7},
                                              {"DIASHORAST", 0}}));
    EXPECT_FALSE(fs::exists(work / "DIASHORAST.MDX"));
    EXPECT_EQ(Columna("DIASHORAST", "DIHO"), Lista{});
    EXPECT_EQ(test::DbfRead(work / "DIASHORAST.DBF").fields,
              (Lista{"DIHO:C:10:0", "CODDIHO:C:10:0", "DIA:C:20:0", "TEXTODIA:C:20:0", "HORA:C:8:0",
                     "HORADESDE:C:8:0", "HORAHASTA:C:8:0", "MINUTOS:C:8:0"}));

    // Under the host the dialog cancelled on a second run converts the same file again.
    estado.lanzadoPorHost = 2;
    prompter.archivo.reset();
    prompter.mensajes.clear();
    prompter.dialogos = {Mostrar{{{"BAT", "1"}, {"BAT", "2"}}, Mostrar::Fin::Aceptar}};
    ASSERT_EQ(Imp().BExportarClick(), FinRun::Completado);
    EXPECT_EQ(Columna("GRUPOST", "ABREV"), (Lista{"BA1A", "BA1B", "BA2X"}));

    // Started by hand, a cancel after a run converts nothing: no table, no copy, no question.
    estado.lanzadoPorHost = 0;
    prompter.mensajes.clear();
    const auto grupos = test::ReadFile(work / "GRUPOST.DBF");
    const auto copiasAntes = copias::Listar(work).size();
    ASSERT_EQ(Imp().BExportarClick(), FinRun::SinArchivo);
    EXPECT_EQ(prompter.mensajes, Lista{msg::kNoExisteArchivo});
    EXPECT_EQ(test::ReadFile(work / "GRUPOST.DBF"), grupos);
    EXPECT_EQ(copias::Listar(work).size(), copiasAntes);
}

// The command line reads the document once and hands it over: no file is chosen or read again.
TEST_F(ImportacionTest, LoadedDocumentRunsWithoutChoosingAFile)
{
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
    ASSERT_EQ(Imp().ImportarDocumento(xml::Document::loadMemory(Centre(kLineas), "centre.xml")),
              FinRun::Completado);
    EXPECT_EQ(prompter.mensajes, Lista{msg::kProcesoFinalizado});
    EXPECT_EQ(estado.codigoResultado, 1);
    ASSERT_TRUE(estado.documento.has_value());
    EXPECT_EQ(importacion.resumen().size(), 8u);
    EXPECT_EQ(Columna("GRUPOST", "ABREV"), (Lista{"ES1A", "ES1B", "ES2X"}));
}

TEST_F(ImportacionTest, MalformedDocumentStopsBeforeAnyTable)
{
    prompter.archivo = dir.write("centre.xml", "<CENTRE>\n<AULES>\n<AULA codi=\"1\">\n</AULES></CENTRE>");
    try {
        Imp().BExportarClick();
        FAIL() << "a malformed document must stop the run";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("centre.xml"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("4"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_empty(work));
    EXPECT_EQ(prompter.vecesOcupado, 0);
    EXPECT_EQ(estado.codigoResultado, 0);
}

TEST_F(ImportacionTest, StageErrorPutsTheTablesOfBeforeBack)
{
    prompter.archivo = dir.write("centre.xml", Centre(kLineas));
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
    {
        // ASIGT cannot be put in place, after five tables and MATIB's index were.
        test::FalloInyectado fallo(EIO, {"rename"});
        fallo.SoloPara(work / "ASIGT.DBF");
        try {
            Imp().BExportarClick();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()),
                      "No se puede guardar la tabla ASIGT: error de entrada/salida. Se han "
                      "vuelto a poner las tablas que había antes de la importación.");
        }
    }
    EXPECT_FALSE(prompter.cursorOcupado);
    EXPECT_EQ(estado.codigoResultado, 0);
    EXPECT_TRUE(prompter.mensajes.empty());
    // There were no tables before: there are none now.
    for (const auto& tabla : copias::Archivos()) {
        EXPECT_FALSE(fs::exists(work / tabla)) << tabla;
    }
    EXPECT_TRUE(test::Temporales(work.string()).empty());
    EXPECT_FALSE(copias::AvisoInterrumpido(work));

    // A directory where ASIGT.DBF should go is found before anything changes.
    fs::create_directories(work / "ASIGT.DBF" / "dentro");
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
    EXPECT_THROW(Imp().BExportarClick(), Error);
    EXPECT_FALSE(fs::exists(work / "GRUPOST.DBF"));
}

// An element of `s` whose declared attributes are all "v" but `atributo`, in the elements of its path.
std::string EnSuRuta(const tablas::Seccion& s, const std::string& atributo, const std::string& valor,
                     const std::string& dentro = "")
{
    std::string x = "<" + s.Elemento();
    for (const auto& o : s.origenes) {
        x += " " + o.atributo + "=\"" + (o.atributo == atributo ? valor : "v") + "\"";
    }
    x += ">" + dentro + "</" + s.Elemento() + ">";
    if (s.dentroDe != nullptr) {
        return EnSuRuta(*s.dentroDe, "", "", x);
    }
    std::string ruta = s.RutaSeccion();
    for (auto barra = ruta.rfind('/'); barra != std::string::npos; barra = ruta.rfind('/')) {
        const std::string paso = ruta.substr(barra + 1);
        x = "<" + paso + ">" + x + "</" + paso + ">";
        ruta.resize(barra);
    }
    return x;
}

// Every attribute the section declarations name reaches the declared field, a code cut to the
// layout's width, and the check names that field and that width: changing a path, an attribute
// or a width in the declarations moves the stages and the check together.
TEST_F(ImportacionTest, StagesAndCheckFollowTheSectionDeclarations)
{
    for (const tablas::Seccion* s : tablas::SeccionesCentro()) {
        for (const tablas::Origen& o : s->origenes) {
            const bool codigo = o.dato != tablas::Dato::Texto;
            const std::size_t ancho = s->Ancho(o.campo);
            std::string cifras;
            for (std::size_t i = 1; i <= ancho; ++i) {
                cifras += static_cast<char>('0' + i % 10);
            }
            for (const std::string& valor : codigo ? Lista{cifras, "Ł" + cifras} : Lista{"Łx"}) {
                SCOPED_TRACE(s->Elemento() + "@" + o.atributo + "=" + valor);
                Cargar(EnSuRuta(*s, o.atributo, valor));
                prompter.dialogos = {Mostrar{{{"ESO", "1"}}, Mostrar::Fin::Cerrar}};
                Imp().CargarAsignaturas();
                Imp().CargarProfesores();
                Imp().CargarAulas();
                Imp().CargarCursos();
                Imp().CargarGrupos();
                const std::string guardado = cp1252::ToUtf8(cp1252::FromUtf8(valor));
                const Lista columna = Columna(s->tabla.nombre, o.campo);
                ASSERT_EQ(columna.size(), 1u);
                if (codigo) {
                    EXPECT_EQ(columna[0], guardado.substr(0, ancho));
                } else {
                    EXPECT_NE(columna[0].find('?'), std::string::npos) << columna[0];
                }
                std::size_t recortes = 0;
                std::size_t conversiones = 0;
                for (const Aviso& a : ComprobarDocumento(*estado.documento)) {
                    if (a.tabla == s->tabla.nombre && a.campo == o.campo) {
                        recortes +=
                            a.tipo == TipoAviso::Recorte &&
                            a.detalle.find("recortado a " + std::to_string(ancho) + ":") != std::string::npos;
                        conversiones += a.tipo == TipoAviso::Conversion;
                    }
                }
                EXPECT_EQ(recortes, guardado.size() > ancho ? 1u : 0u);
                EXPECT_EQ(conversiones, valor != cifras ? 1u : 0u);
            }
        }
    }
}

// ---- Input that cannot be stored safely -------------------------------------------------------

// A code point windows-1252 leaves undefined, and a control character left inside a text (written
// as a character reference: literal ones in an attribute read as blanks), are stored as one "?"
// each and named by the code-page warning; blanks and line breaks at the ends are trimmed as
// before. Every table reads back as windows-1252 in an independent reader.
TEST_F(ImportacionTest, UndefinedCodePointsAndControlCharactersAreStoredAsQuestionMarks)
{
    prompter.dialogos = {Mostrar{{{"ESO", "1"}}, Mostrar::Fin::Aceptar}};
    const std::string centre =
        Centre(Materias({{"M&#x8D;1", "C1", "Mates&#x81;&#x8F;&#x90;&#x9D;", "MAT"},
                         {"M&#10;2", "C1", "Llengua&#9;i&#13;literatura", "L&#x85;EN"},
                         {"&#10; M3&#9;", "C1", "Hist&#xC3;&#x7F;ria&#x85;", "HIS"}}) +
               "<PLACES><PLACA codi=\"P&#13;&#10;1\" descripcio=\"Joan&#9;Pons\" curta=\"JP\"/></PLACES>"
               "<CURSOS><CURS codi=\"C1\" descripcio=\"Primer&#10;curs\"><GRUP codi=\"G&#x8D;1\" "
               "nom=\"A&#9;\"/></CURS></CURSOS>");
    ASSERT_EQ(Imp().ImportarDocumento(xml::Document::loadMemory(centre, "centre.xml")), FinRun::Completado);
    EXPECT_EQ(Filas("ASIGNOMT", {"CODI", "NOMBRE", "CODLARGO"}),
              (Lista{"M?1|Mates????|MAT", "M?2|Llengua?i?literatura|L?EN", "M3|HistÃ?ria?|HIS"}));
    EXPECT_EQ(Filas("PROFT", {"CODI", "NOMBRE"}), (Lista{"P??1|Joan?Pons"}));
    EXPECT_EQ(Filas("CURSOST", {"CODI", "DESCRIPCIO"}), (Lista{"C1|Primer?curs"}));
    EXPECT_EQ(Filas("GRUPOST", {"CODI", "GRUPO"}), (Lista{"G?1|A"}));
    // An independent reader decodes every table as windows-1252 (it refuses the five undefined
    // bytes) and finds no control character in any text.
    for (const char* tabla : {"ASIGNOMT", "PROFT", "CURSOST", "GRUPOST", "MATIB", "ASIGT"}) {
        SCOPED_TRACE(tabla);
        const test::DbfReadTable leida = test::DbfRead(work / (std::string(tabla) + ".DBF"));
        EXPECT_FALSE(leida.records.empty());
        for (const std::string& registro : leida.records) {
            EXPECT_EQ(registro.find("\\n"), std::string::npos) << registro;
            for (const char c : registro) {
                EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << registro;
            }
        }
    }

    // Each changed value is named once, as the document gives it.
    std::vector<std::string> conversion;
    for (const Aviso& a : importacion.avisos()) {
        if (a.tipo == TipoAviso::Conversion) {
            conversion.push_back(a.Linea());
        }
    }
    const std::string cabeza = "Caracteres que Velorin no puede guardar: ";
    EXPECT_EQ(
        conversion,
        (Lista{cabeza + "ASIGNOMT.CODI, MATERIA M&#x8D;1, «M&#x8D;1»: se guarda como «M?1»; con este "
                        "código GestIB no reconocerá el elemento",
               cabeza + "ASIGNOMT.NOMBRE, MATERIA M&#x8D;1, «Mates&#x81;&#x8F;&#x90;&#x9D;»: se guarda "
                        "como «Mates????»",
               cabeza + "ASIGNOMT.CODI, MATERIA M&#xA;2, «M&#xA;2»: se guarda como «M?2»; con este "
                        "código GestIB no reconocerá el elemento",
               cabeza + "ASIGNOMT.NOMBRE, MATERIA M&#xA;2, «Llengua&#x9;i&#xD;literatura»: se guarda "
                        "como «Llengua?i?literatura»",
               cabeza + "ASIGNOMT.CODLARGO, MATERIA M&#xA;2, «L&#x85;EN»: se guarda como «L?EN»",
               cabeza + "ASIGNOMT.NOMBRE, MATERIA M3, «HistÃ&#x7F;ria&#x85;»: se guarda como «HistÃ?ria?»",
               cabeza + "PROFT.CODI, PLACA P&#xD;&#xA;1, «P&#xD;&#xA;1»: se guarda como «P??1»; con este "
                        "código GestIB no reconocerá el elemento",
               cabeza + "PROFT.NOMBRE, PLACA P&#xD;&#xA;1, «Joan&#x9;Pons»: se guarda como «Joan?Pons»",
               cabeza + "CURSOST.DESCRIPCIO, CURS C1, «Primer&#xA;curs»: se guarda como «Primer?curs»",
               cabeza + "GRUPOST.CODI, GRUP G&#x8D;1, «G&#x8D;1»: se guarda como «G?1»; con este "
                        "código GestIB no reconocerá el elemento"}));
}

// ---- Passing holds on a new file (Windows) --------------------------------------------------

// Holds, from a helper process ("hold-file", SystemTest.cpp), the new file a run is about to put
// in place of `tabla`, just before the rename: as a scanner or the indexer opens a freshly
// written file. The new file is the one beside the table whose name holds the table's.
struct Retener
{
    fs::path directorio;
    std::string tabla;
    int ms = 0;
    fs::path listo;
    fs::path retenido;
    std::unique_ptr<test::HelperProcess> proceso;
};
Retener* g_retener = nullptr;

int RetenerAlReemplazar(const char* llamada, const fs::path& archivo)
{
    Retener& r = *g_retener;
    // The table itself, not its copy in zendral/copias/.
    if (r.proceso || std::string(llamada) != "rename" || archivo.parent_path() != r.directorio ||
        !cp1252::EqualsNoCase(archivo.filename().string(), r.tabla)) {
        return 0;
    }
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(archivo.parent_path(), ec)) {
        const std::string nombre = cp1252::Upper(e.path().filename().string());
        if (nombre != r.tabla && nombre.find(r.tabla) != std::string::npos) {
            r.retenido = e.path();
        }
    }
    if (r.retenido.empty()) {
        ADD_FAILURE() << "no new file beside " << archivo;
        return 0;
    }
    r.proceso = std::make_unique<test::HelperProcess>(
        "hold-file", std::vector<std::string>{test::ArgumentOf(r.retenido), "sin-borrado",
                                              std::to_string(r.ms), test::ArgumentOf(r.listo)});
    EXPECT_EQ(test::WaitForFile(r.listo), "K") << "the helper could not open " << r.retenido;
    return 0;
}

// The tables and indexes of the directory, with their bytes.
std::map<std::string, std::string> Tablas(const fs::path& work)
{
    std::map<std::string, std::string> tablas;
    for (const auto& e : fs::directory_iterator(work)) {
        const std::string ext = cp1252::Upper(e.path().extension().string());
        if (e.is_regular_file() && (ext == ".DBF" || ext == ".MDX")) {
            tablas[e.path().filename().string()] = test::ReadFile(e.path());
        }
    }
    return tablas;
}

// A new table held for a moment (300 ms) is waited out and the run ends well. Held for long (10
// s) it is refused as a table in use, with every table as it was; on Linux an open holds nothing
// back and the run ends well.
TEST_F(ImportacionTest, NewTableHeldByAnotherProgramIsWaitedOutOrRefused)
{
    const std::string otro = Centre(Materias({{"N1", "C1", "Natura", "NAT"}, {"N2", "C1", "Música", "MUS"}}) +
                                    "<CURSOS><CURS codi=\"C1\" descripcio=\"U\"><GRUP codi=\"G1\" "
                                    "nom=\"A\"/></CURS></CURSOS>");
    prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
    ASSERT_EQ(Imp().ImportarDocumento(xml::Document::loadMemory(Centre(kLineas), "centre.xml")),
              FinRun::Completado);
    for (const int ms : {300, 10000}) {
        SCOPED_TRACE(ms);
        const auto antes = Tablas(work);
        const bool nuevo = ms == 300;
        Retener r{work, "ASIGNOMT.DBF", ms, dir / ("listo-" + std::to_string(ms)), {}, nullptr};
        g_retener = &r;
        sys::SetFaultHook(&RetenerAlReemplazar);
        prompter.dialogos = {Mostrar{{{"ESO", "1"}, {"ESO", "2"}}, Mostrar::Fin::Aceptar}};
        std::string error;
        const auto desde = std::chrono::steady_clock::now();
        try {
            EXPECT_EQ(
                Imp().ImportarDocumento(xml::Document::loadMemory(nuevo ? otro : Centre(kLineas), "c.xml")),
                FinRun::Completado);
        } catch (const Error& e) {
            error = e.what();
        }
        const double segundos =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - desde).count();
        sys::SetFaultHook(nullptr);
        g_retener = nullptr;
        EXPECT_TRUE(r.proceso) << "the run renamed no new ASIGNOMT.DBF";
#ifdef _WIN32
        if (!nuevo) {
            // The run had let go of the old table to replace it, so it puts the set of before back.
            EXPECT_EQ(error,
                      "No se puede guardar la tabla ASIGNOMT: está en uso por otro programa. Se han vuelto a "
                      "poner las tablas que había antes de la importación.");
            EXPECT_GT(segundos, 1.5);
            EXPECT_TRUE(Tablas(work) == antes) << "a table changed";
            // The helper still holds its file: a later run must not find that name.
            r.proceso.reset();
            if (!r.retenido.empty()) {
                sys::Remove(r.retenido);
            }
            continue;
        }
#endif
        EXPECT_EQ(error, "");
        EXPECT_LT(segundos, 60.0);
        EXPECT_EQ(Columna("ASIGNOMT", "CODI"),
                  nuevo ? (Lista{"N1", "N2"}) : (Lista{"M1", "M2", "M3", "M4", "GU"}));
        if (r.proceso) {
            r.proceso->Kill();
        }
    }
}

// ---- Files that are not regular ones (Linux: FIFOs) ------------------------------------------

#ifndef _WIN32
// A FIFO chosen as the centre document is no file to convert: said as a missing file, at once.
TEST_F(ImportacionTest, FifoChosenAsTheDocumentIsRefusedWithoutWaiting)
{
    const fs::path fifo = dir / "centre.xml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    prompter.archivo = fifo;
    auto run = std::async(std::launch::async, [&] { return Imp().BExportarClick(); });
    if (run.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        std::fprintf(stderr, "the run waits on a FIFO: stopped\n");
        std::_Exit(1);
    }
    EXPECT_EQ(run.get(), FinRun::SinArchivo);
    EXPECT_EQ(prompter.mensajes, Lista{msg::kNoExisteArchivo});
    EXPECT_TRUE(fs::is_empty(work));
}
#endif

TEST(ConvertirHoras, AcceptsEitherDecimalSeparator)
{
    EXPECT_EQ(ConvertirHoras("2,25"), 2.25);
    EXPECT_EQ(ConvertirHoras("2.25"), 2.25);
    EXPECT_EQ(ConvertirHoras(" 3 "), 3.0);
    EXPECT_EQ(ConvertirHoras("1e1"), 10.0);
    EXPECT_EQ(ConvertirHoras("+2"), 2.0);
    EXPECT_EQ(ConvertirHoras(".5"), 0.5);
    for (const char* malo : {"1e", "e5", "-", ".", "1,2,3", "2h", "nan", "inf", "0x10"}) {
        EXPECT_EQ(ConvertirHoras(malo), 1.0) << malo;
    }
    EXPECT_EQ(ConvertirHoras(""), std::nullopt);
}

} // namespace
} // namespace zendral
