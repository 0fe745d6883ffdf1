#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zendral
{

namespace dbf
{
class Table;
}

inline constexpr const char* kArchivoHorario = "SolucioHorari.xml";

// The document's elements: HORARI holds one SESSIONS, which holds a SESSIO per session.
inline constexpr const char* kElementoHorari = "HORARI";
inline constexpr const char* kElementoSessions = "SESSIONS";
inline constexpr const char* kElementoSessio = "SESSIO";

// The SOLUC fields that give a session its day and period.
inline constexpr const char* kCampoDia = "DIA";
inline constexpr const char* kCampoHora = "HORA";

// How a SESSIO of SolucioHorari.xml is made from a SOLUC record: the lookup tables of the centre
// import that map Velorin's abbreviations back to GestIB codes, the attribute each field they
// give fills, and what an activity keeps. The export writes by it; its check reads the written
// document and the tables back by it.
struct Horario
{
    // The lookups of a session, in the order the check lists them.
    enum Busqueda
    {
        Profesor,
        Grupo,
        Aula,
        Materia,
        DiaHora,
        kBusquedas
    };

    // A field of a table and the attribute its text fills.
    struct Valor
    {
        const char* campo;
        const char* atributo;
    };

    // A lookup table: its first record whose `clave` equals the text looked up, compared exactly,
    // gives the fields of `valores`; with no such record they are all empty.
    struct Tabla
    {
        const char* nombre;
        const char* clave;
        // The SOLUC field whose text is looked up; none for the day-and-hour key.
        const char* soluc;
        // Read in this order.
        std::vector<Valor> valores;
        // What the lookup finds, as the check's messages name it.
        const char* que;
    };

    struct Atributo
    {
        const char* nombre;
        // Whether an activity carries the value; otherwise the attribute is empty there, and a
        // lookup that only fills such attributes has no record to miss.
        bool enActividad;
    };

    // Where an attribute's text comes from: field `valor` of a lookup, or the SOLUC field of
    // `actividad` when there is no lookup.
    struct Origen
    {
        std::optional<Busqueda> busqueda;
        std::size_t valor = 0;
    };

    std::array<Tabla, kBusquedas> busquedas;
    // SESSIO's attributes, in document order.
    std::vector<Atributo> atributos;
    // The SOLUC field copied as read; a text that is not blank makes the session an activity.
    Valor actividad;

    // The origin of each attribute, in document order. Throws std::logic_error when an attribute
    // is filled from nowhere or from two places.
    std::vector<Origen> Origenes() const;
    // Whether an activity needs lookup `b` to find its record.
    bool CuentaEnActividad(Busqueda b) const;
};

// The session mapping the export writes and checks by.
const Horario& HorarioDeclarado();

// A lookup table read on its first use, the first record of each key winning. A table that is
// not open then is opened for the reading and closed again; an open one is left open.
class TablaBusqueda
{
public:
    TablaBusqueda(dbf::Table& tabla, const Horario::Tabla& declarada);

    // The fields of `valores` of the record whose key is `clave`, or nothing.
    const std::vector<std::string>* Buscar(const std::string& clave);
    // The number (from 1) of the record found for `clave`, or 0.
    std::size_t Registro(const std::string& clave) const;
    dbf::Table& tabla() const { return m_tabla; }

private:
    struct Registrado
    {
        std::size_t numero;
        std::vector<std::string> valores;
    };
    dbf::Table& m_tabla;
    const Horario::Tabla& m_declarada;
    bool m_leida = false;
    std::unordered_map<std::string, Registrado> m_indice;
};

// SOLUC records whose DIA reads as 0 have no day and become no session.
bool TieneDia(dbf::Table& soluc);

// The half-period test: whether any HORA of SOLUC, whatever its DIA, has a fraction. Moves the
// table's position.
bool MediasHoras(dbf::Table& soluc);

// What lookup `tabla` looks up for the current SOLUC record: the text of its SOLUC field, or the
// day-and-hour key (the text of DIA followed by the period number of HORA). Nothing when HORA
// is out of the range of a period.
std::optional<std::string> TextoBuscado(const Horario::Tabla& tabla, dbf::Table& soluc, bool mediasHoras);

// Whether Periodo can number `hora`: a finite value whose whole part, and with half periods twice
// that, fits a long long.
bool PeriodoEnRango(double hora, bool mediasHoras);

// Period number of a session from its HORA: the whole part, or with half periods 2 x whole part
// for a fraction and 2 x whole part - 1 without one. `hora` must be PeriodoEnRango.
long long Periodo(double hora, bool mediasHoras);

} // namespace zendral
