#include "host/Velorin.h"

#include "access/DbfTable.h"
#include "access/Error.h"
#include "access/XmlDocument.h"
#include "export/Exportacion.h"
#include "host/VelorinSim.h"
#include "import/Importacion.h"
#include "tests/support/DbfRead.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TempDir.h"

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
        Registro r;
        for (const auto& f : t.Fields()) {
            r[f.name] = t.FieldByName(f.name).AsString();
        }
        filas.push_back(r);
    }
    t.Close();
    return filas;
}

std::vector<std::tuple<std::string, char, int>> Estructura(const fs::path& dir, const std::string& tabla)
{
    dbf::Table t("prueba", dir, tabla);
    t.Open();
    std::vector<std::tuple<std::string, char, int>> campos;
    for (const auto& f : t.Fields()) {
        campos.emplace_back(f.name, f.type, f.width);
    }
    t.Close();
    return campos;
}

// "08:55" -> 535.
int Minutos(const std::string& hhmm)
{
    EXPECT_TRUE(hhmm.size() == 5 && hhmm[2] == ':') << hhmm;
    return std::stoi(hhmm.substr(0, 2)) * 60 + std::stoi(hhmm.substr(3, 2));
}

struct Fila
{
    int dia;
    double hora;
    std::string prof, grupo, aula, asig, tarea;
};

std::vector<Fila> LeerSoluc(const fs::path& dir)
{
    dbf::Table t("prueba", dir, "SOLUC");
    t.Open();
    std::vector<Fila> filas;
    for (t.First(); !t.Eof(); t.Next()) {
        filas.push_back({t.FieldByName("DIA").AsInteger(), t.FieldByName("HORA").AsFloat(),
                         t.FieldByName("PROF").AsString(), t.FieldByName("CODGRUPO").AsString(),
                         t.FieldByName("AULA").AsString(), t.FieldByName("ASIG").AsString(),
                         t.FieldByName("TAREA").AsString()});
    }
    t.Close();
    return filas;
}

struct Salida
{
    int codigo;
    std::string out;
    std::string err;
};

Salida Ejecutar(const std::vector<std::string>& args, const fs::path& porDefecto)
{
    std::ostringstream out, err;
    const int codigo = EjecutarVelorinSim(args, out, err, porDefecto);
    return {codigo, out.str(), err.str()};
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

struct CasoDias
{
    int periodos;
    bool medias;
};

TEST_F(CentroTest, DaysAndHoursCoverTheWeekWithUniqueKeysAndConsecutiveTimes)
{
    const auto estructuraImportacion = Estructura(work, "DIASHORAST");
    const std::vector<CasoDias> casos = {{1, false},  {3, false}, {8, false},
                                         {12, false}, {4, true},  {12, true}};
    const char* nombres[] = {"Dilluns", "Dimarts", "Dimecres", "Dijous", "Divendres"};
    for (const auto& caso : casos) {
        SCOPED_TRACE("periodos " + std::to_string(caso.periodos) + (caso.medias ? " con medias" : ""));
        // A larger fill first: the table is rewritten, not added to.
        LlenarDiasHoras(work, 12, true);
        LlenarDiasHoras(work, caso.periodos, caso.medias);
        EXPECT_EQ(Estructura(work, "DIASHORAST"), estructuraImportacion);

        const int n = caso.medias ? 2 * caso.periodos : caso.periodos;
        const int duracion = caso.medias ? 30 : 55;
        const int recreoTras = caso.medias ? 6 : 3;
        const auto filas = Leer(work, "DIASHORAST");
        ASSERT_EQ(filas.size(), static_cast<std::size_t>(5 * n));
        std::set<std::string> claves;
        std::map<std::pair<int, int>, std::pair<int, int>> horario;
        for (const auto& r : filas) {
            EXPECT_TRUE(claves.insert(r.at("DIHO")).second) << "clave repetida " << r.at("DIHO");
            EXPECT_EQ(r.at("CODDIHO"), r.at("DIHO"));
            EXPECT_EQ(r.at("DIHO"), r.at("DIA") + r.at("HORA"));
            const int dia = std::stoi(r.at("DIA"));
            const int hora = std::stoi(r.at("HORA"));
            ASSERT_TRUE(dia >= 1 && dia <= 5) << r.at("DIA");
            EXPECT_EQ(r.at("TEXTODIA"), nombres[dia - 1]);
            EXPECT_EQ(r.at("MINUTOS"), std::to_string(duracion));
            const int desde = Minutos(r.at("HORADESDE"));
            const int hasta = Minutos(r.at("HORAHASTA"));
            EXPECT_EQ(hasta - desde, duracion) << r.at("DIHO");
            horario[{dia, hora}] = {desde, hasta};
        }
        for (int dia = 1; dia <= 5; ++dia) {
            EXPECT_EQ(horario[std::make_pair(dia, 1)].first, 8 * 60);
            for (int hora = 1; hora <= n; ++hora) {
                EXPECT_TRUE(horario.count(std::make_pair(dia, hora))) << dia << "/" << hora << " falta";
                if (hora > 1) {
                    const int hueco = horario[std::make_pair(dia, hora)].first -
                                      horario[std::make_pair(dia, hora - 1)].second;
                    EXPECT_EQ(hueco, hora - 1 == recreoTras ? 30 : 0) << dia << "/" << hora;
                }
            }
        }
    }
}

TEST_F(CentroTest, ImpossibleRequestsAreRefused)
{
    for (int periodos : {0, -1, 13}) {
        EXPECT_THROW(LlenarDiasHoras(work, periodos, false), Error) << periodos;
    }
    // The import leaves DIASHORAST empty: nothing to place sessions in.
    EXPECT_THROW(GenerarSoluc(work, {}), Error);
    EXPECT_THROW(GenerarSoluc(dir / "no-existe", {}), Error);

    dbf::Table t("prueba", work, "DIASHORAST");
    t.Open();
    t.Append();
    t.FieldByName("DIA").SetAsString("lunes");
    t.FieldByName("HORA").SetAsString("1");
    t.Post();
    t.Close();
    try {
        GenerarSoluc(work, {});
        ADD_FAILURE() << "un DIA que no es un número se aceptó";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("lunes"), std::string::npos) << e.what();
    }
}

