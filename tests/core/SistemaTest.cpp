#include "Sistema.h"

#include "Cerrojos.h"
#include "Error.h"
#include "TempDir.h"
#include "WorkDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace zendral::sistema
{
namespace
{

namespace fs = std::filesystem;

TEST(SistemaTest, ExecutableFolderHoldsThisTestProgram)
{
    const fs::path carpeta = CarpetaEjecutable();
    ASSERT_TRUE(carpeta.is_absolute()) << carpeta;
#ifdef _WIN32
    EXPECT_TRUE(fs::is_regular_file(carpeta / "core_tests.exe")) << carpeta;
#else
    EXPECT_TRUE(fs::is_regular_file(carpeta / "core_tests")) << carpeta;
#endif
}

// $ZENDRAL_DIR wins over the fixed folder; an empty one counts as unset.
TEST(SistemaTest, WorkingDirectoryIsTheChosenOneOrVelorinsFixedFolder)
{
    EXPECT_EQ(ResolveWorkingDirectory("/datos/vtemp", "/prefijo", "/home/ana"), fs::path("/datos/vtemp"));
#ifdef _WIN32
    for (const char* dir : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(ResolveWorkingDirectory(dir, "/prefijo", "/home/ana"), fs::path(L"C:\\VTEMP"));
    }
#else
    for (const char* dir : {static_cast<const char*>(nullptr), ""}) {
        EXPECT_EQ(ResolveWorkingDirectory(dir, "/prefijo", "/home/ana"), fs::path("/prefijo/drive_c/VTEMP"));
        EXPECT_EQ(ResolveWorkingDirectory(dir, "", "/home/ana"), fs::path("/home/ana/.wine/drive_c/VTEMP"));
        EXPECT_EQ(ResolveWorkingDirectory(dir, nullptr, "/home/ana"),
                  fs::path("/home/ana/.wine/drive_c/VTEMP"));
    }
#endif
}

// A name outside the ANSI code page of Windows (€ beside à) comes through UTF-8 whole.
TEST(SistemaTest, PathsFromUtf8KeepEveryCharacter)
{
    test::TempDir dir;
    const fs::path carpeta = dir.path() / RutaUtf8("Dàdes €");
    ASSERT_TRUE(fs::create_directory(carpeta));
    dir.write("Dàdes €/centre €.xml", "<CENTRE/>");
    EXPECT_EQ(test::ReadFile(carpeta / RutaUtf8("centre €.xml")), "<CENTRE/>");
    EXPECT_TRUE(carpeta.filename().u8string() == u8"Dàdes €");
}

std::string ErrorDeRun(const fs::path& dir, bool escribe)
{
    try {
        const CerrojoRun run(dir, {"PROFT.DBF"}, escribe);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Our own opens share everything, so they never keep a table from being replaced. On Windows a
// program that opened a table without sharing deletion (the default there) keeps a run that would
// replace it from starting: the rename would fail half-way through the run. Reading it is fine.
TEST(SistemaTest, OpenThatForbidsReplacingATableStopsARunBeforeItStarts)
{
    test::TempDir dir;
    const fs::path tabla = dir.write("PROFT.DBF", "tabla");
    const int fd = Abrir(tabla, Apertura::LecturaEscritura);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(ReemplazoImpedido(tabla));
    Cerrar(fd);
#ifdef _WIN32
    const HANDLE h = CreateFileW(tabla.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ReemplazoImpedido(tabla));
    EXPECT_EQ(ErrorDeRun(dir.path(), true), "La tabla PROFT está en uso por otro programa");
    EXPECT_EQ(ErrorDeRun(dir.path(), false), "");
    CloseHandle(h);
    EXPECT_FALSE(ReemplazoImpedido(tabla));
#endif
    EXPECT_EQ(ErrorDeRun(dir.path(), true), "");
    EXPECT_EQ(test::ReadFile(tabla), "tabla");
}

} // namespace
} // namespace zendral::sistema

// Errors of the standard library that reach a front end read in Spanish, naming the files.
TEST(SistemaTest, SystemErrorsReachTheUserInSpanish)
{
    zendral::test::TempDir dir;
    const auto existe = dir.write("a.txt", "x");
    std::string texto;
    try {
        std::filesystem::create_directory(existe / "b");
    } catch (const std::exception& e) {
        texto = zendral::MensajeDeExcepcion(e);
    }
    EXPECT_EQ(texto.rfind("Error del sistema con " + (existe / "b").string() + ": ", 0), 0u) << texto;
    EXPECT_EQ(texto.find("Not a directory"), std::string::npos) << texto;

    const std::filesystem::filesystem_error existente("File exists", existe, existe,
                                                      std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(zendral::MensajeDeExcepcion(existente), "Error del sistema con " + existe.string() + " y " +
                                                          existe.string() +
                                                          ": ya existe un archivo con ese nombre");
    const std::system_error soloLectura(std::make_error_code(std::errc::read_only_file_system));
    EXPECT_EQ(zendral::MensajeDeExcepcion(soloLectura),
              "Error del sistema: el sistema de archivos es de solo lectura");
    EXPECT_EQ(zendral::MensajeDeExcepcion(std::bad_alloc()),
              "No queda memoria suficiente para terminar el proceso");
    EXPECT_EQ(zendral::MensajeDeExcepcion(std::logic_error("x")), "Error inesperado: x");
}
