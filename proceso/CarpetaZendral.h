#pragma once

#include <filesystem>

namespace zendral
{

// The folder inside the working directory where Zendral keeps what is its own, apart from
// Velorin's tables.
std::filesystem::path CarpetaZendral(const std::filesystem::path& workDir);

// The file in that folder whose lock makes the runs on the working directory take turns.
std::filesystem::path ArchivoRun(const std::filesystem::path& workDir);

} // namespace zendral
