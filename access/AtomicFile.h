#pragma once

#include <filesystem>
#include <string_view>

namespace zendral
{

// Writes the whole file beside its target, flushes it to disk and renames it over the target, so
// that readers see either the old file or the new one, never a part. The file beside it has a
// name of its own, made exclusively (a leftover file or link of that name is never followed). On
// failure the target is left as it was, the file beside it is removed and Error is thrown.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Creates a new temporary file beside `target` (same directory, a name of its own ending in
// ".tmp"), exclusively and never through a symbolic link, open for reading and writing. Returns
// its path and sets `fd`; throws Error naming `target` when none can be made.
std::filesystem::path CrearTemporal(const std::filesystem::path& target, int& fd);

// Writes all of `data` to `fd`; 0 or the errno of the failure.
int EscribirTodo(int fd, std::string_view data);

// Reads a whole file; throws Error with the file's name when it cannot.
std::string ReadWholeFile(const std::filesystem::path& file);

} // namespace zendral
