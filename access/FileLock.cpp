#include "FileLock.h"

#include "Error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zendral
{
namespace
{

// Closes the descriptor unless ownership is handed over.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    int Release() { return std::exchange(fd, -1); }
};

// Open-file-description locks: owned by the descriptor rather than by the process, so a second
// open of the same file inside this process conflicts just as another process does. Returns 0 or
// the errno of the failure.
int SetLock(int fd, LockedFile::Mode mode)
{
    struct flock lock = {};
    lock.l_type = mode == LockedFile::Mode::Exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file, however long it grows
    return ::fcntl(fd, F_OFD_SETLK, &lock) == 0 ? 0 : errno;
}

bool IsConflict(int err) { return err == EAGAIN || err == EACCES; }

[[noreturn]] void Fail(const std::filesystem::path& file, const char* what, int err)
{
    throw Error(std::string(what) + " " + file.string() + ": " + SystemReason(err));
}

} // namespace

LockedFile::LockedFile(LockedFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

LockedFile::~LockedFile() { close(); }

LockedFile LockedFile::Open(const std::filesystem::path& file, Mode mode, bool create)
{
    // Never O_TRUNC here: an existing file is only emptied once we hold its lock, so a file that
    // somebody else has open is left as it is.
    const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    Descriptor d;
    d.fd = ::open(file.c_str(), flags, 0666);
    if (d.fd < 0 && mode == Mode::Shared && !create && (errno == EACCES || errno == EROFS)) {
        // A read lock only needs a readable descriptor; read-only files and media stay readable.
        d.fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (d.fd < 0) {
        Fail(file, "No se puede abrir el archivo", errno);
    }

    struct stat st = {};
    if (::fstat(d.fd, &st) != 0) {
        Fail(file, "No se puede abrir el archivo", errno);
    }
    if (!S_ISREG(st.st_mode)) {
        throw Error("No se puede abrir el archivo " + file.string() + ": no es un archivo normal");
    }

    if (const int err = SetLock(d.fd, mode); err != 0) {
        if (IsConflict(err)) {
            return LockedFile();
        }
        Fail(file, "No se puede bloquear el archivo", err);
    }

    if (create && ::ftruncate(d.fd, 0) != 0) {
        Fail(file, "No se puede vaciar el archivo", errno);
    }

    LockedFile result;
    result.m_fd = d.Release();
    return result;
}

bool LockedFile::Relock(Mode mode)
{
    const int err = SetLock(m_fd, mode);
    if (err != 0 && !IsConflict(err)) {
        throw Error(std::string("No se puede cambiar el bloqueo de un archivo: ") + SystemReason(err));
    }
    return err == 0;
}

void LockedFile::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace zendral
