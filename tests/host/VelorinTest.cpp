#include "Velorin.h"

#include "DbfRead.h"
#include "DbfTable.h"
#include "Error.h"
#include "Exportacion.h"
#include "Importacion.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "VelorinSim.h"
#include "XmlDocument.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace zendral::host
{
namespace
{

namespace fs = std::filesystem;
using Registro = std::map<std::string, std::string>;

// Every record of a table, as the texts its fields give.
std::vector<Registro> Leer(const fs::path& dir, const std::string& tabla)
{
    dbf::Table t("prueba", dir, tabla);
    t.Open();
    std::vector<Registro> filas;
    for (t.First(); !t.Eof(); t.Next()) {
        Registro& r = filas.emplace_back();
        for (const auto& f : t.Fields()) {
            r[f.name] = t.FieldByName(f.name).AsString();
        }
    }
    t.Close();
    return filas;
}

// Writes a table of text fields, one record per row.
void Escribir(const fs::path& dir, const std::string& tabla, const std::vector<std::string>& campos,
              const std::vector<std::vector<std::string>>& filas)
{
    dbf::Table t(tabla, dir, tabla);
    for (const auto& campo : campos) {
        t.AddFieldDef(campo, dbf::FieldType::String, 8);
    }
    t.CreateTable();
    t.Open();
    for (const auto& fila : filas) {
        t.Append();
        for (std::size_t c = 0; c < campos.size(); ++c) {
            t.FieldByName(campos[c]).SetAsString(fila[c]);
        }
        t.Post();
    }
    t.Close();
}

// The records of SOLUC, checked against the slots of DIASHORAST: a placed one sits in one of them,
// with a half HORA only when `medias`, and no teacher, group or room is twice in the same slot; an
// unplaced one has DIA and HORA 0.
std::vector<Registro> SolucValida(const fs::path& dir, bool medias)
{
    std::set<std::string> claves;
    for (const auto& r : Leer(dir, "DIASHORAST")) {
        claves.insert(r.at("DIHO"));
    }
    std::set<std::tuple<std::string, std::string, std::string>> ocupados;
    const auto filas = Leer(dir, "SOLUC");
    for (const auto& r : filas) {
        const double hora = std::stod(r.at("HORA"));
        if (r.at("DIA") == "0") {
            EXPECT_EQ(hora, 0.0);
            continue;
        }
        EXPECT_TRUE(hora == std::trunc(hora) || (medias && hora - std::trunc(hora) == 0.5)) << hora;
        EXPECT_TRUE(claves.count(r.at("DIA") + std::to_string(Periodo(hora, medias))))
            << r.at("DIA") << " " << hora;
        for (const std::string campo : {"PROF", "CODGRUPO", "AULA"}) {
            EXPECT_TRUE(r.at(campo).empty() ||
                        ocupados.emplace(r.at("DIA") + "/" + r.at("HORA"), campo, r.at(campo)).second)
                << campo << " " << r.at(campo) << " dos veces en " << r.at("DIA") << "/" << r.at("HORA");
        }
    }
    return filas;
}

bool Media(const Registro& soluc) { return soluc.at("HORA").ends_with(".5"); }

// "08:55" -> 535.
int Minutos(const std::string& hhmm)
{
    EXPECT_TRUE(hhmm.size() == 5 && hhmm[2] == ':') << hhmm;
    return std::stoi(hhmm.substr(0, 2)) * 60 + std::stoi(hhmm.substr(3, 2));
}

// A working directory holding what the real centre import writes for the bundled sample.
class CentroTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directory(work);
        EstadoProceso estado;
        test::ScriptedPrompter prompter;
        prompter.archivo = fs::path(ZENDRAL_SOURCE_DIR) / "samples" / "centre.xml";
        prompter.dialogos = {test::Mostrar{
            {{"ESO", "1"}, {"ESO", "2"}, {"ESO", "3"}, {"ESO", "4"}, {"BAT", "1"}, {"BAT", "2"}},
            test::Mostrar::Fin::Aceptar}};
        ASSERT_EQ(Importacion(estado, prompter, work).BExportarClick(), FinRun::Completado);
    }

    test::TempDir dir;
    fs::path work = dir / "VTEMP";
};

