#include "System.h"
#include "SystemShared.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <initializer_list>
#include <io.h>
#include <utility>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace zendral::sys
{
namespace
{

std::atomic<std::uint64_t> writeCalls{0};

// The errno value our messages know for a Windows error code.
int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EAGAIN;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOTSUP;
    default:
        return EIO;
    }
}

int Failure()
{
    errno = ErrnoOf(GetLastError());
    return -1;
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED o = {};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// Runs the failure-injection hook; true, with errno set, when it asks the call to fail.
bool Injected(const char* call, const std::filesystem::path& file = {})
{
    if (const int err = BeforeChange(call, file); err != 0) {
        errno = err;
        return true;
    }
    return false;
}

DWORD Chunk(std::size_t size) { return size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size); }

// Other programs (antivirus scanners, the search indexer, backup and synchronisation tools) open
// a file for a moment, most often just after it was written; meanwhile opening, renaming or
// deleting it fails with a sharing or lock violation, or with "access denied". Such a failure is
// tried again with growing pauses (25 ms, 50 ms, 75 ms, ...), about two seconds in all, as
// SQLite's Windows layer does, and only then reported. A failure that the injection hook asks for
// (SetFaultHook) is reported at once: it stands for what is left after the waiting.
class Retries
{
public:
    // Whether the failed call is to be made again: `transient` tells that its error is one a
    // passing hold gives, and time is left. Makes the pause before it returns true.
    bool Again(bool transient)
    {
        if (!transient || m_waited >= kTotalMs) {
            return false;
        }
        const DWORD pause = std::min<DWORD>(kPasoMs * ++m_attempts, kTotalMs - m_waited);
        Sleep(pause);
        m_waited += pause;
        return true;
    }

private:
    static constexpr DWORD kPasoMs = 25;
    static constexpr DWORD kTotalMs = 2000;
    DWORD m_attempts = 0;
    DWORD m_waited = 0;
};

// What a name stands for when a call on it was refused.
enum class State
{
    Missing,  // nothing by that name
    Folder,   // a directory
    ReadOnly, // a read-only file
    Normal,   // a file that may be written
    Unknown,  // unknown: a file being deleted, for one, whose attributes cannot be read
};

State StateOf(const std::filesystem::path& file)
{
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? State::Missing
                                                                              : State::Unknown;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return State::Folder;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? State::ReadOnly : State::Normal;
}

// Sharing and lock violations always come from another open of the file. "Access denied" does too
// when the file exists and may be changed; for a directory, a read-only file (when it is to be
// changed) or a missing file (so the directory itself refuses) it lasts, and is not waited out.
bool Transient(DWORD error, const std::filesystem::path& file, bool changes)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        return true;
    }
    if (error != ERROR_ACCESS_DENIED) {
        return false;
    }
    const State state = StateOf(file);
    return state == State::Normal || state == State::Unknown || (state == State::ReadOnly && !changes);
}

// The same for a rename: "access denied" lasts when the source is missing or a directory, or the
// target a directory or a read-only file.
bool TransientRename(DWORD error, const std::filesystem::path& source, const std::filesystem::path& target)
{
    if (error != ERROR_ACCESS_DENIED) {
        return Transient(error, target, true);
    }
    const State o = StateOf(source);
    const State d = StateOf(target);
    return o != State::Missing && o != State::Folder && d != State::Folder && d != State::ReadOnly;
}

// Whether an open of `file` without FILE_SHARE_DELETE stands now, looked at once. Opening for
// deletion is refused while any other open of the file does not share deletion.
bool NoDeleteSharing(const std::filesystem::path& file, DWORD& error)
{
    const HANDLE h = CreateFileW(file.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return error == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(h);
    error = ERROR_SUCCESS;
    return false;
}

// The errno of a rename or deletion that still fails after the waiting: Windows answers "access
// denied" when the target of a rename, or a file being deleted, is open elsewhere; told as the
// file being in use, as the sharing violation of the other cases is.
int ChangeErrno(DWORD error, std::initializer_list<const std::filesystem::path*> files)
{
    if (error == ERROR_ACCESS_DENIED) {
        for (const std::filesystem::path* file : files) {
            DWORD ignored = 0;
            if (NoDeleteSharing(*file, ignored)) {
                return EAGAIN;
            }
        }
    }
    return ErrnoOf(error);
}

} // namespace

