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

// Sets the key in `file` where Velorin reads it, creating the file when it is missing, and
// replaces each file it writes atomically. Where Windows keeps a legacy program's own copy of the
// file (sys::VirtualStoreCopy), Velorin reads that copy when there is one: it is updated, and
// so is the file itself where it can be written. When the file itself cannot be written for lack
// of rights, only the copy is, made from the file the first time, as Windows makes it for Velorin.
// Throws Error, naming where it tried, when a file cannot be read or written.
void WriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::string_view value);
void WriteInteger(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  long long value);
// The same with Windows' copy named by the caller (empty: none).
void WriteString(const std::filesystem::path& file, const std::filesystem::path& copy,
                 std::string_view section, std::string_view key, std::string_view value);

} // namespace zendral::ini