struct CasoSoluc
{
    int periodos;
    bool medias;
    bool cabeTodo; // every group has room for all its sessions
};

// The whole path on the sample: import, days and hours, SOLUC, and the timetable export.
TEST_F(CentroTest, SolutionRespectsGroupsTeachersRoomsAndExportsEverySession)
{
    const std::vector<CasoSoluc> casos = {
        {8, false, true}, {6, false, false}, {4, true, true}, {3, true, false}};
    const std::set<std::string> tareasCentro = {"GU", "REUDEP", "TUT"};
    std::set<std::string> profesores, aulas;
    for (const auto& r : Leer(work, "PROFT")) {
        profesores.insert(r.at("ABREV"));
    }
    for (const auto& r : Leer(work, "AULAT")) {
        aulas.insert(r.at("ABREV"));
    }
    std::map<std::pair<std::string, std::string>, int> pedidas;
    for (const auto& r : Leer(work, "ASIGT")) {
        pedidas[{r.at("CGRUP"), r.at("CASIG")}] += static_cast<int>(std::ceil(std::stod(r.at("HORAS"))));
    }
    ASSERT_FALSE(pedidas.empty());

    for (const auto& caso : casos) {
        SCOPED_TRACE("periodos " + std::to_string(caso.periodos) + (caso.medias ? " con medias" : ""));
        LlenarDiasHoras(work, caso.periodos, caso.medias);
        std::set<std::string> claves;
        for (const auto& r : Leer(work, "DIASHORAST")) {
            claves.insert(r.at("DIHO"));
        }
        Opciones opciones;
        opciones.medias = caso.medias;
        const Resumen resumen = GenerarSoluc(work, opciones);

        const auto filas = LeerSoluc(work);
        ASSERT_EQ(filas.size(), resumen.registros);
        std::set<std::tuple<int, double, std::string>> grupoEnHora, profEnHora, aulaEnHora;
        std::map<std::pair<std::string, std::string>, int> total, colocadas;
        std::map<std::string, int> horasGrupo;
        std::size_t sinColocar = 0, actividades = 0, conFraccion = 0;
        for (const auto& f : filas) {
            sinColocar += f.dia == 0;
            EXPECT_TRUE(profesores.count(f.prof)) << f.prof;
            if (!f.tarea.empty()) {
                EXPECT_TRUE(tareasCentro.count(f.tarea)) << f.tarea;
                EXPECT_EQ(f.grupo, "");
                actividades += f.dia != 0;
            } else {
                ++total[{f.grupo, f.asig}];
            }
            if (f.dia == 0) {
                continue;
            }
            const double fraccion = f.hora - std::trunc(f.hora);
            EXPECT_TRUE(fraccion == 0 || (caso.medias && fraccion == 0.5)) << f.hora;
            conFraccion += fraccion != 0;
            EXPECT_TRUE(claves.count(std::to_string(f.dia) + std::to_string(Periodo(f.hora, caso.medias))))
                << f.dia << " " << f.hora;
            EXPECT_TRUE(f.grupo.empty() || grupoEnHora.emplace(f.dia, f.hora, f.grupo).second)
                << "grupo " << f.grupo << " dos veces en " << f.dia << " " << f.hora;
            EXPECT_TRUE(profEnHora.emplace(f.dia, f.hora, f.prof).second)
                << "profesor " << f.prof << " dos veces en " << f.dia << " " << f.hora;
            EXPECT_TRUE(f.aula.empty() || aulaEnHora.emplace(f.dia, f.hora, f.aula).second)
                << "aula " << f.aula << " dos veces en " << f.dia << " " << f.hora;
            if (f.tarea.empty()) {
                EXPECT_TRUE(aulas.count(f.aula)) << f.aula;
                ++colocadas[{f.grupo, f.asig}];
                ++horasGrupo[f.grupo];
            }
        }
        EXPECT_EQ(caso.medias, conFraccion > 0);
        EXPECT_GE(sinColocar, 1u);
        EXPECT_EQ(sinColocar, resumen.sinColocar);
        EXPECT_EQ(actividades, resumen.actividades);
        EXPECT_EQ(actividades, 5u);

        // Every session of every line is written; a missing one only when its group's week is full.
        EXPECT_EQ(total, pedidas);
        std::size_t sumaColocadas = 0;
        for (const auto& [clave, n] : pedidas) {
            const int puestas = colocadas[clave];
            sumaColocadas += puestas;
            if (puestas < n) {
                EXPECT_EQ(horasGrupo[clave.first], static_cast<int>(claves.size()))
                    << clave.first << " " << clave.second << ": " << puestas << " de " << n;
            }
        }
        EXPECT_EQ(sumaColocadas, resumen.colocadas);
        EXPECT_EQ(caso.cabeTodo, resumen.colocadas == resumen.sesiones);

        EstadoProceso estado;
        test::ScriptedPrompter prompter;
        prompter.archivo = dir.path();
        Exportacion exportacion(estado, prompter, work);
        ASSERT_EQ(exportacion.BImportarClick(), FinRun::Completado);
        const auto doc = xml::Document::load(exportacion.Salida());
        const auto sesiones = doc.selectNodes("/HORARI/SESSIONS/SESSIO");
        EXPECT_EQ(sesiones.length(), filas.size() - sinColocar);
        for (const auto& s : sesiones) {
            EXPECT_FALSE(xml::AttributeText(s, "dia").empty());
            EXPECT_FALSE(xml::AttributeText(s, "hora").empty());
            EXPECT_EQ(xml::AttributeText(s, "durada"), caso.medias ? "30" : "55");
            EXPECT_FALSE(xml::AttributeText(s, "placa").empty());
            if (xml::AttributeText(s, "activitat").empty()) {
                EXPECT_FALSE(xml::AttributeText(s, "grup").empty());
                EXPECT_FALSE(xml::AttributeText(s, "materia").empty());
                EXPECT_FALSE(xml::AttributeText(s, "aula").empty());
            }
        }
    }
}

