// What an import, a restore or a check would change in Velorin's tables: the sample centre against
// the same centre mid-year (a teacher inserted before another with the same initials, a room gone,
// a subject renamed, a group split), as zendral-cli tells it and as the tables then are.
#include "Comparacion.h"
#include "Copias.h"
#include "DbfRead.h"
#include "EjecutarCli.h"
#include "TempDir.h"
#include "Velorin.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>

namespace zendral::test
{
namespace
{

namespace fs = std::filesystem;

std::string Cambiar(std::string texto, const std::string& de, const std::string& a)
{
    const std::size_t donde = texto.find(de);
    EXPECT_NE(donde, std::string::npos) << de;
    return donde == std::string::npos ? texto : texto.replace(donde, de.size(), a);
}

std::string CentroCambiado()
{
    std::string t = ReadFile(kSamples / "centre.xml");
    t = Cambiar(
        t, "<PLACA codi=\"470102\"",
        "<PLACA codi=\"479999\" descripcio=\"Nou Mas, Joana\" curta=\"JOANA\"/><PLACA codi=\"470102\"");
    t = Cambiar(t, "<AULA codi=\"203\" descripcio=\"Sala d'actes\"/>", "");
    t = Cambiar(t, "descripcio=\"Matemàtiques\"", "descripcio=\"Matemàtiques I\"");
    return Cambiar(t, "<GRUP codi=\"235132\" nom=\"B\"/>",
                   "<GRUP codi=\"235133\" nom=\"B1\"/><GRUP codi=\"235134\" nom=\"B2\"/>");
}

// Every file under `dir`, zendral/ included, with its bytes.
std::map<std::string, std::string> Contenido(const fs::path& dir)
{
    std::map<std::string, std::string> archivos;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        archivos[fs::relative(e.path(), dir).string()] =
            e.is_regular_file() ? ReadFile(e.path()) : "(carpeta)";
    }
    return archivos;
}

// Each line of `texto` with `sangria` before it.
std::string Sangrar(const std::string& texto, const std::string& sangria)
{
    std::string sangrado;
    for (std::size_t a = 0, b; a < texto.size(); a = b + 1) {
        b = texto.find('\n', a);
        sangrado += sangria + texto.substr(a, b - a + 1);
    }
    return sangrado;
}

const std::string kCuentas =
    "  ASIGNOMT: 1 cambiado\n"
    "  PROFT: 2 abreviaturas cambiadas, 1 nuevo\n"
    "  AULAT: 1 eliminado\n"
    "  CURSOST: sin cambios\n"
    "  GRUPOST: 1 eliminado, 2 nuevos\n"
    "  MATIB: 1 eliminado, 1 nuevo\n"
    "  ASIGT: 6 eliminados, 12 nuevos\n"
    "  DIASHORAST: 40 eliminados\n"
    "  DIASHORAST se queda sin los 40 registros de días y horas que tenía: los pone "
    "Velorin, y habrá que volver a ponerlos en Velorin antes de exportar el horario.\n";

const std::string kJoan =
    "Aviso: Abreviaturas cambiadas: PROFT.ABREV, PLACA 470102 (Ferrer Mas, Joan), «JOAN»: "
    "pasa a ser «P1», y «JOAN» es ahora de PLACA 479999 (Nou Mas, Joana): lo que Velorin "
    "tenga con «JOAN» apunta a otro elemento\n";

class CambiosTest : public ::testing::Test
{
protected:
    CambiosTest()
    {
        fs::create_directory(work);
        EXPECT_EQ(Importar(kSamples / "centre.xml").codigo, 0);
    }

    Salida Importar(const fs::path& centre)
    {
        return Ejecutar({"exportar", centre.string(), "--dir", work.string(), "--cursos",
                         (kSamples / "cursos.csv").string()});
    }

