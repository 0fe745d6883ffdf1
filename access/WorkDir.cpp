#include "WorkDir.h"

#include "CodePage.h"
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

std::filesystem::path FindFile(const std::filesystem::path& directory, const std::string& name)
{
    std::filesystem::path exact = directory / name;
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) {
        return exact;
    }
    for (auto it = std::filesystem::directory_iterator(directory, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (cp1252::EqualsNoCase(it->path().filename().string(), name)) {
            return it->path();
        }
    }
    return exact;
}

} // namespace zendral