// The whole path on the sample: import, days and hours, SOLUC, and the timetable export. Each
// case rewrites the tables of the one before, the first being the largest.
TEST_F(CentroTest, WeekAndSolutionAreValidRepeatableAndExportEverySession)
{
    const auto camposImportacion = test::DbfRead(work / "DIASHORAST.DBF").fields;
    // Periods, half periods, and whether every group has room for all its sessions.
    const std::tuple<int, bool, bool> casos[] = {{12, true, true},  {1, false, false}, {8, false, true},
                                                 {6, false, false}, {4, true, true},   {3, true, false},
                                                 {12, false, true}};
    for (const auto& [periodos, medias, cabeTodo] : casos) {
        SCOPED_TRACE("periodos " + std::to_string(periodos) + (medias ? " con medias" : ""));
        LlenarDiasHoras(work, periodos, medias);
        const int n = medias ? 2 * periodos : periodos;
        const int duracion = medias ? 30 : 55;
        const auto dias = Leer(work, "DIASHORAST");
        std::map<std::pair<int, int>, std::pair<int, int>> franjas; // (day, period) -> (from, to)
        for (const auto& r : dias) {
            EXPECT_EQ(r.at("CODDIHO"), r.at("DIHO"));
            EXPECT_EQ(r.at("DIHO"), r.at("DIA") + r.at("HORA"));
            EXPECT_EQ(r.at("MINUTOS"), std::to_string(duracion));
            franjas[{std::stoi(r.at("DIA")), std::stoi(r.at("HORA"))}] = {Minutos(r.at("HORADESDE")),
                                                                          Minutos(r.at("HORAHASTA"))};
        }
        // One record for each period of each of the five days, from 08:00 one after another, with a
        // 30-minute break after the third period.
        ASSERT_EQ(dias.size(), static_cast<std::size_t>(5 * n));
        ASSERT_EQ(franjas.size(), dias.size());
        int fin = 0;
        for (const auto& [clave, franja] : franjas) {
            const auto [dia, hora] = clave;
            ASSERT_TRUE(dia >= 1 && dia <= 5 && hora >= 1 && hora <= n) << dia << "/" << hora;
            EXPECT_EQ(franja.first - (hora == 1 ? 8 * 60 : fin), hora - 1 == (medias ? 6 : 3) ? 30 : 0)
                << dia << "/" << hora;
            EXPECT_EQ(franja.second - franja.first, duracion) << dia << "/" << hora;
            fin = franja.second;
        }

        // The export turns HORA back into the period it stands for.
        for (int periodo = 1; periodo <= n; ++periodo) {
            EXPECT_EQ(Periodo(HoraDePeriodo(periodo, medias), medias), periodo);
        }
        Opciones opciones;
        opciones.medias = medias;
        const Resumen resumen = GenerarSoluc(work, opciones);
        // The same tables give the same bytes.
        const std::string bytes = test::ReadFile(work / "SOLUC.DBF");
        GenerarSoluc(work, opciones);
        EXPECT_EQ(test::ReadFile(work / "SOLUC.DBF"), bytes);
        const auto filas = SolucValida(work, medias);
        std::size_t colocadas = 0, actividades = 0, sinColocar = 0;
        for (const auto& r : filas) {
            const bool colocada = r.at("DIA") != "0";
            sinColocar += !colocada;
            if (r.at("TAREA").empty()) {
                colocadas += colocada;
            } else {
                const std::string& tarea = r.at("TAREA");
                EXPECT_TRUE(r.at("CODGRUPO").empty() &&
                            (tarea == "GU" || tarea == "REUDEP" || tarea == "TUT"))
                    << tarea << " " << r.at("CODGRUPO");
                actividades += colocada;
            }
        }
        EXPECT_EQ(medias, std::ranges::any_of(filas, Media));
        EXPECT_EQ(
            (std::vector{colocadas, actividades, sinColocar, filas.size()}),
            (std::vector{resumen.colocadas, resumen.actividades, resumen.sinColocar, resumen.registros}));
        EXPECT_TRUE(!cabeTodo || actividades == 5) << actividades;
        EXPECT_GE(sinColocar, 1u);
        EXPECT_EQ(cabeTodo, resumen.colocadas == resumen.sesiones);

        // The export finds every teacher, group, room and slot it looks up.
        EstadoProceso estado;
        test::ScriptedPrompter prompter;
        prompter.archivo = dir.path();
        Exportacion exportacion(estado, prompter, work);
        ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
        const auto doc = xml::Document::load(exportacion.salida());
        const auto sesiones = doc.selectNodes("/HORARI/SESSIONS/SESSIO");
        EXPECT_EQ(sesiones.length(), filas.size() - sinColocar);
        for (const auto& s : sesiones) {
            EXPECT_EQ(xml::AttributeText(s, "durada"), medias ? "30" : "55");
            std::string vacios;
            for (const char* atributo : {"dia", "hora", "placa", "grup", "materia", "aula"}) {
                vacios += xml::AttributeText(s, atributo).empty() ? std::string(atributo) + " " : "";
            }
            EXPECT_EQ(vacios, xml::AttributeText(s, "activitat").empty() ? "" : "grup materia aula ");
        }
    }
    // The last tables written are read as they are by another dBase reader, in the layout the import gives
    // DIASHORAST.
    EXPECT_EQ(test::DbfRead(work / "DIASHORAST.DBF").fields, camposImportacion);
    const auto leida = test::DbfRead(work / "SOLUC.DBF");
    EXPECT_EQ(leida.fields,
              (std::vector<std::string>{"DIA:N:11:0", "HORA:N:20:4", "PROF:C:4:0", "CODGRUPO:C:4:0",
                                        "AULA:C:4:0", "ASIG:C:4:0", "TAREA:C:10:0"}));
    EXPECT_EQ(leida.records.size(), Leer(work, "SOLUC").size());
}

