#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

// The few operating-system calls the core makes, in one place: SystemPosix.cpp on Linux,
// SystemWindows.cpp on Windows. Files are plain integer descriptors on both; every call returns
// or sets an errno value, so the callers report failures the same way on both systems.
namespace zendral::sys
{

enum class OpenMode
{
    Read,            // read only
    ReadWrite,       // read and write, the file must exist
    ReadWriteCreate, // read and write, created when missing, never truncated
    WriteNew,        // write only, created or emptied
    // Read and write, created here and now: fails with EEXIST when the name exists in any form,
    // a symbolic link included, which is never followed. For temporary files.
    CreateExclusive,
    // Read only, and the open itself never waits (on Linux, a FIFO without a writer would keep
    // a plain open waiting for ever). For files that must be regular ones: the caller refuses
    // anything else with Size before reading.
    ReadNoWait,
};

// On Windows, other programs (antivirus scanners, the search indexer) open a file for a moment;
// meanwhile opening, replacing or deleting it fails. Open, ReplaceBlocked, Replace and
// Remove wait such a hold out: a sharing or lock violation, or "access denied" on a file that
// exists and may be changed, is tried again with growing pauses for about two seconds in all
// before the call fails (EAGAIN for a file in use). Lock conflicts (Lock) are never waited
// for: a lock is how another program says it holds a file. On Linux nothing holds a file so.

// Opens `file` in binary mode, not inherited by child processes. Returns the descriptor, or
// -1 with errno set.
int Open(const std::filesystem::path& file, OpenMode mode);
int Close(int fd);

// Like read/write: bytes moved, or -1 with errno set.
std::int64_t Read(int fd, void* data, std::size_t size);
std::int64_t Write(int fd, const void* data, std::size_t size);
// The same at an absolute offset, without moving anything a later Read or Write uses.
std::int64_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset);
std::int64_t WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset);
// How many write calls Write and WriteAt have made to the system in this process: how
// tests measure batching where the system keeps no count of its own (Wine).
std::uint64_t WriteCalls();

// Size of the open file, or -1 with errno set; `normal` tells whether it is a regular file.
std::int64_t Size(int fd, bool& normal);
// Empties the open file. 0 or the errno of the failure.
int Truncate(int fd);

// Writes the file's data and metadata (Sync) or its data and what is needed to read it
// back (SyncData) to the disk. 0 or -1 with errno set.
int Sync(int fd);
int SyncData(int fd);
// Makes a rename inside `directory` durable, where the system allows it.
void SyncDirectory(const std::filesystem::path& directory);

// A lock on the whole file, however long it grows, taken without waiting. It belongs to the
// descriptor, so a second open of the file in this process conflicts as another process does.
// Changing the mode of a held lock is allowed. 0 or the errno of the failure; a conflict is
// EAGAIN or EACCES. On Linux both lock families other programs use are taken and honoured:
// record locks (open-file-description and POSIX ones conflict with each other) and flock.
int Lock(int fd, bool exclusive);

// A second descriptor for the same open file: it shares the first one's locks, so reading and
// writing through it never conflict with them. -1 with errno set.
int Duplicate(int fd);

// Whether two paths name the same file (hard links included). False when either is missing.
bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b);
// Whether another program's open of `file` forbids replacing it (Windows: an open that does
// not share deletion, as programs open their tables by default; a rename over the file would
// then fail). Always false where open files can be replaced.
bool ReplaceBlocked(const std::filesystem::path& file);

// Replaces `target` with `source` in one step (the old file or the new one, never neither).
// 0 or -1 with errno set.
int Replace(const std::filesystem::path& source, const std::filesystem::path& target);
// Removes a file; a missing one is no failure. 0 or -1 with errno set.
int Remove(const std::filesystem::path& file);
// Gives the empty open file `target` the bytes of the open file `source` by sharing its blocks
// copy-on-write (a reflink): a later change to either leaves the other as it was. 0, or -1 with
// errno set where the file system cannot (then the caller copies the bytes).
int Clone(int source, int target);
// Creates one directory; an existing one is no failure. 0 or -1 with errno set.
int MakeDirectory(const std::filesystem::path& directory);

// Failure injection for tests: when set, every call above that changes a file (an open that
// creates or writes, a write, an emptying, a rename, a deletion, a clone, a new directory) first
// calls `hook` with the call's name and the file it acts on (the new name for a rename; empty
// for a call on an open file). A non-zero return makes the call fail with that errno value at
// once, never waited out as a passing hold is (an injected EAGAIN stands for a hold that outlasted
// the waiting); the function may also end the process, to stand for a crash at that point. The
// programs themselves never set it.
using FaultHook = int (*)(const char* call, const std::filesystem::path& file);
void SetFaultHook(FaultHook hook);

std::tm LocalTime(std::time_t t);

// The fixed folder where Velorin keeps its tables: C:\VTEMP on Windows. Elsewhere, where a
// Windows Velorin runs under Wine, the same folder on Wine's C: drive, in `winePrefix`
// (WINEPREFIX) or else in $HOME/.wine.
std::filesystem::path FixedWorkingDirectory(const char* winePrefix, const char* home);

// The folder that holds the running program's executable (where Velorin.ini and GestIB.chm
// stand beside it), or an empty path when the system cannot tell.
std::filesystem::path ExecutableFolder();

// Where Windows keeps a legacy program's own copy of `file` (a 32-bit program without a
// manifest, as Velorin is): when such a program may not write a file under Program Files,
// ProgramData or the Windows folder, Windows writes %LOCALAPPDATA%\VirtualStore\<the path after
// the drive> instead, and from then on that program reads the copy. Empty when the file lies
// elsewhere, and on systems without this redirection.
std::filesystem::path VirtualStoreCopy(const std::filesystem::path& file);

// The program's arguments after its name, in UTF-8. On Windows they come from the wide command
// line, since `argv` holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> Arguments(int argc, char** argv);
// A path from UTF-8 text, such as an argument. On Windows a path made from a plain string takes
// it for the ANSI code page, which garbles names like "Dàdes €".
inline std::filesystem::path PathFromUtf8(const std::string& text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
// Makes the console show UTF-8 text as such (Windows; a terminal does already).
void Utf8Console();

} // namespace zendral::sys
