#include "IniFile.h"

#include "Corte.h"
#include "Error.h"
#include "TempDir.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <string>

namespace zendral
{
namespace
{

struct CasoIni
{
    const char* nombre;
    std::string antes;
    std::string seccion;
    std::string clave;
    std::string despues;
};

const std::string kS = "Transformadores";
const std::string kK = "Transformado";

// Setting one key to "1": only that value changes; a missing section or key is added with the
// file's own line ends.
TEST(IniFile, SetValueChangesOnlyTheKey)
{
    const CasoIni casos[] = {
        {"archivo vacio", "", kS, kK, "[Transformadores]\r\nTransformado=1\r\n"},
        {"falta la seccion, LF", "[Velorin]\nRuta=C:\\V\n", kS, kK,
         "[Velorin]\nRuta=C:\\V\n[Transformadores]\nTransformado=1\n"},
        {"falta la seccion, sin salto final", "[Velorin]\r\nRuta=C:\\V", kS, kK,
         "[Velorin]\r\nRuta=C:\\V\r\n[Transformadores]\r\nTransformado=1\r\n"},
        {"solo comentarios", "; nada\r\n", kS, kK, "; nada\r\n[Transformadores]\r\nTransformado=1\r\n"},
        {"cambia el valor y nada mas",
         "; Velorin\r\n[General]\r\nTransformado=7\r\n\r\n[Transformadores]\r\n; ultimo\r\n"
         "Otra = x \r\nTransformado=0\r\nSigue=2\r\n\r\n[Fin]\r\nA=1",
         kS, kK,
         "; Velorin\r\n[General]\r\nTransformado=7\r\n\r\n[Transformadores]\r\n; ultimo\r\n"
         "Otra = x \r\nTransformado=1\r\nSigue=2\r\n\r\n[Fin]\r\nA=1"},
        {"mayusculas distintas conservan su forma", "[TRANSFORMADORES]\nTRANSFORMADO = -1\n", kS, kK,
         "[TRANSFORMADORES]\nTRANSFORMADO =1\n"},
        {"nombres con blancos alrededor", "  [ transformadores ]  \n\ttransformado\t=9\n", kS, kK,
         "  [ transformadores ]  \n\ttransformado\t=1\n"},
        {"clave nueva tras la ultima linea de la seccion", "[Transformadores]\r\nOtra=1\r\n\r\n[Fin]\r\n", kS,
         kK, "[Transformadores]\r\nOtra=1\r\nTransformado=1\r\n\r\n[Fin]\r\n"},
        {"seccion vacia al final sin salto", "[Transformadores]", kS, kK,
         "[Transformadores]\r\nTransformado=1\r\n"},
        {"un comentario no es la clave", "[Transformadores]\n;Transformado=5\n", kS, kK,
         "[Transformadores]\n;Transformado=5\nTransformado=1\n"},
        {"solo la primera seccion y la primera clave",
         "[Transformadores]\nTransformado=2\nTransformado=3\n[Transformadores]\nTransformado=4\n", kS, kK,
         "[Transformadores]\nTransformado=1\nTransformado=3\n[Transformadores]\nTransformado=4\n"},
        {"la clave de otra seccion no cuenta", "[Otra]\nTransformado=2\n[Transformadores]\n", kS, kK,
         "[Otra]\nTransformado=2\n[Transformadores]\nTransformado=1\n"},
        {"marca de orden de bytes", "\xEF\xBB\xBF[Transformadores]\nTransformado=0\n", kS, kK,
         "\xEF\xBB\xBF[Transformadores]\nTransformado=1\n"},
        // windows-1252 letters fold with their accented capitals.
        {"acentos en windows-1252", "[Secci\xF3n]\nA\xD1O=0\n", "SECCI\xD3N", "a\xF1o",
         "[Secci\xF3n]\nA\xD1O=1\n"},
    };
    for (const auto& caso : casos) {
        EXPECT_EQ(ini::SetValue(caso.antes, caso.seccion, caso.clave, "1"), caso.despues) << caso.nombre;
    }
}

TEST(IniFile, WriteIntegerReplacesTheFile)
{
    test::TempDir dir;
    const auto ini = dir / "Velorin.ini";
    ini::WriteInteger(ini, "Transformadores", "Transformado", -1);
    EXPECT_EQ(test::ReadFile(ini), "[Transformadores]\r\nTransformado=-1\r\n");
    dir.write("Velorin.ini", "[Velorin]\nVersion=5\n");
    ini::WriteInteger(ini, "Transformadores", "Transformado", 1);
    EXPECT_EQ(test::ReadFile(ini), "[Velorin]\nVersion=5\n[Transformadores]\nTransformado=1\n");
    ini::WriteInteger(ini, "transformadores", "TRANSFORMADO", 0);
    EXPECT_EQ(test::ReadFile(ini), "[Velorin]\nVersion=5\n[Transformadores]\nTransformado=0\n");
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFile, FailedWriteKeepsTheOldFile)
{
    test::TempDir dir;
    const auto ini = dir.write("Velorin.ini", "[Transformadores]\nTransformado=1\n");
    // The replacement cannot be written (the disk is full): the old file stays as it was, and
    // nothing is left beside it.
    {
        test::FalloInyectado lleno(ENOSPC, {"write"});
        try {
            ini::WriteInteger(ini, "Transformadores", "Transformado", 0);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("Velorin.ini: no queda espacio en el disco"),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(test::ReadFile(ini), "[Transformadores]\nTransformado=1\n");
    EXPECT_TRUE(test::Temporales(dir.path().string()).empty());
    // A file that cannot be read is not replaced.
    std::filesystem::create_directory(dir / "carpeta.ini");
    EXPECT_THROW(ini::WriteInteger(dir / "carpeta.ini", "T", "K", 0), Error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "carpeta.ini"));
}

// Velorin.ini where Windows keeps Velorin's own copy of it (VirtualStore): the failure hook stands
// for the rights a user lacks under Program Files. Each file keeps the rest of its bytes.
TEST(IniFile, WritesTheCopyVelorinReads)
{
    struct Caso
    {
        const char* nombre;
        bool sinDerechos;
        const char* real; // nullptr: missing, before and after
        const char* copia;
        const char* realDespues;
        const char* copiaDespues;
    };
    const Caso casos[] = {
        {"con derechos y sin copia: solo el archivo", false, "[V]\r\nA=1\r\n", nullptr,
         "[V]\r\nA=1\r\n[Transformadores]\r\nTransformado=1\r\n", nullptr},
        {"con derechos y copia: los dos", false, "[V]\nA=1\n", "[Transformadores]\nTransformado=0\n;c\n",
         "[V]\nA=1\n[Transformadores]\nTransformado=1\n", "[Transformadores]\nTransformado=1\n;c\n"},
        {"sin derechos: la copia, hecha del archivo", true, "[V]\nA=1\n", nullptr, "[V]\nA=1\n",
         "[V]\nA=1\n[Transformadores]\nTransformado=1\n"},
        {"sin derechos ni archivo", true, nullptr, nullptr, nullptr,
         "[Transformadores]\r\nTransformado=1\r\n"},
        {"sin derechos y con copia: solo la copia", true, "[Transformadores]\nTransformado=7\n",
         "[Transformadores]\nTransformado=0\n;c\n", "[Transformadores]\nTransformado=7\n",
         "[Transformadores]\nTransformado=1\n;c\n"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nombre);
        test::TempDir dir;
        std::filesystem::create_directories(dir / "Velorin");
        const auto real = dir / "Velorin/Velorin.ini";
        const auto copia = dir / "VirtualStore/Velorin/Velorin.ini";
        if (caso.real) {
            dir.write("Velorin/Velorin.ini", caso.real);
        }
        if (caso.copia) {
            std::filesystem::create_directories(copia.parent_path());
            dir.write("VirtualStore/Velorin/Velorin.ini", caso.copia);
        }
        {
            std::optional<test::FalloInyectado> sinDerechos;
            if (caso.sinDerechos) {
                sinDerechos.emplace(EACCES, std::vector<std::string>{"open"});
                sinDerechos->SoloPara(real);
            }
            ini::WriteString(real, copia, "Transformadores", "Transformado", "1");
        }
        EXPECT_EQ(std::filesystem::exists(real), caso.realDespues != nullptr);
        if (caso.realDespues) {
            EXPECT_EQ(test::ReadFile(real), caso.realDespues);
        }
        EXPECT_EQ(std::filesystem::exists(copia), caso.copiaDespues != nullptr);
        if (caso.copiaDespues) {
            EXPECT_EQ(test::ReadFile(copia), caso.copiaDespues);
        }
        EXPECT_TRUE(test::Temporales(dir.path().string()).empty());
    }
}

// Neither the file nor its copy can be written: the message names both, and both stay as they were.
TEST(IniFile, FailedCopySaysWhereItTried)
{
    test::TempDir dir;
    const auto real = dir.write("Velorin.ini", "[Transformadores]\nTransformado=1\n");
    const auto copia = dir / "VirtualStore/Velorin.ini";
    try {
        test::FalloInyectado sinDerechos(EACCES, {"open", "mkdir"});
        ini::WriteString(real, copia, "Transformadores", "Transformado", "0");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        const std::string mensaje = e.what();
        EXPECT_NE(mensaje.find(real.string() + ": permiso denegado"), std::string::npos) << mensaje;
        EXPECT_NE(mensaje.find((dir / "VirtualStore").string()), std::string::npos) << mensaje;
    }
    EXPECT_EQ(test::ReadFile(real), "[Transformadores]\nTransformado=1\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "VirtualStore"));
}

} // namespace
} // namespace zendral