// Hand-made tables: one teacher and one room for ten periods. ANG asks for more sessions than
// there are days and for more periods than its teacher has left; FIX wants A1 at a time when
// ANG does not hold it, and there is none.
TEST(VelorinTest, ScarceTeacherAndRoomLeaveSessionsUnplacedOrRoomlessWithoutClashes)
{
    test::TempDir dir;
    LlenarDiasHoras(dir.path(), 2, false);
    Escribir(dir.path(), "PROFT", {"ABREV"}, {{"T1"}});
    Escribir(dir.path(), "AULAT", {"ABREV"}, {{"A1"}});
    Escribir(dir.path(), "ASIGNOMT", {"CODI", "ESTAREA"}, {});
    Escribir(dir.path(), "ASIGT", {"CASIG", "CPROF", "CGRUP", "CAULA", "HORAS"},
             {{"MAT", "", "G1", "", "2.5"},
              {"ANG", "", "G2", "", "8"},
              {"FIX", "X9", "G1", "A1", "1"},
              {"LAB", "X8", "G3", "", "2"},
              {"NEG", "", "G3", "", "-2"}});
    Opciones opciones;
    opciones.actividades = 2;
    const Resumen r = GenerarSoluc(dir.path(), opciones);
    EXPECT_EQ((std::vector{r.lineas, r.sesiones, r.colocadas, r.actividades, r.sinColocar, r.registros}),
              (std::vector<std::size_t>{5, 14, 12, 0, 5, 17}));

    std::map<std::string, std::pair<int, int>> porAsig; // placed, unplaced
    for (const auto& r : SolucValida(dir.path(), false)) {
        const std::string& asig = r.at("ASIG");
        auto& cuenta = porAsig[r.at("TAREA").empty() ? asig : r.at("TAREA")];
        (r.at("DIA") != "0" ? cuenta.first : cuenta.second)++;
        EXPECT_EQ(r.at("PROF"), asig == "FIX" ? "X9" : asig == "LAB" ? "X8" : "T1") << asig;
    }
    const std::map<std::string, std::pair<int, int>> esperado = {
        {"MAT", {3, 0}}, {"ANG", {7, 1}}, {"FIX", {0, 1}}, {"LAB", {2, 0}}, {"GUARDIA", {0, 3}}};
    EXPECT_EQ(porAsig, esperado);
}

// Usage errors exit with 2 and show the usage; requests that cannot be met exit with 1 and say
// why; neither writes anything. The tables go to --dir, or else to the default directory.
TEST_F(CentroTest, ProgramWritesTheChosenDirectoryAndReportsErrors)
{
    test::TempDir otro;
    int codigo = 0;
    std::ostringstream out, err;
    const auto ejecutar = [&](const std::vector<std::string>& args, const fs::path& porDefecto) {
        out.str("");
        err.str("");
        codigo = EjecutarVelorinSim(args, out, err, porDefecto);
    };
    const fs::path malo = dir / "malo";
    fs::create_directory(malo);
    Escribir(malo, "DIASHORAST", {"DIA", "HORA"}, {{"lunes", "1"}});
    const std::string uso = "Sustituto de Velorin para pruebas";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> fallos = {
        {{}, 2, uso},
        {{"resolver"}, 2, uso},
        {{"diashoras", "--periodos"}, 2, uso},
        {{"diashoras", "--periodos", "5x"}, 2, uso},
        {{"diashoras", "--dir", ""}, 2, uso},
        {{"soluc", "--periodos", "5"}, 2, uso},
        {{"soluc", "--desconocida"}, 2, uso},
        {{"diashoras", "--periodos", "0"}, 1, "periodos"},
        {{"diashoras", "--periodos", "13"}, 1, "periodos"},
        // The import leaves DIASHORAST empty: nothing to place sessions in.
        {{"soluc", "--dir", work.string()}, 1, "DIASHORAST"},
        {{"soluc", "--dir", (dir / "no-existe").string()}, 1, ""},
        {{"soluc", "--dir", malo.string()}, 1, "lunes"}};
    for (const auto& [args, esperado, causa] : fallos) {
        ejecutar(args, otro.path());
        EXPECT_EQ(codigo, esperado) << ::testing::PrintToString(args);
        EXPECT_EQ(out.str(), "");
        EXPECT_NE(err.str().find(causa), std::string::npos) << err.str();
    }
    ejecutar({"--help"}, otro.path());
    EXPECT_EQ(codigo, 0);
    EXPECT_NE(out.str().find("velorin-sim soluc"), std::string::npos);

    ejecutar({"diashoras", "--periodos", "3", "--medias"}, work);
    EXPECT_EQ(codigo, 0) << err.str();
    EXPECT_NE(out.str().find("30 registros"), std::string::npos) << out.str();
    EXPECT_EQ(Leer(work, "DIASHORAST").size(), 30u);
    ejecutar({"soluc", "--medias", "--dir", work.string()}, otro.path());
    EXPECT_EQ(codigo, 0) << err.str();
    EXPECT_TRUE(fs::is_empty(otro.path()));
    EXPECT_TRUE(std::ranges::any_of(SolucValida(work, true), Media));
}

} // namespace
} // namespace zendral::host
