#pragma once

#include "Avisos.h"
#include "Horario.h"
#include "XmlDocument.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace zendral
{

// The export's check of its own output: the written SolucioHorari.xml read back and reconciled
// with SOLUC and the lookup tables, read anew.
struct Comprobacion
{
    // The lookups of a session (Profesor, Grupo ...), in the order the lists show them.
    using enum Horario::Busqueda;
    // A SOLUC record whose lookup found nothing: its number (from 1) and the value looked up.
    struct Registro
    {
        std::size_t numero;
        std::string valor; // UTF-8
    };
    struct SinRegistro
    {
        std::size_t cuenta = 0;
        std::vector<Registro> primeros; // at most kPrimeros
    };
    static constexpr std::size_t kPrimeros = 5;

    std::size_t registros = 0;   // records of SOLUC
    std::size_t sesiones = 0;    // SESSIO elements, one per record with a day
    std::size_t sinDia = 0;      // records whose DIA reads as 0: not exported
    std::size_t actividades = 0; // sessions whose TAREA is not blank
    std::array<SinRegistro, kBusquedas> sinRegistro;

    // The check as lines for the report (UTF-8), the lookups named as `horario` names them.
    std::vector<std::string> Lineas(const Horario& horario = HorarioDeclarado()) const;
    // One warning per kind of lookup that found no record for some session.
    ListaAvisos AvisosSinRegistro(const Horario& horario = HorarioDeclarado()) const;
};

// Reads `documento` back and reconciles it with SOLUC of `workDir`: one SESSIO per record with a
// day, in order, whose attributes are those `horario` gives from its lookups, read anew. Throws
// Error saying where they differ.
Comprobacion ComprobarHorario(const std::filesystem::path& documento, const std::filesystem::path& workDir,
                              const Horario& horario = HorarioDeclarado());

// Writes `doc` beside `destino`, checks what was written with ComprobarHorario and only then
// renames it over `destino`: a document that fails the check never replaces the previous one.
// Throws Error.
Comprobacion GuardarComprobado(const xml::Document& doc, const std::filesystem::path& destino,
                               const std::filesystem::path& workDir,
                               const Horario& horario = HorarioDeclarado());

} // namespace zendral
