#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zendral::test
{

// A dBase IV production index as a reader of its own sees it, written from the format alone and
// sharing no code with the engine's writer, to check what the writer put on disk.
struct MdxTagRead
{
    std::string name;       // from the tag table
    std::string expression; // from the tag header
    std::uint32_t headerPage = 0;
    std::uint32_t rootPage = 0;
    std::uint32_t tagPages = 0; // tag header offset 4
    std::size_t keyLength = 0;
    std::size_t mostKeys = 0;
    std::size_t itemLength = 0;
    int levels = 0;         // 1 when the root is a leaf
    std::size_t blocks = 0; // key blocks reached from the root
    // Every leaf item, walking the tree in key order: the key and the record number (from 1).
    std::vector<std::pair<std::string, std::uint32_t>> items;
};

struct MdxRead
{
    std::string bytes;
    std::uint32_t pagesInFile = 0;
    std::vector<MdxTagRead> tags;
    // Every inconsistency found: a header field out of line, a pointer outside the file or reached
    // twice, a count over the most keys, an interior key that is not the highest key under its
    // child, items out of order, leaves at different depths, blocks no tag reaches.
    std::vector<std::string> faults;

    const MdxTagRead* Tag(std::string_view name) const;
};

MdxRead ReadMdx(const std::filesystem::path& file);

// Seeks `key` (blank-padded or cut to the key length) in `tag` as dBase engines do: from the root
// down, take the first item whose key is greater than or equal to it, else the trailing pointer;
// in the leaf, the first such item, reading on into the following leaves. Returns its record
// number, or 0 when every key is lower.
std::uint32_t SeekMdx(const MdxRead& index, const MdxTagRead& tag, std::string_view key);

} // namespace zendral::test
