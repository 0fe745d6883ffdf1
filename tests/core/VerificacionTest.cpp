#include "Verificacion.h"

#include "Error.h"
#include "Exportacion.h"
#include "ScriptedPrompter.h"
#include "TablaPrueba.h"
#include "Tablas.h"
#include "TempDir.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <vector>

namespace zendral
{
namespace
{

namespace fs = std::filesystem;
using test::Fila;

// Files left beside the document: the new one is written under a temporary name of its own.
int Temporales(const fs::path& carpeta)
{
    int n = 0;
    for (const auto& e : fs::directory_iterator(carpeta)) {
        n += e.path().extension() == ".tmp" ? 1 : 0;
    }
    return n;
}

class VerificacionTest : public ::testing::Test
{
protected:
    VerificacionTest()
    {
        fs::create_directories(work);
        fs::create_directories(destino);
        Tabla(tablas::kProft, {"ABREV", "CODI"}, {{"JOAN", "P-joan"}, {"MAR", "P-mar"}});
        Tabla(tablas::kGrupost, {"ABREV", "CODI", "CODICURS"}, {{"ES1A", "G1", "C1"}});
        Tabla(tablas::kAulat, {"ABREV", "CODI"}, {{"Au10", "101"}});
        Tabla(tablas::kAsignomt, {"COD", "CODI"}, {{"MAT", "2063541"}});
        Tabla(tablas::kDiashorast, {"DIHO", "DIA", "HORADESDE", "MINUTOS"},
              {{"11", "1", "08:00", "55"}, {"12", "1", "09:00", "55"}});
        prompter.archivo = destino;
    }

    void Tabla(const tablas::Disposicion& disposicion, const std::vector<std::string>& campos,
               const std::vector<Fila>& filas)
    {
        test::EscribirTabla(work, disposicion, campos, filas);
    }

    // SOLUC rows: DIA, HORA, PROF, CODGRUPO, AULA, ASIG, TAREA.
    void Soluc(const std::vector<Fila>& filas)
    {
        Tabla(tablas::kSoluc, {"DIA", "HORA", "PROF", "CODGRUPO", "AULA", "ASIG", "TAREA"}, filas);
    }

