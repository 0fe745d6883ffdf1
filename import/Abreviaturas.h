#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// The short codes that subjects, teachers, rooms and groups get for the timetable program, made
// distinct within their table. All texts are windows-1252.
namespace zendral::abrev
{

// Codes handed out by one stage call. A candidate is taken when the list already holds it, or
// when the code it would store equals a code already stored by the stage; both compare without
// regard to letter case. Stored codes compare as the table gives them back: cut to the field's
// width, without trailing blanks.
class ListaOcupados
{
public:
    // `width` is the width of the field that receives the stored code; `acortar` turns a
    // candidate into the code that is stored.
    ListaOcupados(std::size_t width, std::function<std::string(std::string_view)> acortar);

    // The first free candidate: `base` itself, or `prefijo` followed by 1, 2, 3 ... The chosen
    // candidate is added to the list and its stored code to the stored codes. Returns the
    // candidate; Almacenado() gives the code to store for it.
    std::string Asignar(std::string_view base, std::string_view prefijo);
    std::string Almacenado(std::string_view candidato) const;

private:
    bool Ocupado(const std::string& candidatoMayus, bool comprobarAlmacenados) const;
    std::string ClaveAlmacenada(std::string_view candidato) const;

    std::size_t m_width;
    std::function<std::string(std::string_view)> m_acortar;
    std::unordered_set<std::string> m_lista;       // candidates, upper case
    std::unordered_set<std::string> m_almacenados; // stored codes as read back, upper case
    // Lowest counter not yet known to be taken, per upper-case prefix. Taken codes never become
    // free again within a call, so the search can resume there instead of at 1.
    std::unordered_map<std::string, unsigned long> m_siguiente;
};

// Beyond this counter only the list itself decides, so that the search always ends.
inline constexpr unsigned long kLimiteAlmacenados = 9999;

// Subject long code: `curta` when it has at most 8 characters, otherwise the first 7 characters
// of `descripcio` followed by its last character.
std::string CodigoLargo(std::string_view curta, std::string_view descripcio);

// Subject base code from the long code: separators from the second character on are dropped and
// the character after each is taken untested; at most 4 characters.
std::string CodigoBase(std::string_view codigoLargo);

// Stored form of a subject candidate longer than 4: first character and last 3.
std::string AcortarAsignatura(std::string_view candidato);
// Stored form of a room or group candidate longer than 4: first 2 and last 2 characters.
std::string AcortarDosYDos(std::string_view candidato);

} // namespace zendral::abrev
