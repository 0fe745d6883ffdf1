#include "RunLock.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "Error.h"
#include "System.h"
#include "WorkDir.h"

#include <cerrno>
#include <map>
#include <utility>

namespace zendral
{
namespace
{

// The files the live run holds, by a key that ignores letter case in the name and spelling
// differences in the directory.
struct HeldFiles
{
    std::filesystem::path directory;
    std::map<std::string, LockedFile> files;
    int runs = 0;
    bool changes = false; // the run has let go of a file to replace or remove it
};

HeldFiles& Registry()
{
    static HeldFiles registry;
    return registry;
}

std::string Key(const std::filesystem::path& file)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(file, ec);
    if (ec) {
        p = file;
    }
    p = p.lexically_normal();
    std::string name = p.filename().string();
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return (p.parent_path() / name).string();
}

bool SameDirectory(const std::filesystem::path& a, const std::filesystem::path& b)
{
    return !a.empty() && !b.empty() && Key(a / "x") == Key(b / "x");
}

// How the run names a held file in its refusal: tables by their name, other files whole.
std::string DisplayName(const std::filesystem::path& file)
{
    std::string name = file.filename().string();
    const std::string ext = name.size() > 4 ? name.substr(name.size() - 4) : "";
    if (cp1252::EqualsNoCase(ext, ".DBF")) {
        return "La tabla " + name.substr(0, name.size() - 4);
    }
    return "El archivo " + name;
}

} // namespace

const std::string kOtherRun = "Otro proceso de Zendral está en curso sobre las tablas de ";

void CheckWritableDirectory(const std::filesystem::path& directory, const std::string& name)
{
    std::error_code ec;
    if (!std::filesystem::exists(directory, ec)) {
        throw Error("No existe " + name + " " + directory.string());
    }
    if (!std::filesystem::is_directory(directory, ec)) {
        throw Error("No es un directorio: " + directory.string());
    }
    try {
        NewFile probe(directory / "zendral-prueba");
    } catch (const Error&) {
        throw Error("No se puede escribir en " + name + " " + directory.string() + ": " +
                    SystemReason(errno));
    }
}

RunLock::RunLock(const std::filesystem::path& directory, const std::vector<std::string>& files, bool writes,
                 const std::filesystem::path& runFile)
    : m_directory(directory)
{
    HeldFiles& r = Registry();
    if (r.runs > 0) {
        throw Error("Ya hay un proceso en marcha sobre las tablas");
    }
    std::error_code ec;
    if (!writes && !std::filesystem::is_directory(directory, ec)) {
        throw Error("No existe el directorio de trabajo " + directory.string());
    }
    if (writes) {
        try {
            CheckWritableDirectory(directory);
        } catch (const Error& e) {
            throw Error(std::string("No se pueden cambiar las tablas: ") + e.what());
        }
    }
    if (!runFile.empty()) {
        TakeRunLock(runFile, writes);
    }
    std::map<std::string, LockedFile> taken;
    for (const std::string& name : files) {
        const std::filesystem::path file = FindFile(directory, name);
        if (!std::filesystem::exists(file, ec)) {
            continue;
        }
        LockedFile f = LockedFile::Open(file, LockedFile::Mode::Exclusive);
        // A file the run will replace must also be free of opens that forbid its replacement:
        // found only at the rename, the run would stop with some tables already replaced.
        if (!f.isOpen() || (writes && sys::ReplaceBlocked(file))) {
            throw Error(DisplayName(file) + " está en uso por otro programa");
        }
        m_files.push_back(file);
        taken.emplace(Key(file), std::move(f));
    }
    r.directory = directory;
    r.files = std::move(taken);
    r.runs = 1;
    r.changes = false;
}

void RunLock::TakeRunLock(const std::filesystem::path& runFile, bool writes)
{
    if (writes && sys::MakeDirectory(runFile.parent_path()) != 0) {
        throw Error("No se pueden cambiar las tablas: no se puede escribir en " +
                    runFile.parent_path().string() + ": " + SystemReason(errno));
    }
    // A run that only reads and finds no such file can meet no run that writes: that one would
    // have made it.
    const int fd = sys::Open(runFile, writes ? sys::OpenMode::ReadWriteCreate : sys::OpenMode::Read);
    if (fd < 0) {
        if (writes) {
            throw Error("No se pueden cambiar las tablas: no se puede escribir el archivo " +
                        runFile.string() + ": " + SystemReason(errno));
        }
        return;
    }
    const int err = sys::Lock(fd, writes);
    if (err != 0) {
        sys::Close(fd);
        if (err == EAGAIN || err == EACCES || err == EWOULDBLOCK) {
            throw Error(kOtherRun + m_directory.string() + ": espere a que termine y vuelva a intentarlo");
        }
        throw Error("No se puede bloquear el archivo " + runFile.string() + ": " + SystemReason(err));
    }
    m_run = LockedFile::Own(fd);
}

RunLock::~RunLock()
{
    HeldFiles& r = Registry();
    r.files.clear();
    r.directory.clear();
    r.runs = 0;
}

namespace runlock
{

bool RunInProgress(const std::filesystem::path& directory, const std::filesystem::path& runFile)
{
    const HeldFiles& r = Registry();
    if (r.runs > 0 && SameDirectory(r.directory, directory)) {
        return true;
    }
    const int fd = sys::Open(runFile, sys::OpenMode::Read);
    if (fd < 0) {
        return false;
    }
    const int err = sys::Lock(fd, false);
    sys::Close(fd);
    return err == EAGAIN || err == EACCES || err == EWOULDBLOCK;
}

int Borrow(const std::filesystem::path& file)
{
    HeldFiles& r = Registry();
    if (r.runs == 0) {
        return -1;
    }
    const auto it = r.files.find(Key(file));
    if (it == r.files.end() || !it->second.isOpen()) {
        return -1;
    }
    return sys::Duplicate(it->second.fd());
}

bool AnyReleased() { return Registry().runs > 0 && Registry().changes; }

bool IsHeld(const std::filesystem::path& file)
{
    const HeldFiles& r = Registry();
    return r.runs > 0 && SameDirectory(r.directory, file.parent_path());
}

void Release(const std::filesystem::path& file)
{
    HeldFiles& r = Registry();
    if (r.runs > 0) {
        r.files.erase(Key(file));
        r.changes = true;
    }
}

void Hold(const std::filesystem::path& file, int fd)
{
    HeldFiles& r = Registry();
    if (!IsHeld(file)) {
        return;
    }
    const int copy = sys::Duplicate(fd);
    if (copy >= 0) {
        r.files[Key(file)] = LockedFile::Adopt(copy);
    }
}

void HoldFile(const std::filesystem::path& file)
{
    HeldFiles& r = Registry();
    if (!IsHeld(file)) {
        return;
    }
    try {
        LockedFile f = LockedFile::Open(file, LockedFile::Mode::Exclusive);
        if (f.isOpen()) {
            r.files[Key(file)] = std::move(f);
        }
    } catch (const Error&) {
        // The file is in place; only its lock for the rest of the run is missing.
    }
}

} // namespace runlock

} // namespace zendral
