#pragma once

#include "DbfTable.h"

#include <string>
#include <vector>

// The layouts of Velorin's tables: the import's stages create them with these, the Velorin
// stand-in writes DIASHORAST and SOLUC with them, and the tests build their inputs from them.
namespace zendral::tablas
{

// One table: its name, its fields in file order and, for MATIB, the tags of its production index.
struct Disposicion
{
    std::string nombre;
    std::vector<dbf::FieldDef> campos;
    std::vector<dbf::IndexDef> indices;

    // The field named `campo`; null when the layout has none.
    const dbf::FieldDef* Campo(const std::string& campo) const;
};

extern const Disposicion kAsignomt;
extern const Disposicion kProft;
extern const Disposicion kAulat;
extern const Disposicion kCursost;
extern const Disposicion kGrupost;
extern const Disposicion kMatib;
extern const Disposicion kAsigt;
extern const Disposicion kDiashorast;
extern const Disposicion kSoluc;

// Gives `tabla` the layout's fields, in place of any it had, and its index tags.
void Definir(dbf::Table& tabla, const Disposicion& disposicion);

} // namespace zendral::tablas
