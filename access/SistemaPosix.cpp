#include "Sistema.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zendral::sistema
{
namespace
{

std::atomic<std::uint64_t> llamadasEscritura{0};

} // namespace

int Abrir(const std::filesystem::path& archivo, Apertura apertura)
{
    switch (apertura) {
    case Apertura::Lectura:
        return ::open(archivo.c_str(), O_RDONLY | O_CLOEXEC);
    case Apertura::LecturaEscritura:
        return ::open(archivo.c_str(), O_RDWR | O_CLOEXEC, 0666);
    case Apertura::LecturaEscrituraCrea:
        return ::open(archivo.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0666);
    case Apertura::EscrituraNueva:
        return ::open(archivo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    errno = EINVAL;
    return -1;
}

std::uint64_t LlamadasEscritura() { return llamadasEscritura; }

int Cerrar(int fd) { return ::close(fd); }

std::int64_t Leer(int fd, void* datos, std::size_t tam) { return ::read(fd, datos, tam); }

std::int64_t Escribir(int fd, const void* datos, std::size_t tam)
{
    ++llamadasEscritura;
    return ::write(fd, datos, tam);
}

std::int64_t LeerEn(int fd, void* datos, std::size_t tam, std::uint64_t posicion)
{
    return ::pread(fd, datos, tam, static_cast<off_t>(posicion));
}

std::int64_t EscribirEn(int fd, const void* datos, std::size_t tam, std::uint64_t posicion)
{
    ++llamadasEscritura;
    return ::pwrite(fd, datos, tam, static_cast<off_t>(posicion));
}

std::int64_t Tamano(int fd, bool& normal)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        return -1;
    }
    normal = S_ISREG(st.st_mode);
    return st.st_size;
}

int Vaciar(int fd) { return ::ftruncate(fd, 0) == 0 ? 0 : errno; }

int Sincronizar(int fd) { return ::fsync(fd); }

int SincronizarDatos(int fd) { return ::fdatasync(fd); }

void SincronizarDirectorio(const std::filesystem::path& directorio)
{
    const int dir = ::open(directorio.empty() ? "." : directorio.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// Open-file-description locks: owned by the descriptor rather than by the process.
int Bloquear(int fd, bool exclusivo)
{
    struct flock lock = {};
    lock.l_type = exclusivo ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file, however long it grows
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

int Reemplazar(const std::filesystem::path& origen, const std::filesystem::path& destino)
{
    return ::rename(origen.c_str(), destino.c_str());
}

int Borrar(const std::filesystem::path& archivo)
{
    return ::unlink(archivo.c_str()) == 0 || errno == ENOENT ? 0 : -1;
}

std::tm HoraLocal(std::time_t t)
{
    std::tm r = {};
    localtime_r(&t, &r);
    return r;
}

std::vector<std::string> Argumentos(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void ConsolaUtf8() {}

std::filesystem::path DirectorioTrabajoFijo(const char* winePrefix, const char* home)
{
    std::filesystem::path prefix;
    if (winePrefix != nullptr && *winePrefix != '\0') {
        prefix = winePrefix;
    } else {
        prefix = std::filesystem::path(home != nullptr ? home : "") / ".wine";
    }
    return prefix / "drive_c" / "VTEMP";
}

std::filesystem::path CarpetaEjecutable()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

} // namespace zendral::sistema
