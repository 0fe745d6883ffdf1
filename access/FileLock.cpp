#include "FileLock.h"

#include "Error.h"
#include "RunLock.h"
#include "System.h"

#include <cerrno>
#include <cstring>
#include <string>
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
            sys::Close(fd);
        }
    }
    int Release() { return std::exchange(fd, -1); }
};

// The lock belongs to the descriptor (an open-file-description lock on Linux, a handle lock on
// Windows), so a second open of the same file inside this process conflicts just as another
// process does. Returns 0 or the errno of the failure.
int SetLock(int fd, LockedFile::Mode mode) { return sys::Lock(fd, mode == LockedFile::Mode::Exclusive); }

bool IsConflict(int err) { return err == EAGAIN || err == EACCES; }

[[noreturn]] void Fail(const std::filesystem::path& file, const char* what, int err)
{
    throw Error(std::string(what) + " " + file.string() + ": " + SystemReason(err));
}

} // namespace

LockedFile::LockedFile(LockedFile&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_borrowed(std::exchange(other.m_borrowed, false))
{
}

LockedFile& LockedFile::operator=(LockedFile&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_borrowed = std::exchange(other.m_borrowed, false);
    }
    return *this;
}

LockedFile::~LockedFile() { close(); }

LockedFile LockedFile::Open(const std::filesystem::path& file, Mode mode, bool create)
{
    if (const int borrowed = runlock::Borrow(file); borrowed >= 0) {
        LockedFile result = Adopt(borrowed);
        if (const int err = create ? sys::Truncate(result.m_fd) : 0; err != 0) {
            Fail(file, "No se puede vaciar el archivo", err);
        }
        return result;
    }

    // Never O_TRUNC here: an existing file is only emptied once we hold its lock, so a file that
    // somebody else has open is left as it is.
    Descriptor d;
    d.fd = sys::Open(file, create ? sys::OpenMode::ReadWriteCreate : sys::OpenMode::ReadWrite);
    if (d.fd < 0 && mode == Mode::Shared && !create && (errno == EACCES || errno == EROFS)) {
        // A read lock only needs a readable descriptor; read-only files and media stay readable.
        d.fd = sys::Open(file, sys::OpenMode::Read);
    }
    if (d.fd < 0) {
        Fail(file, "No se puede abrir el archivo", errno);
    }

    bool normal = false;
    if (sys::Size(d.fd, normal) < 0) {
        Fail(file, "No se puede abrir el archivo", errno);
    }
    if (!normal) {
        throw Error("No se puede abrir el archivo " + file.string() + ": no es un archivo normal");
    }

    if (const int err = SetLock(d.fd, mode); err != 0) {
        if (IsConflict(err)) {
            return LockedFile();
        }
        Fail(file, "No se puede bloquear el archivo", err);
    }

    if (const int err = create ? sys::Truncate(d.fd) : 0; err != 0) {
        Fail(file, "No se puede vaciar el archivo", err);
    }

    LockedFile result;
    result.m_fd = d.Release();
    return result;
}

LockedFile LockedFile::Adopt(int fd)
{
    LockedFile result;
    result.m_fd = fd;
    result.m_borrowed = true;
    return result;
}

LockedFile LockedFile::Own(int fd)
{
    LockedFile result;
    result.m_fd = fd;
    return result;
}

bool LockedFile::Relock(Mode mode)
{
    if (m_borrowed) {
        return true;
    }
    const int err = SetLock(m_fd, mode);
    if (err != 0 && !IsConflict(err)) {
        throw Error(std::string("No se puede cambiar el bloqueo de un archivo: ") + SystemReason(err));
    }
    return err == 0;
}

void LockedFile::close()
{
    if (m_fd >= 0) {
        sys::Close(m_fd);
        m_fd = -1;
    }
    m_borrowed = false;
}

} // namespace zendral