// The same tables give the same bytes, in a table another dBase reader takes as it is.
TEST_F(CentroTest, SolutionIsRepeatableAndReadableElsewhere)
{
    LlenarDiasHoras(work, 7, true);
    const Resumen resumen = GenerarSoluc(work, {});
    const std::string primera = test::ReadFile(work / "SOLUC.DBF");
    GenerarSoluc(work, {});
    EXPECT_EQ(test::ReadFile(work / "SOLUC.DBF"), primera);

    const auto leida = test::DbfRead(work / "SOLUC.DBF");
    const std::vector<std::string> campos = {"DIA:N:11:0", "HORA:N:20:4", "PROF:C:4:0",  "CODGRUPO:C:4:0",
                                             "AULA:C:4:0", "ASIG:C:4:0",  "TAREA:C:10:0"};
    EXPECT_EQ(leida.fields, campos);
    EXPECT_EQ(leida.records.size(), resumen.registros);
}

// Writes a table of text fields (width 4) plus, when `horas` is given, a HORAS number per record.
void Escribir(const fs::path& dir, const std::string& nombre, const std::vector<std::string>& campos,
              const std::vector<std::vector<std::string>>& registros, const std::vector<double>& horas = {})
{
    dbf::Table t(nombre, dir, nombre);
    for (const auto& campo : campos) {
        t.AddFieldDef(campo, dbf::FieldType::String, 4);
    }
    t.AddFieldDef(horas.empty() ? "ESTAREA" : "HORAS",
                  horas.empty() ? dbf::FieldType::Boolean : dbf::FieldType::Float);
    t.CreateTable();
    t.Open();
    for (std::size_t i = 0; i < registros.size(); ++i) {
        t.Append();
        for (std::size_t c = 0; c < campos.size(); ++c) {
            t.FieldByName(campos[c]).SetAsString(registros[i][c]);
        }
        if (!horas.empty()) {
            t.FieldByName("HORAS").SetAsFloat(horas[i]);
        }
        t.Post();
    }
    t.Close();
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
    Escribir(dir.path(), "ASIGNOMT", {"CODI"}, {});
    Escribir(dir.path(), "ASIGT", {"CASIG", "CPROF", "CGRUP", "CAULA"},
             {{"MAT", "", "G1", ""},
              {"ANG", "", "G2", ""},
              {"FIX", "X9", "G1", "A1"},
              {"LAB", "X8", "G3", ""},
              {"CERO", "", "G3", ""},
              {"NEG", "", "G3", ""}},
             {2.5, 8, 1, 2, 0, -2});

    Opciones opciones;
    opciones.actividades = 2;
    const Resumen r = GenerarSoluc(dir.path(), opciones);
    EXPECT_EQ(r.lineas, 6u);
    EXPECT_EQ(r.sesiones, 14u);
    EXPECT_EQ(r.colocadas, 12u);
    EXPECT_EQ(r.actividades, 0u);
    EXPECT_EQ(r.sinColocar, 5u);
    EXPECT_EQ(r.registros, 17u);

    std::map<std::string, std::pair<int, int>> porAsig; // placed, unplaced
    std::set<std::tuple<int, double, std::string>> ocupados;
    for (const auto& f : LeerSoluc(dir.path())) {
        auto& cuenta = porAsig[f.tarea.empty() ? f.asig : f.tarea];
        (f.dia != 0 ? cuenta.first : cuenta.second)++;
        if (f.dia == 0) {
            EXPECT_EQ(f.hora, 0.0);
            continue;
        }
        EXPECT_TRUE(f.hora == 1.0 || f.hora == 2.0) << f.hora;
        for (const auto& quien : {f.prof, "grupo " + f.grupo, "aula " + f.aula}) {
            EXPECT_TRUE(quien.back() == ' ' || ocupados.emplace(f.dia, f.hora, quien).second)
                << quien << " dos veces en " << f.dia << " " << f.hora;
        }
        const std::map<std::string, std::string> profEsperado = {{"FIX", "X9"}, {"LAB", "X8"}};
        EXPECT_EQ(f.prof, profEsperado.count(f.asig) ? profEsperado.at(f.asig) : "T1") << f.asig;
    }
    const std::map<std::string, std::pair<int, int>> esperado = {
        {"MAT", {3, 0}}, {"ANG", {7, 1}}, {"FIX", {0, 1}}, {"LAB", {2, 0}}, {"GUARDIA", {0, 3}}};
    EXPECT_EQ(porAsig, esperado);
}

