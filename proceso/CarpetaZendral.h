#pragma once

#include <filesystem>

namespace zendral
{

// The folder inside the working directory where Zendral keeps what is its own, apart from
// Velorin's tables.
std::filesystem::path CarpetaZendral(const std::filesystem::path& workDir);

} // namespace zendral