    test::TempDir dir;
    fs::path work = dir / "VTEMP";
    fs::path destino = dir / "saga";
    EstadoProceso estado;
    test::ScriptedPrompter prompter;
};

TEST_F(VerificacionTest, EveryUnmatchedLookupIsCountedByKindWithItsRecords)
{
    Soluc({
        {"1", "1", "JOAN", "ES1A", "Au10", "MAT", ""}, // 1: all found
        {"1", "2", "XX", "ES9Z", "Lab", "FIS", ""},    // 2: teacher, group, room, subject
        {"0", "1", "XX", "ES9Z", "Lab", "FIS", ""},    // 3: no day, not exported
        {"5", "1", "MAR", "ES1A", "Au10", "MAT", ""},  // 4: no day-and-hour 51
        {"1", "1", "MAR", "", "", "", "GUARDIA"},      // 5: activity: only teacher and day count
        {"1", "1", "ZZ", "ES1A", "Au10", "MÚS", ""},   // 6: teacher, subject
    });
    Exportacion exportacion(estado, prompter, work);
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    const Comprobacion& c = exportacion.comprobacion();
    EXPECT_EQ(c.registros, 6u);
    EXPECT_EQ(c.sesiones, 5u);
    EXPECT_EQ(c.sinDia, 1u);
    EXPECT_EQ(c.actividades, 1u);
    EXPECT_EQ(c.sinRegistro[Comprobacion::Profesor].cuenta, 2u);
    EXPECT_EQ(c.sinRegistro[Comprobacion::Grupo].cuenta, 1u);
    EXPECT_EQ(c.sinRegistro[Comprobacion::Aula].cuenta, 1u);
    EXPECT_EQ(c.sinRegistro[Comprobacion::Materia].cuenta, 2u);
    EXPECT_EQ(c.sinRegistro[Comprobacion::DiaHora].cuenta, 1u);

    std::vector<std::string> lineas;
    for (const Aviso& a : exportacion.avisos()) {
        lineas.push_back(a.Linea());
    }
    const std::string k = "Sesiones sin registro en las tablas: ";
    EXPECT_EQ(lineas,
              (std::vector<std::string>{
                  k + "PROFT, «XX»: 2 sesiones sin registro de profesor en PROFT: el atributo sale vacío "
                      "(registros de SOLUC 2 «XX», 6 «ZZ»)",
                  k + "GRUPOST, «ES9Z»: 1 sesión sin registro de grupo en GRUPOST: el atributo sale vacío "
                      "(registros de SOLUC 2 «ES9Z»)",
                  k + "AULAT, «Lab»: 1 sesión sin registro de aula en AULAT: el atributo sale vacío "
                      "(registros de SOLUC 2 «Lab»)",
                  k + "ASIGNOMT, «FIS»: 2 sesiones sin registro de materia en ASIGNOMT: el atributo sale "
                      "vacío (registros de SOLUC 2 «FIS», 6 «MÚS»)",
                  k + "DIASHORAST, «51»: 1 sesión sin registro de día y hora en DIASHORAST: salen sin día, "
                      "hora ni duración (registros de SOLUC 4 «51»)",
              }));
    // The report holds the check; the closing message its warnings.
    const std::string informe = test::ReadFile(exportacion.informe());
    EXPECT_NE(informe.find("  Registros sin día (no se exportan): 1\n"), std::string::npos) << informe;
    EXPECT_NE(informe.find("  Sin registro de profesor: 2 (registros de SOLUC 2 «XX», 6 «ZZ»)\n"),
              std::string::npos);
    ASSERT_EQ(prompter.detalles.size(), 1u);
    EXPECT_EQ(prompter.detalles[0].rfind("5 avisos\n", 0), 0u);
    EXPECT_EQ(Temporales(destino), 0) << "queda un archivo temporal";
}

TEST_F(VerificacionTest, OnlyTheFirstFewRecordsAreListed)
{
    std::vector<Fila> filas(8, Fila{"1", "1", "NADI", "ES1A", "Au10", "MAT", ""});
    Soluc(filas);
    Exportacion exportacion(estado, prompter, work);
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    const auto& s = exportacion.comprobacion().sinRegistro[Comprobacion::Profesor];
    EXPECT_EQ(s.cuenta, 8u);
    ASSERT_EQ(s.primeros.size(), Comprobacion::kPrimeros);
    EXPECT_EQ(s.primeros.back().numero, 5u);
    EXPECT_NE(exportacion.avisos().begin()->detalle.find("5 «NADI», …)"), std::string::npos)
        << exportacion.avisos().begin()->detalle;
}

TEST_F(VerificacionTest, DocumentThatDisagreesWithSolucNeverReplacesThePreviousOne)
{
    Soluc({{"1", "1", "JOAN", "ES1A", "Au10", "MAT", ""}, {"1", "2", "MAR", "ES1A", "Au10", "MAT", ""}});
    const fs::path anterior = dir.write("saga/SolucioHorari.xml", "<HORARI><SESSIONS/></HORARI>");

    // A document missing the second session.
    xml::Document corto;
    corto.appendChild(corto.createElement("HORARI"));
    xml::Node sesiones = corto.selectSingleNode("/HORARI").appendChild(corto.createElement("SESSIONS"));
    xml::Node s = sesiones.appendChild(corto.createElement("SESSIO"));
    for (const auto& [n, v] : std::vector<std::pair<const char*, const char*>>{{"placa", "P-joan"},
                                                                               {"curs", "C1"},
                                                                               {"grup", "G1"},
                                                                               {"dia", "1"},
                                                                               {"hora", "08:00"},
                                                                               {"durada", "55"},
                                                                               {"aula", "101"},
                                                                               {"materia", "2063541"},
                                                                               {"activitat", ""}}) {
        s.setAttribute(n, v);
    }
    try {
        GuardarComprobado(corto, anterior, work);
        FAIL() << "aceptado";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "La comprobación de SolucioHorari.xml ha fallado: falta la sesión del "
                  "registro 2 de SOLUC. Se conserva el documento anterior.");
    }
    EXPECT_EQ(test::ReadFile(anterior), "<HORARI><SESSIONS/></HORARI>");
    EXPECT_EQ(Temporales(destino), 0) << "queda un archivo temporal";

    // A value that differs from what the lookup gives.
    s.setAttribute("materia", "9999");
    sesiones.appendChild(corto.createElement("SESSIO"));
    std::ignore = dir.write("saga/otro.xml", corto.toString());
    try {
        ComprobarHorario(destino / "otro.xml", work);
        FAIL() << "aceptado";
    } catch (const Error& e) {
        EXPECT_NE(
            std::string(e.what()).find("el atributo materia de la sesión 1 (registro 1 de SOLUC) dice «9999» "
                                       "en lugar de «2063541»"),
            std::string::npos)
            << e.what();
    }

    // A session with fewer attributes than the mapping declares.
    s.setAttribute("materia", "2063541");
    std::ignore = dir.write("saga/otro.xml", corto.toString());
    try {
        ComprobarHorario(destino / "otro.xml", work);
        FAIL() << "aceptado";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("la sesión 2 tiene 0 atributos en lugar de 9"),
                  std::string::npos)
            << e.what();
    }

