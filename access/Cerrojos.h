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
// the rename and holds the new one right after it (Soltar / Sostener).
class CerrojoRun
{
public:
    // `archivos`: file names in `directorio` ("PROFT.DBF", "MATIB.MDX"), found in any letter
    // case. Missing files are not locked. Throws Error, holding nothing, when the directory is
    // missing or (when the run writes there, `escribe`) takes no new files, or when another
    // program holds one of the files.
    // `archivoRun`, when given, is the file whose lock makes runs on `directorio` take turns,
    // whatever tables exist (made when the run writes): another live run, in this process or
    // another, stops this one before it changes anything, with a message that says so.
    CerrojoRun(const std::filesystem::path& directorio, const std::vector<std::string>& archivos,
               bool escribe = true, const std::filesystem::path& archivoRun = {});
    ~CerrojoRun();
    CerrojoRun(const CerrojoRun&) = delete;
    CerrojoRun& operator=(const CerrojoRun&) = delete;

    const std::filesystem::path& Directorio() const { return m_directorio; }

private:
    void TomarRun(const std::filesystem::path& archivoRun, bool escribe);

    std::filesystem::path m_directorio;
    std::vector<std::filesystem::path> m_archivos;
    LockedFile m_run;
};

// How the refusal of a run that meets another live one begins; the directory follows.
extern const std::string kOtroRun;

namespace cerrojos
{

// Whether a live run (of this process, or another holding `archivoRun`'s lock) is on `directorio`.
bool RunEnCurso(const std::filesystem::path& directorio, const std::filesystem::path& archivoRun);

// A descriptor of `archivo` that shares the lock a live run holds on it, or -1 when no run holds
// it. The caller closes it.
int Prestado(const std::filesystem::path& archivo);

// Whether a live run holds `archivo` or its directory is the one a live run locked.
bool Sostenido(const std::filesystem::path& archivo);

// Whether the live run has let go of any file to replace or remove it (Soltar).
bool HuboCambios();

// Before `archivo` is replaced or removed: the run's hold on the old file goes.
void Soltar(const std::filesystem::path& archivo);

// After `archivo` was replaced by the file open as `fd` (locked): the run holds it through a
// duplicate. Nothing when no run holds that directory.
void Sostener(const std::filesystem::path& archivo, int fd);

// After `archivo` was replaced by a file that is not open: opens and locks it for the run.
void SostenerArchivo(const std::filesystem::path& archivo);

} // namespace cerrojos

// Checks that `directorio` exists and takes new files: creates an empty file there exclusively
// and removes it. Throws Error with a Spanish message saying which.
// `nombre` says what the directory is for people ("el directorio de trabajo").
void ComprobarDirectorioEscribible(const std::filesystem::path& directorio,
                                   const std::string& nombre = "el directorio de trabajo");

// The file in `directorio` named `nombre` in any letter case (Windows programs, also under Wine,
// may have written "proft.dbf"); the exact name when there is none.
std::filesystem::path BuscarArchivo(const std::filesystem::path& directorio, const std::string& nombre);

} // namespace zendral
