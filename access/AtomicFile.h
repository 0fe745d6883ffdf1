#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zendral
{

// A new file for `target`, written beside it under a temporary name of its own and put in its
// place by Confirmar, in one step: readers of `target` see the old file or the new one, never a
// part. The temporary file is made exclusively (never through a link), and it is locked while it
// is open, so that a cleanup of leftovers tells it from one a killed run left (IsOrphan). Unless
// Confirmar succeeded, it is removed when the object goes.
//
// The calls that may fail return 0 or the errno value of the failure; each caller says in its
// own words what could not be written.
class NewFile
{
public:
    // Throws Error ("No se puede escribir el archivo DESTINO: …") when no file can be made.
    explicit NewFile(std::filesystem::path target);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    const std::filesystem::path& target() const { return m_target; }
    const std::filesystem::path& temporary() const { return m_temporary; }
    // The open file, or -1 once closed or handed over.
    int fd() const { return m_fd; }

    int Write(std::string_view data);
    // The bytes of the file `source` (through a reflink where the file system has one): a file of
    // its own, which later changes to `source` leave as it was.
    int CopyFrom(const std::filesystem::path& source);
    // Data and metadata on the disk.
    int Sync();
    int Close();
    // Hands the open descriptor (and its lock) to the caller, who closes it; the file itself is
    // still this object's to put in place or to remove.
    int Detach();
    // Syncs the file if it is still open here, renames it over `target` and makes the rename
    // durable (unless `syncFolder` is false: the caller syncs the folder once for several
    // files). The file stays open (fd()) where it was: it is `target` now.
    int Commit(bool syncFolder = true);

private:
    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    int m_fd = -1;
    bool m_committed = false;
};

// Whether `file` is a temporary file of ours ("NAME.xxxxxxxx.tmp") that no live owner holds
// open: a leftover of a killed or failed run. `base` is the NAME part it must have (any letter
// case), or empty for any. Never true for links or directories.
bool IsOrphan(const std::filesystem::path& file, const std::vector<std::string>& bases = {});

// Removes the leftovers of ours in `directory` (see IsOrphan). Best effort.
void RemoveOrphans(const std::filesystem::path& directory,
                   const std::vector<std::string>& bases = {}) noexcept;

// Writes the whole file beside its target, flushes it to disk and renames it over the target, so
// that readers see either the old file or the new one, never a part. The file beside it has a
// name of its own, made exclusively (a leftover file or link of that name is never followed). On
// failure the target is left as it was, the file beside it is removed and Error is thrown.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Writes all of `data` to `fd`; 0 or the errno of the failure.
int WriteAll(int fd, std::string_view data);

// Copies the bytes of the file `source` into the open file `fd` from its start (a reflink where
// the file system allows it). 0 or the errno value of the failure.
int CopyBytes(const std::filesystem::path& source, int fd);

} // namespace zendral