    // The real run passes its own check and replaces the document.
    Exportacion exportacion(estado, prompter, work);
    ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
    EXPECT_TRUE(exportacion.avisos().empty());
    EXPECT_EQ(exportacion.comprobacion().sesiones, 2u);
    EXPECT_NE(test::ReadFile(anterior), "<HORARI><SESSIONS/></HORARI>");
}

TEST_F(VerificacionTest, OneEditOfTheMappingIsFollowedByTheWriterAndItsCheck)
{
    // Two activities, the second in a room without a record, then a lesson.
    Soluc({{"1", "1", "MAR", "ES1A", "Au10", "MAT", "GUARDIA"},
           {"1", "2", "MAR", "", "Lab", "", "REU"},
           {"1", "2", "JOAN", "ES1A", "Au10", "MAT", ""}});
    const auto atributo = [](Horario& h, const std::string& nombre) -> Horario::Atributo& {
        return *std::find_if(h.atributos.begin(), h.atributos.end(),
                             [&](const Horario::Atributo& a) { return a.nombre == nombre; });
    };
    const auto sesion = [](const std::string& atributos) { return "<SESSIO placa=\"P-" + atributos + "/>"; };
    const std::string reu = sesion("mar\" curs=\"\" grup=\"\" dia=\"1\" hora=\"09:00\" durada=\"55\" "
                                   "aula=\"\" materia=\"\" activitat=\"REU\"");
    struct Caso
    {
        std::function<void(Horario&)> cambio;
        std::string sesiones;
        std::size_t sinAula; // sessions counted without a room record
        std::string rechazo; // what the check by the declared mapping finds
    };
    const std::vector<Caso> casos = {
        // Activities keep their room: the one without a record now counts.
        {[&](Horario& h) { atributo(h, "aula").enActividad = true; },
         sesion("mar\" curs=\"\" grup=\"\" dia=\"1\" hora=\"08:00\" durada=\"55\" aula=\"101\" "
                "materia=\"\" activitat=\"GUARDIA\"") +
             reu +
             sesion("joan\" curs=\"C1\" grup=\"G1\" dia=\"1\" hora=\"09:00\" durada=\"55\" aula=\"101\" "
                    "materia=\"2063541\" activitat=\"\""),
         1, "el atributo aula de la sesión 1 (registro 1 de SOLUC) dice «101» en lugar de «»"},
        // The group's code fills curs, and its course grup.
        {[](Horario& h) {
             h.busquedas[Horario::Grupo].valores = {{"CODI", "curs"}, {"CODICURS", "grup"}};
         },
         sesion("mar\" curs=\"\" grup=\"\" dia=\"1\" hora=\"08:00\" durada=\"55\" aula=\"\" "
                "materia=\"\" activitat=\"GUARDIA\"") +
             reu +
             sesion("joan\" curs=\"G1\" grup=\"C1\" dia=\"1\" hora=\"09:00\" durada=\"55\" aula=\"101\" "
                    "materia=\"2063541\" activitat=\"\""),
         0, "el atributo curs de la sesión 3 (registro 3 de SOLUC) dice «G1» en lugar de «C1»"},
    };
    for (const Caso& caso : casos) {
        Horario horario = HorarioDeclarado();
        caso.cambio(horario);
        Exportacion exportacion(estado, prompter, work, horario);
        ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado) << caso.rechazo;
        const fs::path escrito = destino / kArchivoHorario;
        EXPECT_EQ(test::ReadFile(escrito), "<HORARI><SESSIONS>" + caso.sesiones + "</SESSIONS></HORARI>");
        EXPECT_EQ(exportacion.comprobacion().sinRegistro[Comprobacion::Aula].cuenta, caso.sinAula);
        try {
            ComprobarHorario(escrito, work);
            ADD_FAILURE() << "aceptado: " << caso.rechazo;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(caso.rechazo), std::string::npos) << e.what();
        }
    }
}

TEST_F(VerificacionTest, RunEndedByAnErrorStillLeavesItsReport)
{
    Soluc({{"1", "1", "JOAN", "ES1A", "Au10", "MAT", ""}});
    fs::remove(work / "DIASHORAST.DBF");
    Exportacion exportacion(estado, prompter, work);
    EXPECT_THROW(exportacion.BImportarClick(), Error);
    ASSERT_FALSE(exportacion.informe().empty());
    const std::string informe = test::ReadFile(exportacion.informe());
    EXPECT_NE(informe.find("Zendral: Exportación del horario\n"), std::string::npos) << informe;
    EXPECT_NE(informe.find("Resultado: interrumpido por un error\n"), std::string::npos) << informe;
    EXPECT_FALSE(fs::exists(destino / "SolucioHorari.xml"));
}

} // namespace
} // namespace zendral
