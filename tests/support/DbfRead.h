#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zendral::test
{

// A table as Debian's python3-dbfread reads it (run with /usr/bin/python3), for checks against
// an independent reader.
struct DbfReadTable
{
    // One entry per field: "NAME:T:W:D" (name, type letter, width, decimals).
    std::vector<std::string> fields;
    // One entry per live record: the values joined by '|'. Texts come as UTF-8, null values as
    // "~", logicals as "T"/"F", integers in decimal, floats as Python's repr ("1.5", "4.0").
    std::vector<std::string> records;
};

// Runs the reader on `table`; fails the current test (and returns what it has) when the reader
// reports an error.
DbfReadTable DbfRead(const std::filesystem::path& table);

} // namespace zendral::test
