#include "Sistema.h"
#include "SistemaComun.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <initializer_list>
#include <io.h>
#include <utility>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace zendral::sistema
{
namespace
{

std::atomic<std::uint64_t> llamadasEscritura{0};

// The errno value our messages know for a Windows error code.
int Errno(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EAGAIN;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOTSUP;
    default:
        return EIO;
    }
}

int Falla()
{
    errno = Errno(GetLastError());
    return -1;
}

HANDLE Manejador(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

OVERLAPPED En(std::uint64_t posicion)
{
    OVERLAPPED o = {};
    o.Offset = static_cast<DWORD>(posicion & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(posicion >> 32);
    return o;
}

// Runs the failure-injection hook; true, with errno set, when it asks the call to fail.
bool Cortado(const char* llamada, const std::filesystem::path& archivo = {})
{
    if (const int err = AntesDeCambiar(llamada, archivo); err != 0) {
        errno = err;
        return true;
    }
    return false;
}

DWORD Trozo(std::size_t tam) { return tam > 0x40000000u ? 0x40000000u : static_cast<DWORD>(tam); }

// Other programs (antivirus scanners, the search indexer, backup and synchronisation tools) open
// a file for a moment, most often just after it was written; meanwhile opening, renaming or
// deleting it fails with a sharing or lock violation, or with "access denied". Such a failure is
// tried again with growing pauses (25 ms, 50 ms, 75 ms, ...), about two seconds in all, as
// SQLite's Windows layer does, and only then reported. A failure that the injection hook asks for
// (FijarCorte) is reported at once: it stands for what is left after the waiting.
class Reintentos
{
public:
    // Whether the failed call is to be made again: `pasajero` tells that its error is one a
    // passing hold gives, and time is left. Makes the pause before it returns true.
    bool Otra(bool pasajero)
    {
        if (!pasajero || m_esperado >= kTotalMs) {
            return false;
        }
        const DWORD pausa = std::min<DWORD>(kPasoMs * ++m_intentos, kTotalMs - m_esperado);
        Sleep(pausa);
        m_esperado += pausa;
        return true;
    }

private:
    static constexpr DWORD kPasoMs = 25;
    static constexpr DWORD kTotalMs = 2000;
    DWORD m_intentos = 0;
    DWORD m_esperado = 0;
};

// What a name stands for when a call on it was refused.
enum class Estado
{
    Ausente,     // nothing by that name
    Carpeta,     // a directory
    SoloLectura, // a read-only file
    Normal,      // a file that may be written
    Pendiente,   // unknown: a file being deleted, for one, whose attributes cannot be read
};

Estado EstadoDe(const std::filesystem::path& archivo)
{
    const DWORD atributos = GetFileAttributesW(archivo.c_str());
    if (atributos == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Estado::Ausente
                                                                              : Estado::Pendiente;
    }
    if ((atributos & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Estado::Carpeta;
    }
    return (atributos & FILE_ATTRIBUTE_READONLY) != 0 ? Estado::SoloLectura : Estado::Normal;
}

// Sharing and lock violations always come from another open of the file. "Access denied" does too
// when the file exists and may be changed; for a directory, a read-only file (when it is to be
// changed) or a missing file (so the directory itself refuses) it lasts, and is not waited out.
bool Pasajero(DWORD error, const std::filesystem::path& archivo, bool cambia)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return true;
    }
    if (error != ERROR_ACCESS_DENIED) {
        return false;
    }
    const Estado estado = EstadoDe(archivo);
    return estado == Estado::Normal || estado == Estado::Pendiente ||
           (estado == Estado::SoloLectura && !cambia);
}

// The same for a rename: "access denied" lasts when the source is missing or a directory, or the
// target a directory or a read-only file.
bool RenombradoPasajero(DWORD error, const std::filesystem::path& origen,
                        const std::filesystem::path& destino)
{
    if (error != ERROR_ACCESS_DENIED) {
        return Pasajero(error, destino, true);
    }
    const Estado o = EstadoDe(origen);
    const Estado d = EstadoDe(destino);
    return o != Estado::Ausente && o != Estado::Carpeta && d != Estado::Carpeta && d != Estado::SoloLectura;
}

// Whether an open of `archivo` without FILE_SHARE_DELETE stands now, looked at once. Opening for
// deletion is refused while any other open of the file does not share deletion.
bool SinCompartirBorrado(const std::filesystem::path& archivo, DWORD& error)
{
    const HANDLE h =
        CreateFileW(archivo.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(h);
    error = ERROR_SUCCESS;
    return false;
}

// The errno of a rename or deletion that still fails after the waiting: Windows answers "access
// denied" when the target of a rename, or a file being deleted, is open elsewhere; told as the
// file being in use, as the sharing violation of the other cases is.
int ErrnoDeCambio(DWORD error, std::initializer_list<const std::filesystem::path*> archivos)
{
    if (error == ERROR_ACCESS_DENIED) {
        for (const std::filesystem::path* archivo : archivos) {
            DWORD ignorado = 0;
            if (SinCompartirBorrado(*archivo, ignorado)) {
                return EAGAIN;
            }
        }
    }
    return Errno(error);
}

} // namespace

int Abrir(const std::filesystem::path& archivo, Apertura apertura)
{
    DWORD acceso = GENERIC_READ | GENERIC_WRITE;
    DWORD creacion = OPEN_EXISTING;
    int modo = _O_BINARY | _O_NOINHERIT;
    switch (apertura) {
    case Apertura::Lectura:
    case Apertura::LecturaSinEspera: // no open waits here
        acceso = GENERIC_READ;
        modo |= _O_RDONLY;
        break;
    case Apertura::LecturaEscritura:
        modo |= _O_RDWR;
        break;
    case Apertura::LecturaEscrituraCrea:
        creacion = OPEN_ALWAYS;
        modo |= _O_RDWR;
        break;
    case Apertura::EscrituraNueva:
        acceso = GENERIC_WRITE;
        creacion = CREATE_ALWAYS;
        modo |= _O_WRONLY;
        break;
    case Apertura::CreaExclusiva:
        // CREATE_NEW fails on any existing name, a symbolic link included.
        creacion = CREATE_NEW;
        modo |= _O_RDWR;
        break;
    }
    if (apertura != Apertura::Lectura && apertura != Apertura::LecturaSinEspera &&
        apertura != Apertura::LecturaEscritura && Cortado("open", archivo)) {
        return -1;
    }
    // Sharing everything, deletion and renaming included, as POSIX files do: exclusion comes from
    // the locks alone. A passing hold by another program is waited out (see Reintentos).
    Reintentos reintentos;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (;;) {
        h = CreateFileW(archivo.c_str(), acceso, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, creacion, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = GetLastError();
        if (!reintentos.Otra(Pasajero(error, archivo, (acceso & GENERIC_WRITE) != 0))) {
            errno = Errno(error);
            return -1;
        }
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), modo);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

int Cerrar(int fd) { return _close(fd); }

std::int64_t Leer(int fd, void* datos, std::size_t tam)
{
    DWORD n = 0;
    if (!ReadFile(Manejador(fd), datos, Trozo(tam), &n, nullptr)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : Falla();
    }
    return n;
}

std::uint64_t LlamadasEscritura() { return llamadasEscritura; }

std::int64_t Escribir(int fd, const void* datos, std::size_t tam)
{
    if (Cortado("write")) {
        return -1;
    }
    ++llamadasEscritura;
    DWORD n = 0;
    if (!WriteFile(Manejador(fd), datos, Trozo(tam), &n, nullptr)) {
        return Falla();
    }
    return n;
}

std::int64_t LeerEn(int fd, void* datos, std::size_t tam, std::uint64_t posicion)
{
    OVERLAPPED o = En(posicion);
    DWORD n = 0;
    if (!ReadFile(Manejador(fd), datos, Trozo(tam), &n, &o)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : Falla();
    }
    return n;
}

std::int64_t EscribirEn(int fd, const void* datos, std::size_t tam, std::uint64_t posicion)
{
    if (Cortado("pwrite")) {
        return -1;
    }
    ++llamadasEscritura;
    OVERLAPPED o = En(posicion);
    DWORD n = 0;
    if (!WriteFile(Manejador(fd), datos, Trozo(tam), &n, &o)) {
        return Falla();
    }
    return n;
}

std::int64_t Tamano(int fd, bool& normal)
{
    const HANDLE h = Manejador(fd);
    normal = GetFileType(h) == FILE_TYPE_DISK;
    LARGE_INTEGER tam = {};
    if (!GetFileSizeEx(h, &tam)) {
        return Falla();
    }
    return tam.QuadPart;
}

int Vaciar(int fd)
{
    if (Cortado("ftruncate")) {
        return errno;
    }
    FILE_END_OF_FILE_INFO fin = {};
    if (!SetFileInformationByHandle(Manejador(fd), FileEndOfFileInfo, &fin, sizeof fin)) {
        return Errno(GetLastError());
    }
    return 0;
}

int Sincronizar(int fd) { return FlushFileBuffers(Manejador(fd)) ? 0 : Falla(); }

int SincronizarDatos(int fd) { return Sincronizar(fd); }

// A rename made with MOVEFILE_WRITE_THROUGH is on the disk when it returns; directories cannot be
// flushed on their own.
void SincronizarDirectorio(const std::filesystem::path&) {}

// LockFileEx on the whole range a file can have. A handle's locks do not convert from one mode to
// the other, so a held lock is released first; when the new one is refused the old one is taken
// back.
int Bloquear(int fd, bool exclusivo)
{
    const HANDLE h = Manejador(fd);
    OVERLAPPED o = En(0);
    const bool teniaAlguno = UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &o) != 0;
    const auto tomar = [&](bool excl) {
        OVERLAPPED desde = En(0);
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (excl ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        return LockFileEx(h, flags, 0, MAXDWORD, MAXDWORD, &desde) != 0;
    };
    if (tomar(exclusivo)) {
        return 0;
    }
    const int err = Errno(GetLastError());
    if (teniaAlguno) {
        // The mode held before: only a shared lock can have been refused an upgrade.
        tomar(!exclusivo);
    }
    return err;
}

int Duplicar(int fd)
{
    HANDLE copia = nullptr;
    const HANDLE proceso = GetCurrentProcess();
    if (!DuplicateHandle(proceso, Manejador(fd), proceso, &copia, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return Falla();
    }
    const int nuevo = _open_osfhandle(reinterpret_cast<intptr_t>(copia), _O_BINARY | _O_NOINHERIT | _O_RDWR);
    if (nuevo < 0) {
        CloseHandle(copia);
        errno = EMFILE;
    }
    return nuevo;
}

bool MismoArchivo(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const auto identidad = [](const std::filesystem::path& p, BY_HANDLE_FILE_INFORMATION& info) {
        const HANDLE h = CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia = {};
    BY_HANDLE_FILE_INFORMATION ib = {};
    return identidad(a, ia) && identidad(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// A hold that outlasts the waiting (see Reintentos) forbids the replacement; a passing one does
// not.
bool ReemplazoImpedido(const std::filesystem::path& archivo)
{
    Reintentos reintentos;
    DWORD error = ERROR_SUCCESS;
    while (SinCompartirBorrado(archivo, error)) {
        if (!reintentos.Otra(true)) {
            return true;
        }
    }
    return false;
}

// The target must not be open anywhere, this process included: the run's lock on a table is let
// go just before its replacement and taken again on the new file (Cerrojos.cpp). The source may
// be open, as every file is opened sharing deletion. A passing hold on either is waited out.
int Reemplazar(const std::filesystem::path& origen, const std::filesystem::path& destino)
{
    if (Cortado("rename", destino)) {
        return -1;
    }
    Reintentos reintentos;
    while (
        !MoveFileExW(origen.c_str(), destino.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        if (!reintentos.Otra(RenombradoPasajero(error, origen, destino))) {
            errno = ErrnoDeCambio(error, {&origen, &destino});
            return -1;
        }
    }
    return 0;
}

int Borrar(const std::filesystem::path& archivo)
{
    if (Cortado("unlink", archivo)) {
        return -1;
    }
    Reintentos reintentos;
    while (!DeleteFileW(archivo.c_str())) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return 0;
        }
        if (!reintentos.Otra(Pasajero(error, archivo, true))) {
            errno = ErrnoDeCambio(error, {&archivo});
            return -1;
        }
    }
    return 0;
}

int Clonar(int origen, int destino)
{
    if (Cortado("clone")) {
        return -1;
    }
    // Block cloning exists only on ReFS volumes; the caller copies the bytes.
    (void)origen;
    (void)destino;
    errno = ENOTSUP;
    return -1;
}

int CrearDirectorio(const std::filesystem::path& directorio)
{
    if (Cortado("mkdir", directorio)) {
        return -1;
    }
    if (CreateDirectoryW(directorio.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    return Falla();
}

std::tm HoraLocal(std::time_t t)
{
    std::tm r = {};
    localtime_s(&r, &t);
    return r;
}

std::vector<std::string> Argumentos(int, char**)
{
    std::vector<std::string> args;
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr) {
        return args;
    }
    for (int i = 1; i < n; ++i) {
        const int len = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(len > 0 ? static_cast<std::size_t>(len) : 1u, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), len, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}

void ConsolaUtf8() { SetConsoleOutputCP(CP_UTF8); }

std::filesystem::path DirectorioTrabajoFijo(const char*, const char*) { return L"C:\\VTEMP"; }

std::filesystem::path CarpetaEjecutable()
{
    // Long paths too: the buffer grows until the whole name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) {
            return {};
        }
        if (n < name.size()) {
            name.resize(n);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

namespace
{

// An environment variable's value, or empty text when it is not set.
std::wstring Entorno(const wchar_t* nombre)
{
    std::wstring valor(256, L'\0');
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(nombre, valor.data(), static_cast<DWORD>(valor.size()));
        if (n < valor.size()) {
            valor.resize(n);
            return valor;
        }
        valor.resize(n);
    }
}

} // namespace

std::filesystem::path CopiaVirtualizada(const std::filesystem::path& archivo)
{
    // %LOCALAPPDATA% names the user's folder (a test may name one of its own).
    const std::wstring local = Entorno(L"LOCALAPPDATA");
    std::error_code ec;
    std::filesystem::path ruta = std::filesystem::absolute(archivo, ec);
    if (local.empty() || ec) {
        return {};
    }
    // Windows compares the long form of the path (C:\PROGRA~2 is C:\Program Files (x86)).
    std::wstring carpeta = ruta.parent_path().wstring();
    if (const DWORD n = GetLongPathNameW(carpeta.c_str(), nullptr, 0); n > 0) {
        std::wstring larga(n, L'\0');
        const DWORD m = GetLongPathNameW(carpeta.c_str(), larga.data(), n);
        if (m > 0 && m < n) {
            larga.resize(m);
            ruta = std::filesystem::path(larga) / ruta.filename();
        }
    }
    ruta = ruta.lexically_normal();
    const std::wstring texto = ruta.wstring();
    // The folders Windows redirects: both Program Files, ProgramData and the Windows folder.
    for (const wchar_t* variable :
         {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"ProgramData", L"SystemRoot"}) {
        std::wstring raiz = Entorno(variable);
        while (!raiz.empty() && (raiz.back() == L'\\' || raiz.back() == L'/')) {
            raiz.pop_back();
        }
        const int largo = static_cast<int>(raiz.size());
        if (raiz.empty() || texto.size() <= raiz.size() + 1 || texto[raiz.size()] != L'\\' ||
            CompareStringOrdinal(texto.c_str(), largo, raiz.c_str(), largo, TRUE) != CSTR_EQUAL) {
            continue;
        }
        // C:\Program Files (x86)\Velorin\Velorin.ini keeps "Program Files (x86)\Velorin\Velorin.ini".
        return std::filesystem::path(local) / L"VirtualStore" / ruta.relative_path();
    }
    return {};
}

} // namespace zendral::sistema
