#include "System.h"
#include "SystemShared.h"

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

namespace zendral::sys
{
namespace
{

// A write past the file-size limit (ulimit -f) raises SIGXFSZ, which ends the process without a
// word. Ignored, the write fails with EFBIG instead and the run reports it like any other write
// failure. Done once, before the first file is opened for writing.
void NoSizeSignal()
{
    static std::once_flag done;
    std::call_once(done, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

// Runs the failure-injection hook; -1 with errno set when it asks the call to fail.
bool Injected(const char* call, const std::filesystem::path& file = {})
{
    if (const int err = BeforeChange(call, file); err != 0) {
        errno = err;
        return true;
    }
    return false;
}
std::atomic<std::uint64_t> writeCalls{0};

} // namespace

int Open(const std::filesystem::path& file, OpenMode mode)
{
    if (mode != OpenMode::Read && mode != OpenMode::ReadNoWait) {
        NoSizeSignal();
        if (mode != OpenMode::ReadWrite && Injected("open", file)) {
            return -1;
        }
    }
    switch (mode) {
    case OpenMode::Read:
        return ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    case OpenMode::ReadNoWait: {
        // With O_NONBLOCK a FIFO opens at once; a regular file gets blocking reads back.
        const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat st = {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) {
                ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            }
        }
        return fd;
    }
    case OpenMode::ReadWrite:
        return ::open(file.c_str(), O_RDWR | O_CLOEXEC, 0666);
    case OpenMode::ReadWriteCreate:
        return ::open(file.c_str(), O_RDWR | O_CLOEXEC | O_CREAT, 0666);
    case OpenMode::WriteNew:
        return ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    case OpenMode::CreateExclusive:
        // O_EXCL with O_CREAT never follows a symbolic link; O_NOFOLLOW says so twice.
        return ::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    errno = EINVAL;
    return -1;
}

std::uint64_t WriteCalls() { return writeCalls; }

int Close(int fd) { return ::close(fd); }

std::int64_t Read(int fd, void* data, std::size_t size) { return ::read(fd, data, size); }

std::int64_t Write(int fd, const void* data, std::size_t size)
{
    if (Injected("write")) {
        return -1;
    }
    ++writeCalls;
    return ::write(fd, data, size);
}

std::int64_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset)
{
    return ::pread(fd, data, size, static_cast<off_t>(offset));
}

std::int64_t WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset)
{
    if (Injected("pwrite")) {
        return -1;
    }
    ++writeCalls;
    return ::pwrite(fd, data, size, static_cast<off_t>(offset));
}

std::int64_t Size(int fd, bool& normal)
{
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        return -1;
    }
    normal = S_ISREG(st.st_mode);
    return st.st_size;
}

int Truncate(int fd)
{
    if (Injected("ftruncate")) {
        return errno;
    }
    return ::ftruncate(fd, 0) == 0 ? 0 : errno;
}

int Sync(int fd) { return ::fsync(fd); }

int SyncData(int fd) { return ::fdatasync(fd); }

void SyncDirectory(const std::filesystem::path& directory)
{
    const int dir = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// Open-file-description record locks, owned by the descriptor rather than by the process, and
// flock locks, which Linux keeps apart from record locks: a program holding either kind is
// respected. The record lock goes first, as it changes mode atomically; flock may drop a lock
// while changing its mode, so a refused change takes the old mode back.
int Lock(int fd, bool exclusive)
{
    struct flock lock = {};
    lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0; // the whole file, however long it grows
    struct flock before = {};
    before.l_type = F_RDLCK; // what an upgrade leaves behind when flock refuses it
    before.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        return errno;
    }
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
        // A file system without flock has only record locks to honour.
        return 0;
    }
    const int err = EAGAIN;
    if (exclusive) {
        // Back to the shared record lock and flock lock an upgrade started from; a fresh lock
        // that was refused leaves nothing behind.
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            ::fcntl(fd, F_OFD_SETLK, &before);
        } else {
            before.l_type = F_UNLCK;
            ::fcntl(fd, F_OFD_SETLK, &before);
        }
    }
    return err;
}

int Duplicate(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    struct stat sa = {};
    struct stat sb = {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool ReplaceBlocked(const std::filesystem::path&) { return false; }

int Replace(const std::filesystem::path& source, const std::filesystem::path& target)
{
    if (Injected("rename", target)) {
        return -1;
    }
    return ::rename(source.c_str(), target.c_str());
}

int Remove(const std::filesystem::path& file)
{
    if (Injected("unlink", file)) {
        return -1;
    }
    return ::unlink(file.c_str()) == 0 || errno == ENOENT ? 0 : -1;
}

int Clone(int source, int target)
{
    if (Injected("clone")) {
        return -1;
    }
    return ::ioctl(target, FICLONE, source);
}

int MakeDirectory(const std::filesystem::path& directory)
{
    if (Injected("mkdir", directory)) {
        return -1;
    }
    return ::mkdir(directory.c_str(), 0777) == 0 || errno == EEXIST ? 0 : -1;
}

std::tm LocalTime(std::time_t t)
{
    std::tm r = {};
    localtime_r(&t, &r);
    return r;
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

void Utf8Console() {}

std::filesystem::path FixedWorkingDirectory(const char* winePrefix, const char* home)
{
    std::filesystem::path prefix;
    if (winePrefix != nullptr && *winePrefix != '\0') {
        prefix = winePrefix;
    } else {
        prefix = std::filesystem::path(home != nullptr ? home : "") / ".wine";
    }
    return prefix / "drive_c" / "VTEMP";
}

std::filesystem::path ExecutableFolder()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : exe.parent_path();
}

// No system here redirects a program's writes to a copy of its own.
std::filesystem::path VirtualStoreCopy(const std::filesystem::path&) { return {}; }

} // namespace zendral::sys
