// The comparison of two table sets on small hand-made tables: records with the same GestIB code
// paired in order, tables without codes compared as bags of whole records, tables that come or go.
#include "Comparacion.h"

#include "TablaPrueba.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace zendral::comparacion
{
namespace
{

namespace fs = std::filesystem;

TEST(ComparacionTest, RepeatedCodesPairInOrderAndWholeRecordsCountAsABag)
{
    test::TempDir dir;
    const fs::path antes = dir / "antes";
    const fs::path despues = dir / "despues";
    fs::create_directories(antes);
    fs::create_directories(despues);
    const std::vector<std::string> campos = {"ABREV", "NOMBRE", "CODI"};
    test::EscribirTabla(antes, tablas::kProft, campos,
                        {{"A", "Ana", "1"}, {"B", "Bel", "1"}, {"C", "Cati", "2"}});
    test::EscribirTabla(despues, tablas::kProft, campos,
                        {{"A", "Ana", "1"}, {"X", "Bel", "1"}, {"B", "Dani", "3"}});
    const std::vector<std::string> matib = {"ABREV", "NOMBRE"};
    test::EscribirTabla(antes, tablas::kMatib, matib, {{"M", "Mates"}, {"M", "Mates"}, {"F", "Física"}});
    test::EscribirTabla(despues, tablas::kMatib, matib, {{"M", "Mates"}, {"F", "Física"}, {"F", "Física"}});
    test::EscribirTabla(antes, tablas::kAulat, {"ABREV", "CODI"}, {{"Au", "9"}});

    const Comparacion c = Comparar(antes, despues);
    ASSERT_EQ(c.tablas.size(), 8u);
    EXPECT_EQ(c.Cuentas(""), "ASIGNOMT: no existe\n"
                             "PROFT: 1 abreviatura cambiada, 1 eliminado, 1 nuevo\n"
                             "AULAT: la tabla desaparece, 1 eliminado\n"
                             "CURSOST: no existe\nGRUPOST: no existe\n"
                             "MATIB: 1 eliminado, 1 nuevo\n"
                             "ASIGT: no existe\nDIASHORAST: no existe\n");
    EXPECT_EQ(c.Lista(),
              "Abreviaturas cambiadas (1)\n"
              "  - PROFT.ABREV, PLACA 1 (Bel), «B»: pasa a ser «X», y «B» es ahora de PLACA 3 (Dani): "
              "lo que Velorin tenga con «B» apunta a otro elemento\n"
              "PROFT: 1 abreviatura cambiada, 1 eliminado, 1 nuevo\n"
              "  - eliminado: PLACA 2 (Cati): ABREV «C», NOMBRE «Cati», CODI «2»\n"
              "  - nuevo: PLACA 3 (Dani): ABREV «B», NOMBRE «Dani», CODI «3»\n"
              "AULAT: la tabla desaparece, 1 eliminado\n"
              "MATIB: 1 eliminado, 1 nuevo\n"
              "  - eliminado: ABREV «M», NOMBRE «Mates»\n"
              "  - nuevo: ABREV «F», NOMBRE «Física»\n");
    const ListaAvisos avisos = c.AvisosAbreviaturas();
    ASSERT_EQ(avisos.size(), 1u);
    EXPECT_EQ(avisos.begin()->tipo, TipoAviso::Abreviatura);
    EXPECT_TRUE(Comparar(despues, despues).SinCambios());
}

} // namespace
} // namespace zendral::comparacion
