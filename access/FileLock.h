#pragma once

#include <filesystem>

namespace zendral
{

// An open file descriptor holding an operating-system record lock on the whole file. The lock
// belongs to the open file description, so it excludes other processes and other opens within
// this process alike, and it is released when the descriptor closes.
class LockedFile
{
public:
    enum class Mode
    {
        Shared,    // read lock: others may read, nobody may hold the file exclusively
        Exclusive, // write lock: nobody else may open the file
    };

    LockedFile() = default;
    LockedFile(LockedFile&& other) noexcept;
    LockedFile& operator=(LockedFile&& other) noexcept;
    ~LockedFile();

    // Opens `file` for reading and writing and takes the lock without waiting. Returns an
    // unopened LockedFile when another holder has the file; throws Error on any other failure.
    // `create` makes a new empty file (truncating an existing one).
    static LockedFile Open(const std::filesystem::path& file, Mode mode, bool create = false);

    // Changes the lock of an open file without waiting, e.g. to exclusive for the length of a
    // write. Returns false when another holder prevents it; throws Error on any other failure.
    bool Relock(Mode mode);

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void close();

private:
    int m_fd = -1;
};

} // namespace zendral
