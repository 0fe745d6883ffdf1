#include "Sistema.h"

#include "TempDir.h"
#include "WorkDir.h"

#include <filesystem>
#include <gtest/gtest.h>

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

} // namespace
} // namespace zendral::sistema
