#pragma once

#include "Avisos.h"
#include "Comparacion.h"
#include "XmlDocument.h"

#include <filesystem>

namespace zendral
{

class Prompter;

// What importing a centre document would do, found without touching the working directory: the
// import's stages write their tables in a scratch folder of their own, with the same rules and
// the same answers, and those tables are compared with the working directory's.
struct Ensayo
{
    // The warnings of the stages (remembered answers, levels and courses) and the abbreviation
    // changes. The document's own (ComprobarDocumento) are left to the caller.
    ListaAvisos avisos;
    comparacion::Comparacion cambios;
    // The user forced the exit from the level/course dialog: nothing was compared.
    bool interrumpido = false;
};

// `prompter` answers as in an import: the level/course dialog, which starts from the answers
// remembered in `workDir` when `usarMemoria`, and the line-creation question. The scratch folder
// goes when the call ends. Throws Error when it cannot be made, when a stage fails or when a table
// cannot be read.
Ensayo Ensayar(const std::filesystem::path& workDir, xml::Document documento, Prompter& prompter,
               bool usarMemoria);

} // namespace zendral
