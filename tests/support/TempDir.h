#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zendral::test
{

// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // `name` is UTF-8 on both systems.
    std::filesystem::path operator/(std::string_view name) const
    {
        return m_path / std::filesystem::path(std::u8string(name.begin(), name.end()));
    }

    // Writes `contents` to a file in the directory and returns its path.
    std::filesystem::path write(std::string_view name, std::string_view contents) const;

private:
    std::filesystem::path m_path;
};

// The number the file system knows the file by (its inode on Linux, its file index on Windows):
// it changes when the file is replaced by another. 0 when the file cannot be opened.
std::uint64_t FileIdentity(const std::filesystem::path& file);

// Reads a whole file as bytes.
std::string ReadFile(const std::filesystem::path& file);

} // namespace zendral::test