int Open(const std::filesystem::path& file, OpenMode mode)
{
    DWORD access = GENERIC_READ | GENERIC_WRITE;
    DWORD creation = OPEN_EXISTING;
    int crtFlags = _O_BINARY | _O_NOINHERIT;
    switch (mode) {
    case OpenMode::Read:
    case OpenMode::ReadNoWait: // no open waits here
        access = GENERIC_READ;
        crtFlags |= _O_RDONLY;
        break;
    case OpenMode::ReadWrite:
        crtFlags |= _O_RDWR;
        break;
    case OpenMode::ReadWriteCreate:
        creation = OPEN_ALWAYS;
        crtFlags |= _O_RDWR;
        break;
    case OpenMode::WriteNew:
        access = GENERIC_WRITE;
        creation = CREATE_ALWAYS;
        crtFlags |= _O_WRONLY;
        break;
    case OpenMode::CreateExclusive:
        // CREATE_NEW fails on any existing name, a symbolic link included.
        creation = CREATE_NEW;
        crtFlags |= _O_RDWR;
        break;
    }
    if (mode != OpenMode::Read && mode != OpenMode::ReadNoWait && mode != OpenMode::ReadWrite &&
        Injected("open", file)) {
        return -1;
    }
    // Sharing everything, deletion and renaming included, as POSIX files do: exclusion comes from
    // the locks alone. A passing hold by another program is waited out (see Retries).
    Retries retries;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (;;) {
        h = CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        creation, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            break;
        }
        const DWORD error = GetLastError();
        if (!retries.Again(Transient(error, file, (access & GENERIC_WRITE) != 0))) {
            errno = ErrnoOf(error);
            return -1;
        }
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), crtFlags);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
    }
    return fd;
}

int Close(int fd) { return _close(fd); }

std::int64_t Read(int fd, void* data, std::size_t size)
{
    DWORD n = 0;
    if (!ReadFile(HandleOf(fd), data, Chunk(size), &n, nullptr)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : Failure();
    }
    return n;
}

std::uint64_t WriteCalls() { return writeCalls; }

std::int64_t Write(int fd, const void* data, std::size_t size)
{
    if (Injected("write")) {
        return -1;
    }
    ++writeCalls;
    DWORD n = 0;
    if (!WriteFile(HandleOf(fd), data, Chunk(size), &n, nullptr)) {
        return Failure();
    }
    return n;
}

std::int64_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset)
{
    OVERLAPPED o = At(offset);
    DWORD n = 0;
    if (!ReadFile(HandleOf(fd), data, Chunk(size), &n, &o)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : Failure();
    }
    return n;
}

std::int64_t WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset)
{
    if (Injected("pwrite")) {
        return -1;
    }
    ++writeCalls;
    OVERLAPPED o = At(offset);
    DWORD n = 0;
    if (!WriteFile(HandleOf(fd), data, Chunk(size), &n, &o)) {
        return Failure();
    }
    return n;
}

std::int64_t Size(int fd, bool& normal)
{
    const HANDLE h = HandleOf(fd);
    normal = GetFileType(h) == FILE_TYPE_DISK;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(h, &size)) {
        return Failure();
    }
    return size.QuadPart;
}

int Truncate(int fd)
{
    if (Injected("ftruncate")) {
        return errno;
    }
    FILE_END_OF_FILE_INFO end = {};
    if (!SetFileInformationByHandle(HandleOf(fd), FileEndOfFileInfo, &end, sizeof end)) {
        return ErrnoOf(GetLastError());
    }
    return 0;
}

int Sync(int fd) { return FlushFileBuffers(HandleOf(fd)) ? 0 : Failure(); }

int SyncData(int fd) { return Sync(fd); }

// A rename made with MOVEFILE_WRITE_THROUGH is on the disk when it returns; directories cannot be
// flushed on their own.
void SyncDirectory(const std::filesystem::path&) {}

// LockFileEx on the whole range a file can have. A handle's locks do not convert from one mode to
// the other, so a held lock is released first; when the new one is refused the old one is taken
// back.
int Lock(int fd, bool exclusive)
{
    const HANDLE h = HandleOf(fd);
    OVERLAPPED o = At(0);
    const bool hadAny = UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &o) != 0;
    const auto take = [&](bool excl) {
        OVERLAPPED from = At(0);
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (excl ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        return LockFileEx(h, flags, 0, MAXDWORD, MAXDWORD, &from) != 0;
    };
    if (take(exclusive)) {
        return 0;
    }
    const int err = ErrnoOf(GetLastError());
    if (hadAny) {
        // The mode held before: only a shared lock can have been refused an upgrade.
        take(!exclusive);
    }
    return err;
}

