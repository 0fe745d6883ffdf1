#include "WorkDir.h"

#include "System.h"

#include <cstdlib>

namespace zendral
{

std::filesystem::path ResolveWorkingDirectory(const char* zendralDir, const char* winePrefix,
                                              const char* home)
{
    if (zendralDir != nullptr && *zendralDir != '\0') {
        return zendralDir;
    }
    return sys::FixedWorkingDirectory(winePrefix, home);
}

const std::filesystem::path& WorkingDirectory()
{
    static const std::filesystem::path dir =
        ResolveWorkingDirectory(std::getenv("ZENDRAL_DIR"), std::getenv("WINEPREFIX"), std::getenv("HOME"));
    return dir;
}

} // namespace zendral
