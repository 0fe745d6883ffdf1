#pragma once

#include <filesystem>
#include <string_view>

namespace zendral
{

// Writes the whole file beside its target, flushes it to disk and renames it over the target, so
// that readers see either the old file or the new one, never a part. On failure the target is
// left as it was and Error is thrown.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Reads a whole file; throws Error with the file's name when it cannot.
std::string ReadWholeFile(const std::filesystem::path& file);

} // namespace zendral
