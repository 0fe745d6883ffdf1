#include "WorkDir.h"

#include <cstdlib>

namespace zendral
{

std::filesystem::path ResolveWorkingDirectory(const char* zendralDir, const char* winePrefix,
                                              const char* home)
{
    if (zendralDir != nullptr && *zendralDir != '\0') {
        return zendralDir;
    }
#ifdef _WIN32
    (void)winePrefix;
    (void)home;
    return "C:\\VTEMP";
#else
    std::filesystem::path prefix;
    if (winePrefix != nullptr && *winePrefix != '\0') {
        prefix = winePrefix;
    } else {
        prefix = std::filesystem::path(home != nullptr ? home : "") / ".wine";
    }
    return prefix / "drive_c" / "VTEMP";
#endif
}

const std::filesystem::path& WorkingDirectory()
{
    static const std::filesystem::path dir =
        ResolveWorkingDirectory(std::getenv("ZENDRAL_DIR"), std::getenv("WINEPREFIX"), std::getenv("HOME"));
    return dir;
}

} // namespace zendral
