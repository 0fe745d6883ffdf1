#pragma once

#include "Cerrojos.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The way back for Velorin's tables: before every rebuild the tables about to be replaced are
// kept in zendral/copias/AAAAMMDD-HHMMSS/ inside the working directory (hard links where the file
// system allows, copies otherwise; newest 10 kept), a marker in zendral/ says while a run is
// changing the tables, and a copy can be put back, each table atomically.
namespace zendral::copias
{

// The tables the centre import replaces, in run order, and the index beside MATIB.
const std::vector<std::string>& Tablas();
// Their files as the run locks them: the eight .DBF and MATIB.MDX.
const std::vector<std::string>& Archivos();

// How many copies are kept.
constexpr std::size_t kCopiasGuardadas = 10;

struct Copia
{
    std::string nombre; // AAAAMMDD-HHMMSS, with -2, -3 … when two fall in one second
    std::filesystem::path carpeta;
    std::string fecha;     // DD/MM/AAAA HH:MM:SS
    std::string motivo;    // what made it
    std::string documento; // the centre document of the run, or empty
    // Records per table, as each table's header counts them, in run order.
    std::vector<std::pair<std::string, std::uint32_t>> registros;
};

// zendral/copias/ inside the working directory.
std::filesystem::path CarpetaCopias(const std::filesystem::path& dir);

// The copies of `dir`, newest first. Unfinished ones are not listed.
std::vector<Copia> Listar(const std::filesystem::path& dir);

// One line per copy for people: name, date, document, records per table.
std::string Describir(const Copia& copia);

// Copies the tables that exist (and MATIB.MDX) into a new copy, described by `motivo` and
// `documento`; nothing when no table exists. Call it under a CerrojoRun on `dir`. Keeps the
// newest kCopiasGuardadas unless `podar` is false. Throws Error when the copy cannot be made.
std::optional<Copia> Guardar(const std::filesystem::path& dir, const std::string& motivo,
                             const std::string& documento, bool podar = true);

// Removes all but the newest `guardar` copies.
void Podar(const std::filesystem::path& dir, std::size_t guardar = kCopiasGuardadas);

// A copy whose files are still the live tables' own (hard links to tables the run did not
// replace) gets files of its own, so that later changes to those tables leave it as it was.
// Best effort: never throws.
void Separar(const std::filesystem::path& dir, const Copia& copia) noexcept;

// Removes the temporary files that a killed run left beside the tables.
void LimpiarRestos(const std::filesystem::path& dir) noexcept;

// The marker of a run that is changing the tables: written when made, removed when it goes.
class Marca
{
public:
    Marca(const std::filesystem::path& dir, const std::string& proceso, const std::string& documento);
    ~Marca();
    Marca(const Marca&) = delete;
    Marca& operator=(const Marca&) = delete;

private:
    std::filesystem::path m_archivo;
};

// The warning for a marker left by a run that did not end (killed, power lost), or nothing.
std::optional<std::string> AvisoInterrumpido(const std::filesystem::path& dir);

// What the centre import holds while it runs: the locks on every table and index it writes (and
// the check that the directory takes new files), then a copy of the tables, the removal of
// leftovers of killed runs and the marker. When it goes, the copy gets files of its own where a
// table was not replaced, and the marker is removed.
class GuardaImportacion
{
public:
    GuardaImportacion(const std::filesystem::path& dir, const std::filesystem::path& documento);
    ~GuardaImportacion();
    GuardaImportacion(const GuardaImportacion&) = delete;
    GuardaImportacion& operator=(const GuardaImportacion&) = delete;

    // The copy made before the run, if any table existed.
    const std::optional<Copia>& copia() const { return m_copia; }

private:
    std::filesystem::path m_dir;
    CerrojoRun m_cerrojo;
    std::optional<Copia> m_copia;
    std::optional<Marca> m_marca;
};

// Puts copy `nombre` (the newest when empty) back in place of the tables, under the same locks
// as an import, after saving the current tables as a copy of their own. Each table is replaced
// atomically; a table the copy does not hold is removed. Returns the copy put back. Throws Error
// when there is none, when a table is held, or when a file cannot be written.
Copia Restaurar(const std::filesystem::path& dir, const std::string& nombre);

} // namespace zendral::copias