    TempDir dir;
    fs::path work = dir / "VTEMP";
};

TEST_F(CambiosTest, CheckAndImportTellTheSameChangesAndTheCheckTouchesNothing)
{
    host::LlenarDiasHoras(work, 8, false);
    const fs::path centre = dir.write("cambiado.xml", CentroCambiado());
    const auto antes = Contenido(work);
    const auto s = Ejecutar({"comprobar", centre.string(), "--dir", work.string()});
    EXPECT_EQ(Contenido(work), antes);
    ASSERT_EQ(s.codigo, 0) << s.err;
    EXPECT_NE(s.out.find(kJoan), std::string::npos) << s.out;
    EXPECT_NE(s.out.find("3 avisos\n\nCambios respecto a las tablas actuales:\n" + kCuentas + "\n"),
              std::string::npos)
        << s.out;
    const std::string lista = s.out.substr(s.out.find(kCuentas) + kCuentas.size() + 1);
    for (const std::string linea : {
             "  - PROFT.ABREV, PLACA 470103 (Bauzà Vidal, Joan), «P1»: pasa a ser «P2», y «P1» es ahora de "
             "PLACA "
             "470102 (Ferrer Mas, Joan)",
             "  - cambiado: MATERIA 2063541 (Matemàtiques I): NOMBRE «Matemàtiques» → «Matemàtiques I»\n",
             "  - eliminado: AULA 203 (Sala d'actes): ABREV «Sala», NOMBRE «(203) Sala d'actes», CODI "
             "«203»\n",
             "  - eliminado: GRUP 235132 (4t d'ESO - B): ABREV «ES4B»,",
             "  - nuevo: GRUP 235134 (4t d'ESO - B2): ABREV «ESB2»,",
         }) {
        EXPECT_NE(lista.find(linea), std::string::npos) << linea << "\n" << lista;
    }
    // The abbreviation changes come first.
    EXPECT_EQ(lista.rfind("Abreviaturas cambiadas (2)\n", 0), 0u) << lista;
    const auto resumen = Ejecutar({"comprobar", centre.string(), "--dir", work.string(), "--resumen"});
    EXPECT_EQ(resumen.out.substr(resumen.out.size() - kCuentas.size()), kCuentas);

    // The import: counts against the copy it made, the same warning, the whole list in its report.
    const auto i = Importar(centre);
    ASSERT_EQ(i.codigo, 0) << i.err;
    EXPECT_NE(i.out.find("):\n" + Sangrar(kCuentas, "  ") + "  Informe: "), std::string::npos) << i.out;
    EXPECT_NE(i.err.find(kJoan), std::string::npos) << i.err;
    std::string informe = i.out.substr(i.out.rfind("  Informe: ") + 11);
    informe.pop_back();
    EXPECT_NE(ReadFile(informe).find(kCuentas + lista), std::string::npos) << ReadFile(informe);
}

TEST_F(CambiosTest, TheSameDocumentAgainChangesNothing)
{
    const auto s = Ejecutar({"comprobar", (kSamples / "centre.xml").string(), "--dir", work.string()});
    EXPECT_EQ(s.codigo, 0) << s.err;
    std::string nada;
    for (const auto& tabla : copias::Tablas()) {
        nada += tabla + ": sin cambios\n";
    }
    EXPECT_TRUE(s.out.ends_with("\nCambios respecto a las tablas actuales:\n" + Sangrar(nada, "  ")))
        << s.out;
    const auto i = Importar(kSamples / "centre.xml");
    EXPECT_NE(i.out.find("):\n" + Sangrar(nada, "    ") + "  Informe: "), std::string::npos) << i.out;
    EXPECT_EQ(i.err.find("Abreviaturas cambiadas"), std::string::npos) << i.err;
}

// The abbreviation of each GestIB code, as python3-dbfread reads the table (ABREV first, CODI last).
std::map<std::string, std::string> Abreviaturas(const fs::path& tabla)
{
    std::map<std::string, std::string> porCodigo;
    for (const std::string& r : DbfRead(tabla).records) {
        porCodigo[r.substr(r.rfind('|') + 1)] = r.substr(0, r.find('|'));
    }
    return porCodigo;
}

TEST_F(CambiosTest, WhatTheCopyComparisonSaysIsWhatTheRestoreDoes)
{
    ASSERT_EQ(Importar(dir.write("cambiado.xml", CentroCambiado())).codigo, 0);
    const auto s = Ejecutar({"copias", "--dir", work.string(), "--comparar"});
    ASSERT_EQ(s.codigo, 0) << s.err;
    const copias::Copia copia = copias::Elegir(work, "");
    EXPECT_EQ(s.out.rfind("Cambios que haría restaurar la copia " + copia.nombre + " (", 0), 0u) << s.out;
    const auto prevista = comparacion::CompararRestauracion(work, copia);
    EXPECT_NE(s.out.find(prevista.Cuentas("  ") + "\n" + prevista.Lista()), std::string::npos) << s.out;

    ASSERT_EQ(Ejecutar({"restaurar", copia.nombre, "--dir", work.string()}).codigo, 0);
    const copias::Copia previa = copias::Listar(work).front();
    ASSERT_EQ(previa.motivo, "antes de restaurar la copia " + copia.nombre);
    const auto hecha = comparacion::Comparar(previa.carpeta, work);
    EXPECT_EQ(hecha.Cuentas("") + hecha.Lista(), prevista.Cuentas("") + prevista.Lista());

    // The abbreviations that changed, as an independent reader finds them.
    for (const std::string tabla : {"PROFT", "AULAT"}) {
        const auto de = Abreviaturas(previa.carpeta / (tabla + ".DBF"));
        const auto a = Abreviaturas(work / (tabla + ".DBF"));
        std::set<std::string> leidas;
        for (const auto& [codigo, abreviatura] : de) {
            if (a.count(codigo) != 0 && a.at(codigo) != abreviatura) {
                leidas.insert(codigo + " " + abreviatura + ">" + a.at(codigo));
            }
        }
        std::set<std::string> dichas;
        for (const Aviso& aviso : prevista.AvisosAbreviaturas()) {
            if (aviso.tabla == tabla) {
                const std::size_t desde = aviso.elemento.find(' ') + 1;
                const std::string codigo =
                    aviso.elemento.substr(desde, aviso.elemento.find(' ', desde) - desde);
                dichas.insert(codigo + " " + aviso.valor + ">" + a.at(codigo));
            }
        }
        EXPECT_EQ(dichas, leidas) << tabla;
        EXPECT_EQ(dichas.size(), tabla == "PROFT" ? 2u : 0u) << tabla;
    }
}

} // namespace
} // namespace zendral::test
