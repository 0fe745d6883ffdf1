#include "BoundedRead.h"

#include "Error.h"
#include "System.h"

#include <cerrno>

namespace zendral
{
namespace
{

std::string Prefix(const std::string& name) { return "No se puede leer el archivo " + name + ": "; }

// What a name that is not a regular file stands for, as the refusal says it.
std::string WhatItIs(const std::filesystem::path& file)
{
    std::error_code ec;
    switch (std::filesystem::status(file, ec).type()) {
    case std::filesystem::file_type::directory:
        return "es una carpeta";
    case std::filesystem::file_type::fifo:
        return "es una tubería (FIFO)";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
        return "es un dispositivo";
    case std::filesystem::file_type::socket:
        return "es un socket";
    default:
        // Windows devices such as NUL, which no status names.
        return "";
    }
}

std::string NotRegular(const std::filesystem::path& file, const std::string& name)
{
    const std::string what = WhatItIs(file);
    return Prefix(name) + (what.empty() ? "no es un archivo normal" : what + ", no un archivo normal");
}

std::string TooLarge(std::uint64_t limit, const std::string& name)
{
    return Prefix(name) + "es demasiado grande (más de " + std::to_string(limit / kMegabyte) + " MB)";
}

// Closes the descriptor however the read ends.
struct Descriptor
{
    int fd;
    ~Descriptor() { sys::Close(fd); }
};

} // namespace

std::string ReadBoundedFile(const std::filesystem::path& file, std::uint64_t limit, const std::string& name)
{
    // Told apart before the open, which on Windows refuses a folder as "permission denied".
    std::error_code ec;
    const auto kind = std::filesystem::status(file, ec).type();
    if (kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::not_found &&
        kind != std::filesystem::file_type::none) {
        throw Error(NotRegular(file, name));
    }
    const int fd = sys::Open(file, sys::OpenMode::ReadNoWait);
    if (fd < 0) {
        throw Error(Prefix(name) + SystemReason(errno));
    }
    const Descriptor opened{fd};
    // What was opened decides: the name may have changed since it was looked at.
    bool normal = false;
    const std::int64_t size = sys::Size(fd, normal);
    if (size < 0) {
        throw Error(Prefix(name) + SystemReason(errno));
    }
    if (!normal) {
        throw Error(NotRegular(file, name));
    }
    if (static_cast<std::uint64_t>(size) > limit) {
        throw Error(TooLarge(limit, name));
    }
    // The file may grow while it is read: no more than the limit is ever taken.
    std::string data;
    data.reserve(static_cast<std::size_t>(size));
    char buf[65536];
    for (;;) {
        const std::int64_t n = sys::Read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error(Prefix(name) + SystemReason(errno));
        }
        if (n == 0) {
            return data;
        }
        if (data.size() + static_cast<std::uint64_t>(n) > limit) {
            throw Error(TooLarge(limit, name));
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace zendral
