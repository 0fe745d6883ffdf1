#include "CarpetaZendral.h"

namespace zendral
{

std::filesystem::path CarpetaZendral(const std::filesystem::path& workDir) { return workDir / "zendral"; }

std::filesystem::path ArchivoRun(const std::filesystem::path& workDir)
{
    return CarpetaZendral(workDir) / "proceso.lock";
}

} // namespace zendral
