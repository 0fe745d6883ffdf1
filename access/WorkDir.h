#pragma once

#include <filesystem>
#include <string>

namespace zendral
{

// The working directory that holds every table: $ZENDRAL_DIR when set, otherwise C:\VTEMP on
// Windows and ${WINEPREFIX:-$HOME/.wine}/drive_c/VTEMP elsewhere, where a Windows Velorin running
// under Wine finds its C: drive. Resolved once per process.
const std::filesystem::path& WorkingDirectory();

// The same rule applied to the given environment values, for callers that resolve it themselves.
std::filesystem::path ResolveWorkingDirectory(const char* zendralDir, const char* winePrefix,
                                              const char* home);

// The file in `directory` named `name` in any letter case (Windows programs, also under Wine,
// may have written "proft.dbf"); the exact name when there is none.
std::filesystem::path FindFile(const std::filesystem::path& directory, const std::string& name);

} // namespace zendral
