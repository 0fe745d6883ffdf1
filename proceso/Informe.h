#pragma once

#include "Avisos.h"

#include <cstddef>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zendral
{

// How many reports zendral/informes/ keeps; older ones are deleted when a new one is written.
inline constexpr std::size_t kInformesGuardados = 50;

// What one run leaves on record: a UTF-8 text file in zendral/informes/ of the working directory.
struct Informe
{
    std::string proceso; // "Importación del centro" or "Exportación del horario"
    std::filesystem::path documento;
    std::string resultado;
    std::vector<std::pair<std::string, std::size_t>> tablas; // records per table, in order written
    std::vector<std::string> comprobacion;                   // lines of the export's check, UTF-8
    ListaAvisos avisos;
    // What the run changed in the tables, UTF-8 text with its heading; empty when not compared.
    std::string cambios = {};

    std::string Texto(const std::tm& fecha) const;
};

// Writes the report as of `ahora` into zendral/informes/ (created when missing, inside a working
// directory that must exist) and deletes the oldest reports beyond kInformesGuardados. Returns
// the file written. Throws Error when it cannot be written.
std::filesystem::path EscribirInforme(const std::filesystem::path& workDir, const Informe& informe,
                                      std::time_t ahora);

// A folder inside the working directory's zendral/ folder, created when missing. The working
// directory itself is never created. Throws Error.
std::filesystem::path CrearCarpetaPropia(const std::filesystem::path& workDir, const std::string& nombre);

// A path as UTF-8 text, for messages and reports.
std::string TextoRuta(const std::filesystem::path& ruta);

} // namespace zendral
