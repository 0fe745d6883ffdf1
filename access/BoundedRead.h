#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace zendral
{

// One mebibyte, the unit the limits below are given in.
inline constexpr std::uint64_t kMegabyte = 1024 * 1024;

// Reads the whole of `file`, which must be a regular file of at most `limit` bytes (a whole
// number of megabytes). Throws Error naming it as `name` when it is anything else (a folder, a
// FIFO, a device: refused without waiting and without reading a byte), when it is larger, or when
// it cannot be read ("No se puede leer el archivo NOMBRE: ...").
std::string ReadBoundedFile(const std::filesystem::path& file, std::uint64_t limit, const std::string& name);

} // namespace zendral
