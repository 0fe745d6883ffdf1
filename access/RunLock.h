#pragma once

#include "FileLock.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zendral
{

// The locks of one run, taken before it changes anything: every table (and index) it will
// replace or read, each exclusively, and a check that the directory takes new files. While it
// lives, the engine's own opens of those files inside this process share these locks instead of
// conflicting with them (see LockedFile), and a table that a stage replaces is held again under
// its new file.
//
// Locks belong to an open file (Linux: the open file description; Windows: the file object), so
// the engine's opens get a duplicate of the held descriptor, which shares its lock. Windows cannot
// rename over a file that is open anywhere, so a replacement lets go of the old file just before
// the rename and holds the new one right after it (Release / Hold).
class RunLock
{
public:
    // `files`: file names in `directory` ("PROFT.DBF", "MATIB.MDX"), found in any letter
    // case. Missing files are not locked. Throws Error, holding nothing, when the directory is
    // missing or (when the run writes there, `writes`) takes no new files, or when another
    // program holds one of the files.
    // `runFile`, when given, is the file whose lock makes runs on `directory` take turns,
    // whatever tables exist (made when the run writes): another live run, in this process or
    // another, stops this one before it changes anything, with a message that says so.
    RunLock(const std::filesystem::path& directory, const std::vector<std::string>& files, bool writes = true,
            const std::filesystem::path& runFile = {});
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    const std::filesystem::path& directory() const { return m_directory; }

private:
    void TakeRunLock(const std::filesystem::path& runFile, bool writes);

    std::filesystem::path m_directory;
    std::vector<std::filesystem::path> m_files;
    LockedFile m_run;
};

// How the refusal of a run that meets another live one begins; the directory follows.
extern const std::string kOtherRun;

namespace runlock
{

// Whether a live run (of this process, or another holding `runFile`'s lock) is on `directory`.
bool RunInProgress(const std::filesystem::path& directory, const std::filesystem::path& runFile);

// A descriptor of `file` that shares the lock a live run holds on it, or -1 when no run holds
// it. The caller closes it.
int Borrow(const std::filesystem::path& file);

// Whether a live run holds `file` or its directory is the one a live run locked.
bool IsHeld(const std::filesystem::path& file);

// Whether the live run has let go of any file to replace or remove it (Release).
bool AnyReleased();

// Before `file` is replaced or removed: the run's hold on the old file goes.
void Release(const std::filesystem::path& file);

// After `file` was replaced by the file open as `fd` (locked): the run holds it through a
// duplicate. Nothing when no run holds that directory.
void Hold(const std::filesystem::path& file, int fd);

// After `file` was replaced by a file that is not open: opens and locks it for the run.
void HoldFile(const std::filesystem::path& file);

} // namespace runlock

// Checks that `directory` exists and takes new files: creates an empty file there exclusively
// and removes it. Throws Error with a Spanish message saying which.
// `name` says what the directory is for people ("el directorio de trabajo").
void CheckWritableDirectory(const std::filesystem::path& directory,
                            const std::string& name = "el directorio de trabajo");

} // namespace zendral
