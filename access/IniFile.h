#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Writing one key of an INI file the way the platform's private profile service does: the rest
// of the file stays byte for byte as it was.
namespace zendral::ini
{

// The contents with `key` of `section` set to `value`. Section and key names match without
// regard to letter case (windows-1252 letters); the first matching section and, inside it, the
// first matching key win, and the existing spelling of both is kept. A missing key is added after
// the last non-blank line of its section, a missing section at the end of the file. Added lines
// end as the file's first line does (CR LF in a file without line breaks).
std::string SetValue(std::string_view contents, std::string_view section, std::string_view key,
                     std::string_view value);

// Sets the key in `file`, creating the file when it is missing, and replaces the file atomically.
// Throws Error when the file cannot be read or written.
void WriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::string_view value);
void WriteInteger(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  long long value);

} // namespace zendral::ini
