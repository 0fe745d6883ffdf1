#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

// The few operating-system calls the core makes, in one place: SistemaPosix.cpp on Linux,
// SistemaWindows.cpp on Windows. Files are plain integer descriptors on both; every call returns
// or sets an errno value, so the callers report failures the same way on both systems.
namespace zendral::sistema
{

enum class Apertura
{
    Lectura,              // read only
    LecturaEscritura,     // read and write, the file must exist
    LecturaEscrituraCrea, // read and write, created when missing, never truncated
    EscrituraNueva,       // write only, created or emptied
    // Read and write, created here and now: fails with EEXIST when the name exists in any form,
    // a symbolic link included, which is never followed. For temporary files.
    CreaExclusiva,
    // Read only, and the open itself never waits (on Linux, a FIFO without a writer would keep
    // a plain open waiting for ever). For files that must be regular ones: the caller refuses
    // anything else with Tamano before reading.
    LecturaSinEspera,
};

// On Windows, other programs (antivirus scanners, the search indexer) open a file for a moment;
// meanwhile opening, replacing or deleting it fails. Abrir, ReemplazoImpedido, Reemplazar and
// Borrar wait such a hold out: a sharing or lock violation, or "access denied" on a file that
// exists and may be changed, is tried again with growing pauses for about two seconds in all
// before the call fails (EAGAIN for a file in use). Lock conflicts (Bloquear) are never waited
// for: a lock is how another program says it holds a file. On Linux nothing holds a file so.

// Opens `archivo` in binary mode, not inherited by child processes. Returns the descriptor, or
// -1 with errno set.
int Abrir(const std::filesystem::path& archivo, Apertura apertura);
int Cerrar(int fd);

// Like read/write: bytes moved, or -1 with errno set.
std::int64_t Leer(int fd, void* datos, std::size_t tam);
std::int64_t Escribir(int fd, const void* datos, std::size_t tam);
// The same at an absolute offset, without moving anything a later Leer or Escribir uses.
std::int64_t LeerEn(int fd, void* datos, std::size_t tam, std::uint64_t posicion);
std::int64_t EscribirEn(int fd, const void* datos, std::size_t tam, std::uint64_t posicion);
// How many write calls Escribir and EscribirEn have made to the system in this process: how
// tests measure batching where the system keeps no count of its own (Wine).
std::uint64_t LlamadasEscritura();

// Size of the open file, or -1 with errno set; `normal` tells whether it is a regular file.
std::int64_t Tamano(int fd, bool& normal);
// Empties the open file. 0 or the errno of the failure.
int Vaciar(int fd);

// Writes the file's data and metadata (Sincronizar) or its data and what is needed to read it
// back (SincronizarDatos) to the disk. 0 or -1 with errno set.
int Sincronizar(int fd);
int SincronizarDatos(int fd);
// Makes a rename inside `directorio` durable, where the system allows it.
void SincronizarDirectorio(const std::filesystem::path& directorio);

// A lock on the whole file, however long it grows, taken without waiting. It belongs to the
// descriptor, so a second open of the file in this process conflicts as another process does.
// Changing the mode of a held lock is allowed. 0 or the errno of the failure; a conflict is
// EAGAIN or EACCES. On Linux both lock families other programs use are taken and honoured:
// record locks (open-file-description and POSIX ones conflict with each other) and flock.
int Bloquear(int fd, bool exclusivo);

// A second descriptor for the same open file: it shares the first one's locks, so reading and
// writing through it never conflict with them. -1 with errno set.
int Duplicar(int fd);

// Whether two paths name the same file (hard links included). False when either is missing.
bool MismoArchivo(const std::filesystem::path& a, const std::filesystem::path& b);
// Whether another program's open of `archivo` forbids replacing it (Windows: an open that does
// not share deletion, as programs open their tables by default; a rename over the file would
// then fail). Always false where open files can be replaced.
bool ReemplazoImpedido(const std::filesystem::path& archivo);

// Replaces `destino` with `origen` in one step (the old file or the new one, never neither).
// 0 or -1 with errno set.
int Reemplazar(const std::filesystem::path& origen, const std::filesystem::path& destino);
// Removes a file; a missing one is no failure. 0 or -1 with errno set.
int Borrar(const std::filesystem::path& archivo);
// Gives the empty open file `destino` the bytes of the open file `origen` by sharing its blocks
// copy-on-write (a reflink): a later change to either leaves the other as it was. 0, or -1 with
// errno set where the file system cannot (then the caller copies the bytes).
int Clonar(int origen, int destino);
// Creates one directory; an existing one is no failure. 0 or -1 with errno set.
int CrearDirectorio(const std::filesystem::path& directorio);

// Failure injection for tests: when set, every call above that changes a file (an open that
// creates or writes, a write, an emptying, a rename, a deletion, a clone, a new directory) first
// calls `corte` with the call's name and the file it acts on (the new name for a rename; empty
// for a call on an open file). A non-zero return makes the call fail with that errno value at
// once, never waited out as a passing hold is (an injected EAGAIN stands for a hold that outlasted
// the waiting); the function may also end the process, to stand for a crash at that point. The
// programs themselves never set it.
using Corte = int (*)(const char* llamada, const std::filesystem::path& archivo);
void FijarCorte(Corte corte);

std::tm HoraLocal(std::time_t t);

// The fixed folder where Velorin keeps its tables: C:\VTEMP on Windows. Elsewhere, where a
// Windows Velorin runs under Wine, the same folder on Wine's C: drive, in `winePrefix`
// (WINEPREFIX) or else in $HOME/.wine.
std::filesystem::path DirectorioTrabajoFijo(const char* winePrefix, const char* home);

// The folder that holds the running program's executable (where Velorin.ini and GestIB.chm
// stand beside it), or an empty path when the system cannot tell.
std::filesystem::path CarpetaEjecutable();

// Where Windows keeps a legacy program's own copy of `archivo` (a 32-bit program without a
// manifest, as Velorin is): when such a program may not write a file under Program Files,
// ProgramData or the Windows folder, Windows writes %LOCALAPPDATA%\VirtualStore\<the path after
// the drive> instead, and from then on that program reads the copy. Empty when the file lies
// elsewhere, and on systems without this redirection.
std::filesystem::path CopiaVirtualizada(const std::filesystem::path& archivo);

// The program's arguments after its name, in UTF-8. On Windows they come from the wide command
// line, since `argv` holds them in the ANSI code page, which cannot hold every name.
std::vector<std::string> Argumentos(int argc, char** argv);
// A path from UTF-8 text, such as an argument. On Windows a path made from a plain string takes
// it for the ANSI code page, which garbles names like "Dàdes €".
inline std::filesystem::path RutaUtf8(const std::string& texto)
{
    return std::filesystem::path(std::u8string(texto.begin(), texto.end()));
}
// Makes the console show UTF-8 text as such (Windows; a terminal does already).
void ConsolaUtf8();

} // namespace zendral::sistema
