#include "System.h"

#include "Corte.h"
#include "Error.h"
#include "ExternalTool.h"
#include "IniFile.h"
#include "RunLock.h"
#include "TempDir.h"
#include "WorkDir.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zendral::sys
{
namespace
{

namespace fs = std::filesystem;

TEST(SystemTest, ExecutableFolderHoldsThisTestProgram)
{
    const fs::path carpeta = ExecutableFolder();
    ASSERT_TRUE(carpeta.is_absolute()) << carpeta;
#ifdef _WIN32
    EXPECT_TRUE(fs::is_regular_file(carpeta / "core_tests.exe")) << carpeta;
#else
    EXPECT_TRUE(fs::is_regular_file(carpeta / "core_tests")) << carpeta;
#endif
}

// $ZENDRAL_DIR wins over the fixed folder; an empty one counts as unset.
TEST(SystemTest, WorkingDirectoryIsTheChosenOneOrVelorinsFixedFolder)
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
TEST(SystemTest, PathsFromUtf8KeepEveryCharacter)
{
    test::TempDir dir;
    const fs::path carpeta = dir.path() / PathFromUtf8("Dàdes €");
    ASSERT_TRUE(fs::create_directory(carpeta));
    dir.write("Dàdes €/centre €.xml", "<CENTRE/>");
    EXPECT_EQ(test::ReadFile(carpeta / PathFromUtf8("centre €.xml")), "<CENTRE/>");
    EXPECT_TRUE(carpeta.filename().u8string() == u8"Dàdes €");
}

std::string ErrorDeRun(const fs::path& dir, bool escribe)
{
    try {
        const RunLock run(dir, {"PROFT.DBF"}, escribe);
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

// Our own opens share everything, so they never keep a table from being replaced. On Windows a
// program that opened a table without sharing deletion (the default there) keeps a run that would
// replace it from starting: the rename would fail half-way through the run. Reading it is fine.
// (A hold that ends within about two seconds is waited out: see PassingHoldIsWaitedOut.)
TEST(SystemTest, OpenThatForbidsReplacingATableStopsARunBeforeItStarts)
{
    test::TempDir dir;
    const fs::path tabla = dir.write("PROFT.DBF", "tabla");
    const int fd = Open(tabla, OpenMode::ReadWrite);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(ReplaceBlocked(tabla));
    Close(fd);
#ifdef _WIN32
    const HANDLE h = CreateFileW(tabla.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(ReplaceBlocked(tabla));
    EXPECT_EQ(ErrorDeRun(dir.path(), true), "La tabla PROFT está en uso por otro programa");
    EXPECT_EQ(ErrorDeRun(dir.path(), false), "");
    CloseHandle(h);
    EXPECT_FALSE(ReplaceBlocked(tabla));
#endif
    EXPECT_EQ(ErrorDeRun(dir.path(), true), "");
    EXPECT_EQ(test::ReadFile(tabla), "tabla");
}

// ---- Passing holds (Windows) -----------------------------------------------------------------

// A helper process that holds a file open as another program would, then lets it go and ends.
// Its arguments: the file; "nada" to share nothing (no other open, rename or deletion) or
// "sin-borrado" to share reading and writing but not deletion (as scanners and most programs
// open files); how many milliseconds; and the file where it writes "K" once it holds the file
// ("E" when it could not open it). On Linux an open forbids nothing.
int HoldFile(const std::vector<std::string>& args)
{
    const fs::path archivo = test::PathArgument(args.at(0));
    const int ms = std::stoi(args.at(2));
#ifdef _WIN32
    const DWORD compartir = args.at(1) == "nada" ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const HANDLE h = CreateFileW(archivo.c_str(), GENERIC_READ, compartir, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool abierto = h != INVALID_HANDLE_VALUE;
#else
    const int fd = ::open(archivo.c_str(), O_RDONLY | O_CLOEXEC);
    const bool abierto = fd >= 0;
#endif
    std::ofstream(test::PathArgument(args.at(3)), std::ios::binary) << (abierto ? 'K' : 'E');
    if (!abierto) {
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
#ifdef _WIN32
    CloseHandle(h);
#else
    ::close(fd);
#endif
    return 0;
}
[[maybe_unused]] const bool kHoldFile = test::RegisterHelper("hold-file", HoldFile);

// Holds `archivo` from another process for `ms` milliseconds from the moment it is made; killed,
// if still holding, when it goes.
class Retencion
{
public:
    Retencion(const fs::path& archivo, const std::string& modo, int ms)
        : m_listo(archivo.parent_path() / ("listo-" + std::to_string(++s_cuenta)))
        , m_proceso("hold-file",
                    {test::ArgumentOf(archivo), modo, std::to_string(ms), test::ArgumentOf(m_listo)})
    {
        EXPECT_EQ(test::WaitForFile(m_listo), "K") << "the helper could not open " << archivo;
    }
    ~Retencion()
    {
        m_proceso.Kill();
        std::error_code ec;
        fs::remove(m_listo, ec);
    }
    int Esperar() { return m_proceso.Wait(); }

private:
    static inline int s_cuenta = 0;
    fs::path m_listo;
    test::HelperProcess m_proceso;
};

double Segundos(std::chrono::steady_clock::time_point desde)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - desde).count();
}

// A scanner or the indexer opening a freshly written file for a moment does not make opening,
// replacing or deleting it fail: the call waits the hold out.
TEST(SystemTest, PassingHoldIsWaitedOut)
{
    test::TempDir dir;
    for (const char* modo : {"nada", "sin-borrado"}) {
        SCOPED_TRACE(modo);
        const fs::path nuevo = dir.write("NUEVO.DBF", "nuevo");
        const fs::path tabla = dir.write("TABLA.DBF", "tabla");
        if (std::string(modo) == "nada") {
            // Opening: refused while the hold shares nothing.
            Retencion r(nuevo, modo, 300);
            const int fd = Open(nuevo, OpenMode::ReadWrite);
            EXPECT_GE(fd, 0) << errno;
            Close(fd);
        }
        {
            // Replacing with a held file.
            Retencion r(nuevo, modo, 300);
            EXPECT_EQ(Replace(nuevo, tabla), 0) << errno;
            EXPECT_EQ(test::ReadFile(tabla), "nuevo");
        }
        {
            // Replacing a held file.
            dir.write("NUEVO.DBF", "otro");
            Retencion r(tabla, modo, 300);
            EXPECT_FALSE(ReplaceBlocked(tabla));
            EXPECT_EQ(Replace(nuevo, tabla), 0) << errno;
            EXPECT_EQ(test::ReadFile(tabla), "otro");
        }
        {
            Retencion r(tabla, modo, 300);
            EXPECT_EQ(Remove(tabla), 0) << errno;
            EXPECT_FALSE(fs::exists(tabla));
        }
    }
}

// A hold that lasts is refused after about two seconds, as a file in use, with nothing changed.
// On Linux an open holds nothing back.
TEST(SystemTest, LastingHoldIsRefusedWithNothingChanged)
{
    test::TempDir dir;
    const fs::path nuevo = dir.write("NUEVO.DBF", "nuevo");
    const fs::path tabla = dir.write("TABLA.DBF", "tabla");
    {
        Retencion r(nuevo, "nada", 10000);
        auto desde = std::chrono::steady_clock::now();
        const int fd = Open(nuevo, OpenMode::ReadWrite);
#ifdef _WIN32
        EXPECT_EQ(fd, -1);
        EXPECT_EQ(errno, EAGAIN);
        EXPECT_GT(Segundos(desde), 1.5);
        EXPECT_LT(Segundos(desde), 6.0);
#else
        EXPECT_GE(fd, 0);
        EXPECT_LT(Segundos(desde), 1.0);
#endif
        if (fd >= 0) {
            Close(fd);
        }
#ifdef _WIN32
        desde = std::chrono::steady_clock::now();
        EXPECT_EQ(Replace(nuevo, tabla), -1);
        EXPECT_EQ(errno, EAGAIN);
        EXPECT_GT(Segundos(desde), 1.5);
        EXPECT_EQ(Remove(nuevo), -1);
        EXPECT_EQ(errno, EAGAIN);
        EXPECT_EQ(test::ReadFile(tabla), "tabla");
#endif
    }
    EXPECT_EQ(test::ReadFile(nuevo), "nuevo");
    {
        // The target held without sharing deletion: Windows answers "access denied", told as a
        // file in use all the same.
        Retencion r(tabla, "sin-borrado", 10000);
#ifdef _WIN32
        EXPECT_TRUE(ReplaceBlocked(tabla));
        EXPECT_EQ(Replace(nuevo, tabla), -1);
        EXPECT_EQ(errno, EAGAIN);
        EXPECT_EQ(Remove(tabla), -1);
        EXPECT_EQ(errno, EAGAIN);
        EXPECT_EQ(test::ReadFile(tabla), "tabla");
        EXPECT_EQ(test::ReadFile(nuevo), "nuevo");
#else
        EXPECT_FALSE(ReplaceBlocked(tabla));
        EXPECT_EQ(Replace(nuevo, tabla), 0);
        EXPECT_EQ(test::ReadFile(tabla), "nuevo");
#endif
    }
}

// What lasts on its own is not waited for: a folder, a missing file (a read-only file neither, but
// Wine run as root lets it be written). An injected failure is reported at once too, EAGAIN
// included, so fault sweeps stay fast.
TEST(SystemTest, LastingRefusalsAndInjectedFailuresAreNotWaitedFor)
{
    test::TempDir dir;
    const fs::path nuevo = dir.write("NUEVO.DBF", "nuevo");
    const fs::path tabla = dir.write("TABLA.DBF", "tabla");
    fs::create_directory(dir / "CARPETA");
    auto desde = std::chrono::steady_clock::now();
    EXPECT_EQ(Open(dir / "CARPETA", OpenMode::ReadWrite), -1);
    EXPECT_EQ(Open(dir / "FALTA.DBF", OpenMode::Read), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(Replace(dir / "FALTA.DBF", tabla), -1);
    EXPECT_EQ(Remove(dir / "FALTA.DBF"), 0);
    EXPECT_LT(Segundos(desde), 1.0);
    for (const int err : {EAGAIN, EACCES}) {
        test::FalloInyectado fallo(err);
        desde = std::chrono::steady_clock::now();
        EXPECT_EQ(Open(nuevo, OpenMode::ReadWriteCreate), -1);
        EXPECT_EQ(errno, err);
        EXPECT_EQ(Replace(nuevo, tabla), -1);
        EXPECT_EQ(errno, err);
        EXPECT_EQ(Remove(nuevo), -1);
        EXPECT_EQ(errno, err);
        EXPECT_LT(Segundos(desde), 0.5);
    }
    EXPECT_EQ(test::ReadFile(tabla), "tabla");
    EXPECT_EQ(test::ReadFile(nuevo), "nuevo");
}

// Velorin.ini under Program Files has Windows' copy for Velorin in the user's VirtualStore, under
// the same path without the drive; elsewhere it has none. Run with a LOCALAPPDATA of the test's
// own, and with the failure hook for the rights a user lacks there (Wine has none to lack).
TEST(SystemTest, VirtualStoreCopyOfFilesUnderProgramFiles)
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
    EXPECT_EQ(VirtualStoreCopy(L"C:\\Program Files (x86)\\Velorin\\Velorin.ini"),
              tienda / L"Program Files (x86)\\Velorin\\Velorin.ini");
    EXPECT_EQ(VirtualStoreCopy(L"C:\\Program Files\\Velorin\\..\\V\\Velorin.ini"),
              tienda / L"Program Files\\V\\Velorin.ini");
    EXPECT_FALSE(VirtualStoreCopy(L"c:\\program files\\Velorin\\Velorin.ini").empty());
    EXPECT_EQ(VirtualStoreCopy(L"C:\\VTEMP\\Velorin.ini"), fs::path());
    EXPECT_EQ(VirtualStoreCopy(L"C:\\Program Files Velorin\\Velorin.ini"), fs::path());

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
    EXPECT_EQ(VirtualStoreCopy("/opt/Velorin/Velorin.ini"), fs::path());
#endif
}

} // namespace
} // namespace zendral::sys

// Errors of the standard library that reach a front end read in Spanish, naming the files.
TEST(SystemTest, SystemErrorsReachTheUserInSpanish)
{
    zendral::test::TempDir dir;
    const auto existe = dir.write("a.txt", "x");
    std::string texto;
    try {
        std::filesystem::create_directory(existe / "b");
    } catch (const std::exception& e) {
        texto = zendral::ExceptionMessage(e);
    }
    EXPECT_EQ(texto.rfind("Error del sistema con " + (existe / "b").string() + ": ", 0), 0u) << texto;
    EXPECT_EQ(texto.find("Not a directory"), std::string::npos) << texto;

    const std::filesystem::filesystem_error existente("File exists", existe, existe,
                                                      std::make_error_code(std::errc::file_exists));
    EXPECT_EQ(zendral::ExceptionMessage(existente), "Error del sistema con " + existe.string() + " y " +
                                                        existe.string() +
                                                        ": ya existe un archivo con ese nombre");
    const std::system_error soloLectura(std::make_error_code(std::errc::read_only_file_system));
    EXPECT_EQ(zendral::ExceptionMessage(soloLectura),
              "Error del sistema: el sistema de archivos es de solo lectura");
    EXPECT_EQ(zendral::ExceptionMessage(std::bad_alloc()),
              "No queda memoria suficiente para terminar el proceso");
    EXPECT_EQ(zendral::ExceptionMessage(std::logic_error("x")), "Error inesperado: x");
}
