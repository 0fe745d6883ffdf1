#include "AtomicFile.h"

#include "Error.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace zendral
{
namespace
{

std::string Reason() { return SystemReason(errno); }

// Closes the descriptor and removes the unfinished file unless the write went through.
struct TempFile
{
    std::filesystem::path path;
    int fd = -1;
    bool done = false;

    ~TempFile()
    {
        if (fd >= 0) {
            ::close(fd);
        }
        if (!done) {
            ::unlink(path.c_str());
        }
    }
};

} // namespace

void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents)
{
    const std::string shown = target.string();
    TempFile tmp;
    tmp.path = target;
    tmp.path += ".tmp";
    tmp.fd = ::open(tmp.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (tmp.fd < 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + Reason());
    }
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(tmp.fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error("No se puede escribir el archivo " + shown + ": " + Reason());
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(tmp.fd) != 0 || ::close(tmp.fd) != 0) {
        tmp.fd = -1;
        throw Error("No se puede escribir el archivo " + shown + ": " + Reason());
    }
    tmp.fd = -1;
    if (::rename(tmp.path.c_str(), target.c_str()) != 0) {
        throw Error("No se puede reemplazar el archivo " + shown + ": " + Reason());
    }
    tmp.done = true;
    // Make the rename itself durable.
    const int dir = ::open(target.parent_path().empty() ? "." : target.parent_path().c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

std::string ReadWholeFile(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw Error("No se puede leer el archivo " + file.string() + ": " + Reason());
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const std::string reason = Reason();
            ::close(fd);
            throw Error("No se puede leer el archivo " + file.string() + ": " + reason);
        }
        if (n == 0) {
            break;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return data;
}

} // namespace zendral
