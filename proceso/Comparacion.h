#pragma once

#include "Avisos.h"
#include "Copias.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// What changes from one set of Velorin's tables to another: before an import (the tables it would
// write), after it (against the copy it made first) and before a restore (against the copy put
// back). Tables with a GestIB code (CODI) pair their records by it, the n-th record of a code
// before with the n-th one after; the others compare whole records. Tables are read with our own
// engine, opened shared: nothing is written.
namespace zendral::comparacion
{

// How many records of a table without GestIB codes are shown from each side.
inline constexpr std::size_t kPrimeros = 5;

enum class Clase
{
    Abreviatura, // the GestIB code stays and the abbreviation Velorin knows it by changes
    Eliminado,
    Nuevo,
    Cambiado,
};

// A field's value before and after, UTF-8 as shown to people (see TextoVisible).
struct Valor
{
    std::string campo;
    std::string antes;
    std::string despues;
};

// One record that changes.
struct Cambio
{
    Clase clase;
    std::string tabla;
    // The GestIB element and its name ("PLACA P2 (Pons Vidal, Joan)"); empty in a table without
    // GestIB codes.
    std::string elemento;
    // A changed record: each field that changes, the abbreviation first. A record that comes or
    // goes: its fields that are not empty.
    std::vector<Valor> valores;
    // An abbreviation change: the element that has the old abbreviation afterwards, or empty.
    std::string ocupante;

    // The change in one line, without its kind: "PLACA P9 (Joan Pons): ABREV «JOAN», …".
    std::string Linea() const;
};

// The changes of one table.
struct Tabla
{
    std::string nombre;
    bool antes = false;   // the table exists before
    bool despues = false; // and after
    bool conCodigo = false;
    std::size_t registrosAntes = 0;
    std::size_t registrosDespues = 0;
    std::size_t abreviaturas = 0;
    std::size_t eliminados = 0;
    std::size_t nuevos = 0;
    std::size_t cambiados = 0;
    // With codes, every change; without them, the first kPrimeros records that go and that come.
    std::vector<Cambio> cambios;

    bool SinCambios() const;
    // "sin cambios", "2 nuevos, 1 eliminado", "tabla nueva, 47 nuevos"...
    std::string Cuenta() const;
};

// A heading with its count and the lines under it.
struct Grupo
{
    std::string titulo;
    std::vector<std::string> lineas;
};

struct Comparacion
{
    std::vector<Tabla> tablas;

    bool SinCambios() const;
    // The tables that change.
    std::size_t TablasCambiadas() const;
    // When DIASHORAST loses the records it had (Velorin fills it), the sentence that says so;
    // otherwise empty.
    std::string DiasHorasPerdidos() const;
    // One line per table, "<sangria>TABLA: cuenta", and the DIASHORAST sentence when it applies.
    std::string Cuentas(const std::string& sangria) const;
    // The abbreviation changes first, then each table's changes.
    std::vector<Grupo> Grupos() const;
    // Grupos() as text: each heading, then its lines as "  - ...". Empty without changes.
    std::string Lista() const;
    // One warning per abbreviation change, as the import gives them.
    ListaAvisos AvisosAbreviaturas() const;
};

// The table `nombre` in folder `antes` against the same table in folder `despues`; no folder, or
// no such table in it (in any letter case), means the table does not exist on that side. Throws
// Error when a table cannot be read.
Tabla CompararTabla(const std::string& nombre, const std::optional<std::filesystem::path>& antes,
                    const std::optional<std::filesystem::path>& despues);

// The eight tables of the import in `antes` against those in `despues`.
Comparacion Comparar(const std::filesystem::path& antes, const std::filesystem::path& despues);

// What putting `copia` back in place of the tables of `dir` would change: the tables the copy
// keeps replace the live ones, those it records as absent go, the others stay as they are.
Comparacion CompararRestauracion(const std::filesystem::path& dir, const copias::Copia& copia);

} // namespace zendral::comparacion
