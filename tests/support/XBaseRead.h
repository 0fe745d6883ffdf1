#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace zendral::test
{

// A table read through one tag of its production index by Debian's XBase module (run with
// /usr/bin/perl), an independent reader of dBase IV indexes.
struct XBaseRead
{
    // Each live record in tag order: its number (from 1) and its values joined by '|', as stored
    // (windows-1252) without trailing blanks.
    std::vector<std::pair<std::uint32_t, std::string>> records;
    // Per key asked for: the record a seek lands on (the first whose key is equal or greater),
    // 0 when it lands past the end.
    std::vector<std::uint32_t> seeks;
};

// Fails the current test (and returns what it has) when the reader reports an error.
XBaseRead XBaseReadIndex(const std::filesystem::path& table, const std::filesystem::path& index,
                         const std::string& tag, const std::vector<std::string>& keys = {});

} // namespace zendral::test
