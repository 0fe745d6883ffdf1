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
    // While a run holds `file` (RunLock), the result shares the run's exclusive lock instead:
    // the run already keeps everybody else out, and Relock leaves that lock as it is.
    static LockedFile Open(const std::filesystem::path& file, Mode mode, bool create = false);

    // Takes over a descriptor that already shares a held lock (a duplicate of a locked one).
    static LockedFile Adopt(int fd);
    // Takes over a descriptor on which this process has just taken the exclusive lock itself.
    static LockedFile Own(int fd);

    // Changes the lock of an open file without waiting, e.g. to exclusive for the length of a
    // write. Returns false when another holder prevents it; throws Error on any other failure.
    bool Relock(Mode mode);

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void close();

    // Whether the lock is a run's, shared through a duplicate descriptor.
    bool borrowed() const { return m_borrowed; }

private:
    int m_fd = -1;
    bool m_borrowed = false;
};

} // namespace zendral
