#pragma once

#include "DbfTable.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The layouts of Velorin's tables: the import's stages create them with these, the Velorin
// stand-in writes DIASHORAST and SOLUC with them, and the tests build their inputs from them.
// Beside them, where the centre document's sections go: the import's stages and its checks both
// read that, so a path, an attribute or a width changes in one place.
namespace zendral::tablas
{

// One table: its name, its fields in file order and, for MATIB, the tags of its production index.
struct Disposicion
{
    std::string nombre;
    std::vector<dbf::FieldDef> campos;
    std::vector<dbf::IndexDef> indices;

    // The field named `campo`; null when the layout has none.
    const dbf::FieldDef* Campo(std::string_view campo) const;
    // The width of the field named `campo`; throws std::logic_error when the layout has none.
    std::size_t Ancho(std::string_view campo) const;
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

// What a field takes from the attribute it comes from.
enum class Dato
{
    Texto,      // a text the stage shapes: names, short names, what abbreviations are made from
    Codigo,     // the element's own GestIB code, kept as read: the export maps it back
    Referencia, // the GestIB code of another element (a subject's course), kept as read
};

// A field of a section's table and the attribute of the section's element it comes from. Codes
// are stored as read, cut only by the field's width.
struct Origen
{
    std::string campo;
    std::string atributo;
    Dato dato = Dato::Texto;
};

// A section of the centre document: each element on `ruta` becomes a record of `tabla`. The
// fields it does not list are made by the stage (abbreviations, fixed values) or come from other
// tables.
struct Seccion
{
    // Absolute ("/CENTRE/AULES/AULA"), or relative to each element of `dentroDe`.
    std::string ruta;
    const Disposicion& tabla;
    // What the table goes without when the document lacks the section.
    std::string contenido;
    // In the order the stage reads the attributes.
    std::vector<Origen> origenes;
    const Seccion* dentroDe = nullptr;

    // The element's name, the last step of the path: "AULA".
    std::string Elemento() const;
    // The path of the section's own element ("/CENTRE/AULES"); empty for a relative path.
    std::string RutaSeccion() const;
    // Its name, "AULES"; empty for a relative path.
    std::string Nombre() const;
    // The position in `origenes` of the field `campo`; throws std::logic_error when it is not
    // listed.
    std::size_t Indice(std::string_view campo) const;
    // The attribute that `campo` comes from; throws as Indice does.
    const std::string& Atributo(std::string_view campo) const { return origenes[Indice(campo)].atributo; }
    std::size_t Ancho(std::string_view campo) const { return tabla.Ancho(campo); }
};

extern const Seccion kMateries;
extern const Seccion kActivitats;
extern const Seccion kPlaces;
extern const Seccion kAules;
extern const Seccion kCursos;
extern const Seccion kGrups; // within each CURS

// Every section, in the order the import reads them; a relative one follows the section it lies in.
const std::vector<const Seccion*>& SeccionesCentro();

// Gives `tabla` the layout's fields, in place of any it had, and its index tags.
void Definir(dbf::Table& tabla, const Disposicion& disposicion);

} // namespace zendral::tablas
