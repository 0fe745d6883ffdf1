#include "Sistema.h"
#include "SistemaComun.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zendral::sistema
{
namespace
{

// A write past the file-size limit (ulimit -f) raises SIGXFSZ, which ends the process without a
// word. Ignored, the write fails with EFBIG instead and the run reports it like any other write
// failure. Done once, before the first file is opened for writing.
void SinSenalDeTamano()
{
    static std::once_flag hecho;
    std::call_once(hecho, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

// Runs the failure-injection hook; -1 with errno set when it asks the call to fail.
bool Cortado(const char* llamada, const std::filesystem::path& archivo = {})
{
    if (const int err = AntesDeCambiar(llamada, archivo); err != 0) {
        errno = err;
        return true;
    }
    return false;
}
std::atomic<std::uint64_t> llamadasEscritura{0};

} // namespace

int Abrir(const std::filesystem::path& archivo, Apertura apertura)
{
    if (apertura != Apertura::Lectura && apertura != Apertura::LecturaSinEspera) {
        SinSenalDeTamano();
        if (apertura != Apertura::LecturaEscritura && Cortado("open", archivo)) {
            return -1;
        }
    }
    switch (apertura) {
    case Apertura::Lectura:
        return ::open(archivo.c_str(), O_RDONLY | O_CLOEXEC);
    case Apertura::LecturaSinEspera: {
        // With O_NONBLOCK a FIFO opens at once; a regular file gets blocking reads back.
        const int fd = ::open(archivo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st = {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) {
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            }
        }
        return fd;
    }
    case Apertura::LecturaEscritura:
        return ::open(archivo.c_str(), O_RDWR | O_CLOEXEC, 0666);
    case Apertura::LecturaEscrituraCrea:
        return ::open(archivo.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0666);
    case Apertura::EscrituraNueva:
        return ::open(archivo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    case Apertura::CreaExclusiva:
        // O_EXCL with O_CREAT never follows a symbolic link; O_NOFOLLOW says so twice.
        return ::open(archivo.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    errno = EINVAL;
    return -1;
}

std::uint64_t LlamadasEscritura() { return llamadasEscritura; }

int Cerrar(int fd) { return ::close(fd); }

std::int64_t Leer(int fd, void* datos, std::size_t tam) { return ::read(fd, datos, tam); }

std::int64_t Escribir(int fd, const void* datos, std::size_t tam)
{
    if (Cortado("write")) {
        return -1;
    }
    ++llamadasEscritura;
    return ::write(fd, datos, tam);
}

std::int64_t LeerEn(int fd, void* datos, std::size_t tam, std::uint64_t posicion)
{
    return ::pread(fd, datos, tam, static_cast<off_t>(posicion));
}

std::int64_t EscribirEn(int fd, const void* datos, std::size_t tam, std::uint64_t posicion)
{
    if (Cortado("pwrite")) {
        return -1;
    }
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

int Vaciar(int fd)
{
    if (Cortado("ftruncate")) {
        return errno;
    }
    return ::ftruncate(fd, 0) == 0 ? 0 : errno;
}

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

// Open-file-description record locks, owned by the descriptor rather than by the process, and
// flock locks, which Linux keeps apart from record locks: a program holding either kind is
// respected. The record lock goes first, as it changes mode atomically; flock may drop a lock
// while changing its mode, so a refused change takes the old mode back.
int Bloquear(int fd, bool exclusivo)
{
    struct flock lock = {};
    lock.l_type = exclusivo ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file, however long it grows
    struct flock antes = {};
    antes.l_type = F_RDLCK; // what an upgrade leaves behind when flock refuses it
    antes.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        return errno;
    }
    if (::flock(fd, (exclusivo ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
        // A file system without flock has only record locks to honour.
        return 0;
    }
    const int err = EAGAIN;
    if (exclusivo) {
        // Back to the shared record lock and flock lock an upgrade started from; a fresh lock
        // that was refused leaves nothing behind.
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            ::fcntl(fd, F_OFD_SETLK, &antes);
        } else {
            antes.l_type = F_UNLCK;
            ::fcntl(fd, F_OFD_SETLK, &antes);
        }
    }
    return err;
}

int Duplicar(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

bool MismoArchivo(const std::filesystem::path& a, const std::filesystem::path& b)
{
    struct stat sa = {};
    struct stat sb = {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool ReemplazoImpedido(const std::filesystem::path&) { return false; }

int Reemplazar(const std::filesystem::path& origen, const std::filesystem::path& destino)
{
    if (Cortado("rename", destino)) {
        return -1;
    }
    return ::rename(origen.c_str(), destino.c_str());
}

int Borrar(const std::filesystem::path& archivo)
{
    if (Cortado("unlink", archivo)) {
        return -1;
    }
    return ::unlink(archivo.c_str()) == 0 || errno == ENOENT ? 0 : -1;
}

int Clonar(int origen, int destino)
{
    if (Cortado("clone")) {
        return -1;
    }
    return ::ioctl(destino, FICLONE, origen);
}

int CrearDirectorio(const std::filesystem::path& directorio)
{
    if (Cortado("mkdir", directorio)) {
        return -1;
    }
    return ::mkdir(directorio.c_str(), 0777) == 0 || errno == EEXIST ? 0 : -1;
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

// No system here redirects a program's writes to a copy of its own.
std::filesystem::path CopiaVirtualizada(const std::filesystem::path&) { return {}; }

} // namespace zendral::sistema
