#pragma once

#include "XmlDocument.h"

#include <filesystem>
#include <optional>
#include <string>

namespace zendral
{

// State that lives as long as the main window: shared by both runs.
struct EstadoProceso
{
    // The XML file picked last; kept when the dialog is cancelled.
    std::filesystem::path archivoElegido;
    // 2 once the host's window handle was taken from the command line.
    int lanzadoPorHost = 0;
    // Whether the host started this process: its flow, result codes and messages apply.
    bool LanzadoPorHost() const { return lanzadoPorHost == 2; }
    // What the host reads back on close.
    int codigoResultado = 0;
    // Set when a showing of the level/course dialog ended with data missing; never cleared.
    bool CursosIncompletos = false;
    std::optional<xml::Document> documento;
    // The copy of the tables the last centre import made before replacing any (its name), empty
    // when it made none.
    std::string copiaAntesDeImportar;
};

enum class FinRun
{
    Completado,
    SinArchivo,
    // The user forced the exit from the level/course dialog: the main window closes.
    SalidaForzada,
};

class Prompter;

// Asks for the run's file. A person who cancels means it: the previous file is forgotten, so a
// cancel never runs again on the file of an earlier run. The host starts one run per process and
// keeps the earlier choice, as it always did. Returns the file to work on, empty when there is none.
const std::filesystem::path& ElegirArchivo(EstadoProceso& estado, Prompter& prompter);

// Whether the main window closes after a run that ended this way.
bool CierraVentana(FinRun fin, const EstadoProceso& estado);

} // namespace zendral
