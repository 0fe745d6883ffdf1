#include "Sistema.h"

#include "Cerrojos.h"
#include "Corte.h"
#include "Error.h"
#include "IniFile.h"
#include "TempDir.h"
#include "WorkDir.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
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

// Velorin.ini under Program Files has Windows' copy for Velorin in the user's VirtualStore, under
// the same path without the drive; elsewhere it has none. Run with a LOCALAPPDATA of the test's
// own, and with the failure hook for the rights a user lacks there (Wine has none to lack).
TEST(SistemaTest, VirtualStoreCopyOfFilesUnderProgramFiles)
{
#ifdef _WIN32
    test::TempDir local;
    std::wstring antes(32768, L'\0');
    antes.resize(GetEnvironmentVariableW(L"LOCALAPPDATA", antes.data(), static_cast<DWORD>(antes.size())));
    ASSERT_TRUE(SetEnvironmentVariableW(L"LOCALAPPDATA", local.path().c_str()));
    struct Restaurar
    {
        std::wstring valor;
        ~Restaurar() { SetEnvironmentVariableW(L"LOCALAPPDATA", valor.empty() ? nullptr : valor.c_str()); }
    } restaurar{antes};

    const fs::path tienda = local.path() / L"VirtualStore";
    EXPECT_EQ(CopiaVirtualizada(L"C:\\Program Files (x86)\\Velorin\\Velorin.ini"),
              tienda / L"Program Files (x86)\\Velorin\\Velorin.ini");
    EXPECT_EQ(CopiaVirtualizada(L"C:\\Program Files\\Velorin\\..\\V\\Velorin.ini"),
              tienda / L"Program Files\\V\\Velorin.ini");
    EXPECT_FALSE(CopiaVirtualizada(L"c:\\program files\\Velorin\\Velorin.ini").empty());
    EXPECT_EQ(CopiaVirtualizada(L"C:\\VTEMP\\Velorin.ini"), fs::path());
    EXPECT_EQ(CopiaVirtualizada(L"C:\\Program Files Velorin\\Velorin.ini"), fs::path());

    // The whole rule on a real folder under Program Files: no rights, no copy yet.
    const fs::path carpeta = fs::path(L"C:\\Program Files (x86)") / local.path().filename();
    ASSERT_TRUE(fs::create_directories(carpeta));
    struct Borrar
    {
        fs::path carpeta;
        ~Borrar()
        {
            std::error_code ec;
            fs::remove_all(carpeta, ec);
        }
    } borrar{carpeta};
    const fs::path real = carpeta / "Velorin.ini";
    const std::string contenido = "[Velorin]\r\nRuta=C:\\VTEMP\r\n";
    {
        std::ofstream(real, std::ios::binary) << contenido;
        test::FalloInyectado sinDerechos(EACCES, {"open"});
        sinDerechos.SoloPara(real);
        ini::WriteInteger(real, "Transformadores", "Transformado", -1);
    }
    EXPECT_EQ(test::ReadFile(real), contenido);
    const fs::path copia = tienda / L"Program Files (x86)" / carpeta.filename() / "Velorin.ini";
    EXPECT_EQ(test::ReadFile(copia), contenido + "[Transformadores]\r\nTransformado=-1\r\n");
    // With the rights back, the file and the copy Velorin reads both change.
    ini::WriteInteger(real, "Transformadores", "Transformado", 1);
    EXPECT_EQ(test::ReadFile(real), contenido + "[Transformadores]\r\nTransformado=1\r\n");
    EXPECT_EQ(test::ReadFile(copia), contenido + "[Transformadores]\r\nTransformado=1\r\n");
#else
    EXPECT_EQ(CopiaVirtualizada("/opt/Velorin/Velorin.ini"), fs::path());
#endif
}

} // namespace
} // namespace zendral::sistema
