#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zendral
{

// What a run tells the user about data it could not carry over as given. The tables are written
// all the same; these only say what was lost or changed.
enum class TipoAviso
{
    Seccion,     // a section missing from the document, or the document has none
    Conversion,  // a character that windows-1252 cannot hold
    Recorte,     // a code cut to its field's width
    Repetido,    // two elements of one section with the same GestIB code
    SinNivel,    // groups with an empty level or course number, an empty group abbreviation
    SinGrupo,    // subjects whose course has no group
    Memoria,     // the remembered level and course answers could not be read or kept
    SinRegistro, // timetable sessions whose abbreviation or day and hour have no record
    Abreviatura, // an abbreviation that changes while the GestIB code stays
    Informe,     // the run's report could not be written
};

// The heading of a kind, as the lists show it.
const char* NombreTipo(TipoAviso tipo);

// One warning. Texts are UTF-8.
struct Aviso
{
    TipoAviso tipo;
    std::string tabla;    // the table affected, or empty
    std::string elemento; // the element: its GestIB code, or its position when it has none
    std::string campo;    // the field affected, or empty
    std::string valor;    // the value concerned, as the document gives it (see TextoVisible)
    std::string detalle;  // what happened to it

    // One line: "<kind>: TABLA.CAMPO, <element>, «valor»: <detail>".
    std::string Linea() const;
};

// UTF-8 text as a warning shows a value the user gave: each control character (a line feed, a
// tab, U+0081...) written as the XML character reference that stands for it ("&#xA;"), so that
// the warning stays on one line and says what the value holds.
std::string TextoVisible(std::string_view utf8);

class ListaAvisos
{
public:
    void Agregar(Aviso aviso) { m_avisos.push_back(std::move(aviso)); }
    void Agregar(const ListaAvisos& otros);
    void clear() { m_avisos.clear(); }

    bool empty() const { return m_avisos.empty(); }
    std::size_t size() const { return m_avisos.size(); }
    auto begin() const { return m_avisos.begin(); }
    auto end() const { return m_avisos.end(); }

    // "1 aviso" or "N avisos".
    std::string Cuenta() const;
    // The count, then the warnings grouped by kind, each group under its heading, in the order
    // of the kinds; within a group in the order they were found.
    std::string Detalles() const;

private:
    std::vector<Aviso> m_avisos;
};

} // namespace zendral
