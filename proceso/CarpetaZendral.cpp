#include "CarpetaZendral.h"

namespace zendral
{

std::filesystem::path CarpetaZendral(const std::filesystem::path& workDir) { return workDir / "zendral"; }

} // namespace zendral
