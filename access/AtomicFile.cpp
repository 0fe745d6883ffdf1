#include "AtomicFile.h"

#include "CodePage.h"
#include "Error.h"
#include "RunLock.h"
#include "System.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

namespace zendral
{
namespace
{

std::string Reason() { return SystemReason(errno); }

// Eight hex digits that differ from one call to the next and from one process to another.
std::string Suffix()
{
    static std::mt19937_64 rng{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(rng() & 0xFFFFFFFFu));
    return text;
}

// Whether `name` is "BASE.xxxxxxxx.tmp" with one of `bases` (any letter case; any base when
// there are none).
bool IsTemporaryName(const std::string& name, const std::vector<std::string>& bases)
{
    constexpr std::size_t kTail = 13; // ".xxxxxxxx.tmp"
    if (name.size() <= kTail || name.compare(name.size() - 4, 4, ".tmp") != 0 ||
        name[name.size() - kTail] != '.') {
        return false;
    }
    for (std::size_t i = name.size() - kTail + 1; i < name.size() - 4; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    const std::string base = name.substr(0, name.size() - kTail);
    return bases.empty() || std::any_of(bases.begin(), bases.end(),
                                        [&](const std::string& b) { return cp1252::EqualsNoCase(base, b); });
}

} // namespace

NewFile::NewFile(std::filesystem::path target)
    : m_target(std::move(target))
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path tmp = m_target;
        tmp += "." + Suffix() + ".tmp";
        m_fd = sys::Open(tmp, sys::OpenMode::CreateExclusive);
        if (m_fd >= 0) {
            m_temporary = std::move(tmp);
            // Nobody else has the new file yet, so the lock is free: it only tells a cleanup
            // that the file has a live owner.
            sys::Lock(m_fd, true);
            return;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    throw Error("No se puede escribir el archivo " + m_target.string() + ": " + Reason());
}

NewFile::~NewFile()
{
    Close();
    if (!m_committed) {
        sys::Remove(m_temporary);
    }
}

int NewFile::Write(std::string_view data) { return WriteAll(m_fd, data); }

int NewFile::CopyFrom(const std::filesystem::path& source) { return CopyBytes(source, m_fd); }

int NewFile::Sync() { return sys::Sync(m_fd) != 0 ? errno : 0; }

int NewFile::Close()
{
    if (m_fd < 0) {
        return 0;
    }
    const int fd = m_fd;
    m_fd = -1;
    return sys::Close(fd) != 0 ? errno : 0;
}

int NewFile::Detach()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

int NewFile::Commit(bool syncFolder)
{
    if (m_fd >= 0 && sys::Sync(m_fd) != 0) {
        return errno;
    }
    if (sys::Replace(m_temporary, m_target) != 0) {
        return errno;
    }
    m_committed = true;
    if (syncFolder) {
        sys::SyncDirectory(m_target.parent_path());
    }
    return 0;
}

bool IsOrphan(const std::filesystem::path& file, const std::vector<std::string>& bases)
{
    std::error_code ec;
    if (!IsTemporaryName(file.filename().string(), bases) ||
        std::filesystem::symlink_status(file, ec).type() != std::filesystem::file_type::regular) {
        return false;
    }
    const int fd = sys::Open(file, sys::OpenMode::Read);
    if (fd < 0) {
        return false;
    }
    // A shared lock is refused while the owner holds its exclusive one.
    const bool available = sys::Lock(fd, false) == 0;
    sys::Close(fd);
    return available;
}

void RemoveOrphans(const std::filesystem::path& directory, const std::vector<std::string>& bases) noexcept
{
    std::error_code ec;
    std::vector<std::filesystem::path> leftovers;
    for (auto it = std::filesystem::directory_iterator(directory, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (IsOrphan(it->path(), bases)) {
            leftovers.push_back(it->path());
        }
    }
    for (const auto& rest : leftovers) {
        sys::Remove(rest);
    }
}

int WriteAll(int fd, std::string_view data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const std::int64_t n = sys::Write(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

int CopyBytes(const std::filesystem::path& source, int fd)
{
    // Read through the live run's own descriptor when it holds the file (Windows refuses reads
    // through other handles of a file locked exclusively).
    const int borrowed = runlock::Borrow(source);
    const int in = borrowed >= 0 ? borrowed : sys::Open(source, sys::OpenMode::Read);
    if (in < 0) {
        return errno;
    }
    if (sys::Clone(in, fd) == 0) {
        sys::Close(in);
        return 0;
    }
    std::string buf(1 << 20, '\0');
    std::uint64_t pos = 0;
    int err = 0;
    for (;;) {
        const std::int64_t n = sys::ReadAt(in, buf.data(), buf.size(), pos);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            err = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        if ((err = WriteAll(fd, std::string_view(buf.data(), static_cast<std::size_t>(n)))) != 0) {
            break;
        }
        pos += static_cast<std::uint64_t>(n);
    }
    sys::Close(in);
    return err;
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents)
{
    NewFile newFile(target);
    const std::string shown = target.string();
    if (const int err = newFile.Write(contents); err != 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + SystemReason(err));
    }
    int err = newFile.Sync();
    if (const int e = newFile.Close(); err == 0) {
        err = e;
    }
    if (err != 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + SystemReason(err));
    }
    if ((err = newFile.Commit()) != 0) {
        throw Error("No se puede reemplazar el archivo " + shown + ": " + SystemReason(err));
    }
}

} // namespace zendral
