#pragma once

#include "RunLock.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The way back for Velorin's tables: before every rebuild the tables about to be replaced are
// kept in zendral/copias/AAAAMMDD-HHMMSS/ inside the working directory (files of their own; the
// newest 10 kept, and beyond them one a day for 30 days), a marker in zendral/ says while a run is
// changing the tables and which copy gives back the set from before, and a copy can be put back,
// each table atomically and the whole set all or nothing.
namespace zendral::copias
{

// The tables the centre import replaces, in run order, and the index beside MATIB.
const std::vector<std::string>& Tablas();
// Their files as the run locks them: the eight .DBF and MATIB.MDX.
const std::vector<std::string>& Archivos();

// How many copies are always kept, and for how many days one copy a day is kept beyond them.
constexpr std::size_t kCopiasGuardadas = 10;
constexpr int kDiasGuardados = 30;

struct Copia
{
    std::string nombre; // AAAAMMDD-HHMMSS, with -2, -3 … when two fall in one second
    std::filesystem::path carpeta;
    std::string fecha;     // DD/MM/AAAA HH:MM:SS
    std::string motivo;    // what made it
    std::string documento; // the centre document of the run, or empty
    // Records per table, as each table's header counts them, in run order.
    std::vector<std::pair<std::string, std::uint32_t>> registros;
    // Tables that did not exist when the copy was made: restoring it removes them.
    std::vector<std::string> ausentes;
    // Why the copy cannot be used (its description is missing or unreadable), or empty.
    std::string defecto;
};

// zendral/copias/ inside the working directory.
std::filesystem::path CarpetaCopias(const std::filesystem::path& dir);

// The copies of `dir`, newest first, damaged ones included (with `defecto`). Unfinished ones are
// not listed.
std::vector<Copia> Listar(const std::filesystem::path& dir);

// One line per copy for people: name, date, document, records per table.
std::string Describir(const Copia& copia);

// Throws Error, naming the file and the fault, unless every table `copia` lists is a regular file
// in it, a readable table with the record count the description gives, and MATIB.MDX is there
// and is MATIB's own index when the copied MATIB announces one.
void Comprobar(const Copia& copia);

// Keeps the tables (and MATIB.MDX) as they are now in a new copy described by `motivo` and
// `documento`, with the tables that do not exist recorded as absent. When they are byte for byte
// the newest copy's, that copy is returned instead of a new one. Call it under a RunLock on
// `dir`. Prunes the copies unless `podar` is false. Throws Error when the copy cannot be made.
Copia Guardar(const std::filesystem::path& dir, const std::string& motivo, const std::string& documento,
              bool podar = true);

// Keeps the newest kCopiasGuardadas copies and, beyond them, the newest copy of each of the last
// kDiasGuardados days that has none among the kept ones; the copy a marker names is kept too.
void Podar(const std::filesystem::path& dir);

// Removes what killed or failed runs left: our temporary files beside the tables and in
// zendral/, and unfinished copies. Only under the run's lock (RunLock with ArchivoRun), so that
// no live run's files go. Best effort: never throws.
void LimpiarRestos(const std::filesystem::path& dir) noexcept;

// The marker of a run that is changing the tables: written when made, removed when it goes
// unless Conservar was called. It names the copy that gives back the set from before.
class Marca
{
public:
    Marca(const std::filesystem::path& dir, const std::string& proceso, const std::string& documento,
          const std::string& copia);
    ~Marca();
    Marca(const Marca&) = delete;
    Marca& operator=(const Marca&) = delete;

    // The tables could not be put back: the marker stays, pointing at the restore.
    void Conservar() { m_conservar = true; }

private:
    std::filesystem::path m_archivo;
    bool m_conservar = false;
};

// The warning for a marker left by a run that did not end (killed, power lost, or its way back
// failed), or nothing; nothing either while that run is still going.
std::optional<std::string> AvisoInterrumpido(const std::filesystem::path& dir);

// What the centre import holds while it runs: the run's lock and the locks on every table and
// index it writes (and the check that the directory takes new files), then the removal of
// leftovers of killed runs, a copy of the tables and the marker. When it goes, the marker is
// removed unless the tables could not be put back.
class GuardaImportacion
{
public:
    GuardaImportacion(const std::filesystem::path& dir, const std::filesystem::path& documento);
    ~GuardaImportacion();
    GuardaImportacion(const GuardaImportacion&) = delete;
    GuardaImportacion& operator=(const GuardaImportacion&) = delete;

    // The copy made (or found identical) before the run.
    const Copia& copia() const { return m_copia; }

    // After an error: when the run had replaced or removed any file, puts the copy back so that
    // the directory holds the complete set from before. Returns the sentence that tells the user
    // what became of the tables (empty when nothing had changed). When putting them back fails
    // too, the marker stays and the sentence points at the restore. Never throws.
    std::string Deshacer() noexcept;

private:
    std::filesystem::path m_dir;
    RunLock m_cerrojo;
    Copia m_copia;
    std::optional<Marca> m_marca;
};

// The copy `nombre` of `dir`; with no name, the copy that the marker of a run that did not end
// names, else the newest: the one Restaurar would put back. Throws Error when there is none.
Copia Elegir(const std::filesystem::path& dir, const std::string& nombre);

// Puts copy `nombre` back in place of the tables, under the same locks as an import, after
// checking it (Comprobar) and keeping the current tables as a copy of their own. With no name,
// the copy that the marker of a run that did not end names, else the newest. Each table is
// replaced atomically and the whole set all or nothing: a restore that fails part-way puts back
// the tables of before, and if that fails too the marker stays naming this copy, so that the
// next restore without a name finishes it. A table the copy records as absent is removed; one it
// does not mention stays. Returns the copy put back. Throws Error when there is none, when it is
// damaged, when a table is held, or when a file cannot be written.
Copia Restaurar(const std::filesystem::path& dir, const std::string& nombre);

} // namespace zendral::copias