int Duplicate(int fd)
{
    HANDLE copy = nullptr;
    const HANDLE process = GetCurrentProcess();
    if (!DuplicateHandle(process, HandleOf(fd), process, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return Failure();
    }
    const int newFile = _open_osfhandle(reinterpret_cast<intptr_t>(copy), _O_BINARY | _O_NOINHERIT | _O_RDWR);
    if (newFile < 0) {
        CloseHandle(copy);
        errno = EMFILE;
    }
    return newFile;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    const auto identity = [](const std::filesystem::path& p, BY_HANDLE_FILE_INFORMATION& info) {
        const HANDLE h = CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia = {};
    BY_HANDLE_FILE_INFORMATION ib = {};
    return identity(a, ia) && identity(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// A hold that outlasts the waiting (see Retries) forbids the replacement; a passing one does
// not.
bool ReplaceBlocked(const std::filesystem::path& file)
{
    Retries retries;
    DWORD error = ERROR_SUCCESS;
    while (NoDeleteSharing(file, error)) {
        if (!retries.Again(true)) {
            return true;
        }
    }
    return false;
}

// The target must not be open anywhere, this process included: the run's lock on a table is let
// go just before its replacement and taken again on the new file (RunLock.cpp). The source may
// be open, as every file is opened sharing deletion. A passing hold on either is waited out.
int Replace(const std::filesystem::path& source, const std::filesystem::path& target)
{
    if (Injected("rename", target)) {
        return -1;
    }
    Retries retries;
    while (!MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        if (!retries.Again(TransientRename(error, source, target))) {
            errno = ChangeErrno(error, {&source, &target});
            return -1;
        }
    }
    return 0;
}

int Remove(const std::filesystem::path& file)
{
    if (Injected("unlink", file)) {
        return -1;
    }
    Retries retries;
    while (!DeleteFileW(file.c_str())) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return 0;
        }
        if (!retries.Again(Transient(error, file, true))) {
            errno = ChangeErrno(error, {&file});
            return -1;
        }
    }
    return 0;
}

int Clone(int source, int target)
{
    if (Injected("clone")) {
        return -1;
    }
    // Block cloning exists only on ReFS volumes; the caller copies the bytes.
    (void)source;
    (void)target;
    errno = ENOTSUP;
    return -1;
}

int MakeDirectory(const std::filesystem::path& directory)
{
    if (Injected("mkdir", directory)) {
        return -1;
    }
    if (CreateDirectoryW(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) {
        return 0;
    }
    return Failure();
}

std::tm LocalTime(std::time_t t)
{
    std::tm r = {};
    localtime_s(&r, &t);
    return r;
}

std::vector<std::string> Arguments(int, char**)
{
    std::vector<std::string> args;
    int n = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (wide == nullptr) {
        return args;
    }
    for (int i = 1; i < n; ++i) {
        const int len = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(len > 0 ? static_cast<std::size_t>(len) : 1u, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), len, nullptr, nullptr);
        arg.resize(arg.size() - 1);
        args.push_back(std::move(arg));
    }
    LocalFree(wide);
    return args;
}

void Utf8Console() { SetConsoleOutputCP(CP_UTF8); }

std::filesystem::path FixedWorkingDirectory(const char*, const char*) { return L"C:\\VTEMP"; }

std::filesystem::path ExecutableFolder()
{
    // Long paths too: the buffer grows until the whole name fits.
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (n == 0) {
            return {};
        }
        if (n < name.size()) {
            name.resize(n);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2);
    }
}

namespace
{

// An environment variable's value, or empty text when it is not set.
std::wstring Environment(const wchar_t* name)
{
    std::wstring value(256, L'\0');
    for (;;) {
        const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);
    }
}

} // namespace

std::filesystem::path VirtualStoreCopy(const std::filesystem::path& file)
{
    // %LOCALAPPDATA% names the user's folder (a test may name one of its own).
    const std::wstring local = Environment(L"LOCALAPPDATA");
    std::error_code ec;
    std::filesystem::path filePath = std::filesystem::absolute(file, ec);
    if (local.empty() || ec) {
        return {};
    }
    // Windows compares the long form of the path (C:\PROGRA~2 is C:\Program Files (x86)).
    std::wstring folder = filePath.parent_path().wstring();
    if (const DWORD n = GetLongPathNameW(folder.c_str(), nullptr, 0); n > 0) {
        std::wstring longPath(n, L'\0');
        const DWORD m = GetLongPathNameW(folder.c_str(), longPath.data(), n);
        if (m > 0 && m < n) {
            longPath.resize(m);
            filePath = std::filesystem::path(longPath) / filePath.filename();
        }
    }
    filePath = filePath.lexically_normal();
    const std::wstring text = filePath.wstring();
    // The folders Windows redirects: both Program Files, ProgramData and the Windows folder.
    for (const wchar_t* variable :
         {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432", L"ProgramData", L"SystemRoot"}) {
        std::wstring root = Environment(variable);
        while (!root.empty() && (root.back() == L'\\' || root.back() == L'/')) {
            root.pop_back();
        }
        const int longName = static_cast<int>(root.size());
        if (root.empty() || text.size() <= root.size() + 1 || text[root.size()] != L'\\' ||
            CompareStringOrdinal(text.c_str(), longName, root.c_str(), longName, TRUE) != CSTR_EQUAL) {
            continue;
        }
        // C:\Program Files (x86)\Velorin\Velorin.ini keeps "Program Files (x86)\Velorin\Velorin.ini".
        return std::filesystem::path(local) / L"VirtualStore" / filePath.relative_path();
    }
    return {};
}

} // namespace zendral::sys
