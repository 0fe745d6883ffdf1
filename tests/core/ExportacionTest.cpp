#include "Exportacion.h"

#include "DbfTable.h"
#include "Error.h"
#include "ExternalTool.h"
#include "Mensajes.h"
#include "ScriptedPrompter.h"
#include "TablaPrueba.h"
#include "Tablas.h"
#include "TempDir.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace zendral
{
namespace
{

namespace fs = std::filesystem;
using dbf::FieldType;
using test::Fila;

class ExportacionTest : public ::testing::Test
{
protected:
    ExportacionTest()
    {
        fs::create_directories(work);
        fs::create_directories(destino);
        Tabla(tablas::kProft, {"ABREV", "CODI"},
              {{"JOAN", "P-joan"}, {"MAR", "P-mar"}, {"JOAN", "P-joan-2"}, {"", "P-blanc"}});
        Tabla(tablas::kGrupost, {"ABREV", "CODI", "CODICURS"}, {{"ES1A", "G1", "C1"}, {"ES1B", "G2", "C1"}});
        Tabla(tablas::kAulat, {"ABREV", "CODI"}, {{"Au10", "101"}, {"Lab", "Laboratori & \"química\""}});
        Tabla(tablas::kAsignomt, {"COD", "CODI"}, {{"MAT", "2063541"}, {"Mús", "2063548"}});
        DiasHoras({"11", "12", "13", "14", "15", "21", "22", "23", "24", "25", "112"});
        prompter.archivo = destino / "elegido.xml";
        std::ignore = dir.write("destino/elegido.xml", "esto no es XML");
    }

    void Tabla(const tablas::Disposicion& disposicion, const std::vector<std::string>& campos,
               const std::vector<Fila>& filas)
    {
        test::EscribirTabla(work, disposicion, campos, filas);
    }

    void DiasHoras(const std::vector<std::string>& claves)
    {
        std::vector<Fila> filas;
        for (const auto& k : claves) {
            filas.push_back({k, "D" + k, "H" + k, "M" + k});
        }
        Tabla(tablas::kDiashorast, {"DIHO", "DIA", "HORADESDE", "MINUTOS"}, filas);
    }

    // SOLUC rows: DIA, HORA, PROF, CODGRUPO, AULA, ASIG, TAREA.
    void Soluc(const std::vector<Fila>& filas)
    {
        Tabla(tablas::kSoluc, {"DIA", "HORA", "PROF", "CODGRUPO", "AULA", "ASIG", "TAREA"}, filas);
    }

    std::string Documento() { return test::ReadFile(destino / kArchivoHorario); }

    test::TempDir dir;
    fs::path work = dir / "VTEMP";
    fs::path destino = dir / "destino";
    EstadoProceso estado;
    test::ScriptedPrompter prompter;
    Exportacion exportacion{estado, prompter, work};
};

TEST_F(ExportacionTest, SessionsCarryGestibCodesInAttributeOrder)
{
    Soluc({
        {"1", "1", "JOAN", "ES1A", "Au10", "MAT", ""},
        {"0", "2", "JOAN", "ES1A", "Au10", "MAT", ""},   // unplaced: no session
        {"1", "2", "joan", "ES1B", "Lab", "Mús", "   "}, // case differs; blank task is teaching, read as ""
        {"2", "3", "MAR", "ES1A", "Au10", "MAT", "GUARDIA"}, // activity
        {"2", "4", "", "XX", "", "NO", ""},                  // blank teacher matches; others missing
        {"1", "12", "MAR", "ES1B", "Lab", "MAT", ""},
        {"3", "1", "MAR", "ES1B", "Lab", "MAT", ""}, // no day-and-hour record
    });
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    EXPECT_EQ(estado.codigoResultado, 1);
    EXPECT_EQ(prompter.mensajes, std::vector<std::string>{msg::kProcesoFinalizado});
    EXPECT_FALSE(prompter.cursorOcupado);
    EXPECT_EQ(exportacion.sesiones(), 6u);
    EXPECT_EQ(
        Documento(),
        "<HORARI><SESSIONS>"
        "<SESSIO placa=\"P-joan\" curs=\"C1\" grup=\"G1\" dia=\"D11\" hora=\"H11\" durada=\"M11\" "
        "aula=\"101\" "
        "materia=\"2063541\" activitat=\"\"/>"
        "<SESSIO placa=\"\" curs=\"C1\" grup=\"G2\" dia=\"D12\" hora=\"H12\" durada=\"M12\" "
        "aula=\"Laboratori &amp; &quot;química&quot;\" materia=\"2063548\" activitat=\"\"/>"
        "<SESSIO placa=\"P-mar\" curs=\"\" grup=\"\" dia=\"D23\" hora=\"H23\" durada=\"M23\" aula=\"\" "
        "materia=\"\" activitat=\"GUARDIA\"/>"
        "<SESSIO placa=\"P-blanc\" curs=\"\" grup=\"\" dia=\"D24\" hora=\"H24\" durada=\"M24\" aula=\"\" "
        "materia=\"\" activitat=\"\"/>"
        "<SESSIO placa=\"P-mar\" curs=\"C1\" grup=\"G2\" dia=\"D112\" hora=\"H112\" durada=\"M112\" "
        "aula=\"Laboratori &amp; &quot;química&quot;\" materia=\"2063541\" activitat=\"\"/>"
        "<SESSIO placa=\"P-mar\" curs=\"C1\" grup=\"G2\" dia=\"\" hora=\"\" durada=\"\" "
        "aula=\"Laboratori &amp; &quot;química&quot;\" materia=\"2063541\" activitat=\"\"/>"
        "</SESSIONS></HORARI>");
    const test::ToolOutput xmllint =
        test::RunTool({"/usr/bin/xmllint", "--noout", (destino / kArchivoHorario).string()});
    EXPECT_TRUE(xmllint.ok) << xmllint.Text();
    EXPECT_EQ(test::ReadFile(destino / "elegido.xml"), "esto no es XML");
}

TEST_F(ExportacionTest, HalfPeriodsWhenAnyHourHasAFraction)
{
    struct Caso
    {
        std::vector<Fila> soluc; // DIA, HORA
        std::vector<std::string> dias;
    };
    const std::vector<Caso> casos = {
        {{{"2", "1"}, {"2", "2.5"}, {"2", "3"}}, {"D21", "D24", "D25"}},
        {{{"2", "1"}, {"2", "1.5"}, {"2", "2"}}, {"D21", "D22", "D23"}},
        {{{"1", "3"}, {"1", "12"}}, {"D13", "D112"}},
        // A day-0 record still switches on half periods.
        {{{"0", "3.25"}, {"1", "1"}, {"1", "2"}}, {"D11", "D13"}},
        {{{"1", "3.75"}, {"1", "2"}}, {"D16", "D13"}},
    };
    for (const auto& caso : casos) {
        DiasHoras({"11", "12", "13", "16", "112", "21", "22", "23", "24", "25"});
        std::vector<Fila> soluc;
        for (const auto& f : caso.soluc) {
            soluc.push_back({f[0], f[1], "", "", "", "", ""});
        }
        Soluc(soluc);
        ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
        const std::string doc = Documento();
        std::vector<std::string> dias;
        for (std::size_t p = doc.find(" dia=\""); p != std::string::npos; p = doc.find(" dia=\"", p + 1)) {
            dias.push_back(doc.substr(p + 6, doc.find('"', p + 6) - p - 6));
        }
        EXPECT_EQ(dias, caso.dias) << caso.soluc[1][1];
    }
    EXPECT_EQ(Periodo(-1.5, true), -3);
    EXPECT_EQ(Periodo(7.0, false), 7);
}

TEST_F(ExportacionTest, EmptyTimetableStillWritesTheDocument)
{
    Soluc({{"0", "1", "JOAN", "ES1A", "", "", ""}});
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    EXPECT_EQ(Documento(), "<HORARI><SESSIONS/></HORARI>");
    EXPECT_EQ(estado.codigoResultado, 1);
}

TEST_F(ExportacionTest, NoFileReportsZeroToTheHostAndWritesNothing)
{
    Soluc({{"1", "1", "JOAN", "ES1A", "", "", ""}});
    prompter.archivo = destino / "no-existe.xml";
    estado.lanzadoPorHost = 2;
    estado.codigoResultado = 7;
    EXPECT_EQ(exportacion.BImportarClick(), FinRun::SinArchivo);
    EXPECT_EQ(estado.codigoResultado, 0);
    EXPECT_TRUE(CierraVentana(FinRun::SinArchivo, estado));
    EXPECT_EQ(prompter.mensajes, std::vector<std::string>{msg::kNoExisteArchivo});
    EXPECT_FALSE(fs::exists(destino / kArchivoHorario));

    // A directory names itself; a cancelled choice keeps the earlier one.
    prompter.archivo = destino;
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    EXPECT_EQ(exportacion.salida(), destino / kArchivoHorario);
    prompter.archivo.reset();
    fs::remove(destino / kArchivoHorario);
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    EXPECT_TRUE(fs::exists(destino / kArchivoHorario));

    // Started by hand, a cancel after a run writes nothing and says there is no file.
    estado.lanzadoPorHost = 0;
    fs::remove(destino / kArchivoHorario);
    prompter.mensajes.clear();
    EXPECT_EQ(exportacion.BImportarClick(), FinRun::SinArchivo);
    EXPECT_EQ(prompter.mensajes, std::vector<std::string>{msg::kNoExisteArchivo});
    EXPECT_FALSE(fs::exists(destino / kArchivoHorario));
}

TEST_F(ExportacionTest, FailedRunKeepsThePreviousDocumentAndClosesItsTables)
{
    std::ignore = dir.write("destino/SolucioHorari.xml", "<HORARI>anterior</HORARI>");
    // SOLUC without TAREA.
    tablas::Disposicion sinTarea = tablas::kSoluc;
    std::erase_if(sinTarea.campos, [](const dbf::FieldDef& c) { return c.name == "TAREA"; });
    Tabla(sinTarea, {"DIA", "HORA", "PROF", "CODGRUPO", "AULA", "ASIG"},
          {{"1", "1", "JOAN", "ES1A", "Au10", "MAT"}});
    try {
        exportacion.BImportarClick();
        FAIL() << "a missing field must end the run";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "wwTableSoluc: No se encuentra el campo 'TAREA' en la tabla SOLUC (" +
                      (work / "SOLUC.DBF").string() + ")");
    }
    EXPECT_FALSE(prompter.cursorOcupado);
    EXPECT_EQ(estado.codigoResultado, 0);
    EXPECT_EQ(Documento(), "<HORARI>anterior</HORARI>");

    // Every table was released: the next run in the same process opens them again.
    Soluc({{"1", "1", "JOAN", "ES1A", "Au10", "MAT", ""}});
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    EXPECT_NE(Documento().find("placa=\"P-joan\""), std::string::npos);

    // A lookup table without a field it gives is named as such, with nothing about a record.
    tablas::Disposicion sinCodiCurs = tablas::kGrupost;
    std::erase_if(sinCodiCurs.campos, [](const dbf::FieldDef& c) { return c.name == "CODICURS"; });
    Tabla(sinCodiCurs, {"ABREV", "CODI"}, {{"ES1A", "G1"}});
    try {
        exportacion.BImportarClick();
        ADD_FAILURE() << "a missing field must end the run";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "wwTableGrupos: No se encuentra el campo 'CODICURS' en la tabla GRUPOST (" +
                      (work / "GRUPOST.DBF").string() + ")");
    }
    Tabla(tablas::kGrupost, {"ABREV", "CODI", "CODICURS"}, {{"ES1A", "G1", "C1"}});

    // A table another holder has open ends the run the same way.
    dbf::Table otro("otro", work, "AULAT");
    otro.Open();
    EXPECT_THROW(exportacion.BImportarClick(), Error);
    EXPECT_FALSE(prompter.cursorOcupado);
}

