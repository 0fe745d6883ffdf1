#pragma once

#include "Tablas.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zendral::test
{

using Fila = std::vector<std::string>;

// Writes a Velorin table with the whole of its layout into `carpeta`; each row gives the values
// of `campos` (UTF-8), in that order. An empty value of a field that is not text is left blank
// (null), as Velorin leaves it.
void EscribirTabla(const std::filesystem::path& carpeta, const tablas::Disposicion& disposicion,
                   const std::vector<std::string>& campos, const std::vector<Fila>& filas);

} // namespace zendral::test
