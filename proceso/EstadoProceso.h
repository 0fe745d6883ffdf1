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

// Whether the main window closes after a run that ended this way.
bool CierraVentana(FinRun fin, const EstadoProceso& estado);

} // namespace zendral