TEST_F(ExportacionTest, HourBeyondTheRangeOfAPeriodEndsTheRunNamingTheRecord)
{
    // SOLUC as another program may write it: HORA a number of 20 digits and no decimals, which
    // may hold values no period number can take.
    const auto soluc = [&](const std::vector<std::pair<std::string, std::string>>& filas) {
        std::vector<Fila> texto;
        for (const auto& [dia, hora] : filas) {
            texto.push_back({dia, std::string(20 - hora.size(), ' ') + hora, "JOAN", "ES1A", "", "", ""});
        }
        tablas::Disposicion disposicion = tablas::kSoluc;
        for (auto& campo : disposicion.campos) {
            if (campo.name == "HORA") {
                campo = {"HORA", FieldType::String, 20};
            }
        }
        Tabla(disposicion, {"DIA", "HORA", "PROF", "CODGRUPO", "AULA", "ASIG", "TAREA"}, texto);
        std::string bytes = test::ReadFile(work / "SOLUC.DBF");
        ASSERT_EQ(bytes.substr(64, 4), "HORA");
        bytes[64 + 11] = 'N';
        std::ignore = dir.write("VTEMP/SOLUC.DBF", bytes);
    };
    struct Caso
    {
        std::vector<std::pair<std::string, std::string>> filas; // DIA, HORA
        std::string error;                                      // "" when the run completes
    };
    const std::string fuera = " del campo HORA del registro 2 de la tabla SOLUC está fuera de rango";
    const std::vector<Caso> casos = {
        {{{"1", "1"}, {"1", "1e+30"}}, "El valor 1000000000000000000000000000000" + fuera},
        {{{"1", "1"}, {"1", "-1e19"}}, "El valor -10000000000000000000" + fuera},
        // 2^63 is one more than the largest period; -2^63 is the smallest.
        {{{"1", "1"}, {"1", "9223372036854775808"}}, "El valor 9223372036854775808" + fuera},
        {{{"1", "1"}, {"1", "-9223372036854775808"}}, ""},
        // With half periods a period is about twice the hour: +-2^62 are too far, the doubles
        // next to them towards 0 are not.
        {{{"1", "1.5"}, {"1", "4611686018427387904"}}, "El valor 4611686018427387904" + fuera},
        {{{"1", "1.5"}, {"1", "-4611686018427387904"}}, "El valor -4611686018427387904" + fuera},
        {{{"1", "1.5"}, {"1", "4611686018427386880"}}, ""},
        {{{"1", "1.5"}, {"1", "-4611686018427386880"}}, ""},
        // Records of day 0 get no period; once a fraction is found no other HORA is tested.
        {{{"1", "1"}, {"0", "1e+30"}}, ""},
        {{{"1", "1.5"}, {"0", "no"}}, ""},
    };
    std::ignore = dir.write("destino/SolucioHorari.xml", "<HORARI>anterior</HORARI>");
    for (const auto& caso : casos) {
        soluc(caso.filas);
        const std::string what = caso.filas[1].second;
        if (caso.error.empty()) {
            EXPECT_EQ(exportacion.BImportarClick(), FinRun::Completado) << what;
            std::ignore = dir.write("destino/SolucioHorari.xml", "<HORARI>anterior</HORARI>");
            continue;
        }
        try {
            exportacion.BImportarClick();
            ADD_FAILURE() << what << " must end the run";
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), caso.error);
        }
        EXPECT_FALSE(prompter.cursorOcupado) << what;
        EXPECT_EQ(Documento(), "<HORARI>anterior</HORARI>") << what;
        // The run closed its tables: they open exclusively again.
        dbf::Table t("wwTableSoluc", work, "SOLUC");
        EXPECT_NO_THROW(t.Open()) << what;
    }
    EXPECT_TRUE(PeriodoEnRango(1.5, true));
    for (const double malo : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_FALSE(PeriodoEnRango(malo, false));
        EXPECT_FALSE(PeriodoEnRango(malo, true));
    }
}

} // namespace
} // namespace zendral