TEST(VelorinSimTest, UsageErrorsExitWithTwo)
{
    test::TempDir dir;
    const std::vector<std::vector<std::string>> malos = {
        {},
        {"resolver"},
        {"diashoras", "--periodos"},
        {"diashoras", "--periodos", "x"},
        {"diashoras", "--periodos", "5x"},
        {"diashoras", "--dir"},
        {"diashoras", "--dir", ""},
        {"soluc", "--periodos", "5"},
        {"soluc", "extra"},
        {"soluc", "--desconocida"},
    };
    for (const auto& args : malos) {
        const Salida s = Ejecutar(args, dir.path());
        EXPECT_EQ(s.codigo, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(s.out, "");
        EXPECT_NE(s.err.find("Sustituto de Velorin para pruebas"), std::string::npos);
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
    const Salida ayuda = Ejecutar({"--help"}, dir.path());
    EXPECT_EQ(ayuda.codigo, 0);
    EXPECT_NE(ayuda.out.find("velorin-sim soluc"), std::string::npos);
}

TEST_F(CentroTest, ProgramWritesTablesInTheChosenDirectoryAndReportsFailures)
{
    test::TempDir otro;
    // Without --dir the default directory receives the table.
    Salida s = Ejecutar({"diashoras", "--periodos", "3", "--medias"}, work);
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.out.find("30 registros"), std::string::npos) << s.out;
    EXPECT_EQ(Leer(work, "DIASHORAST").size(), 30u);

    s = Ejecutar({"soluc", "--medias", "--dir", work.string()}, otro.path());
    EXPECT_EQ(s.codigo, 0) << s.err;
    EXPECT_TRUE(fs::is_empty(otro.path()));
    bool conFraccion = false;
    for (const auto& f : LeerSoluc(work)) {
        conFraccion = conFraccion || f.hora != std::trunc(f.hora);
    }
    EXPECT_TRUE(conFraccion);

    s = Ejecutar({"diashoras", "--periodos", "13", "--dir", work.string()}, otro.path());
    EXPECT_EQ(s.codigo, 1);
    EXPECT_NE(s.err.find("periodos"), std::string::npos) << s.err;
    s = Ejecutar({"soluc"}, otro.path());
    EXPECT_EQ(s.codigo, 1);
    EXPECT_NE(s.err.find("DIASHORAST"), std::string::npos) << s.err;
}

} // namespace
} // namespace zendral::host
