#pragma once

#include "DbfTable.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The dBase IV production index of a table (the .MDX beside the .DBF): one tag per index, each a
// B-tree of 1024-byte blocks whose keys are a character field's bytes as stored, ascending, not
// unique, equal keys in record order. This engine writes the whole file at once from the records.
namespace zendral::dbf::mdx
{

// One file holds at most 47 tags.
constexpr std::size_t kMaxTags = 47;
// dBase IV and its drivers refuse index keys longer than 100 bytes.
constexpr int kMaxKeyLength = 100;

struct Tag
{
    std::string name;          // upper-case ASCII, at most 10 characters
    std::size_t field = 0;     // index of the key field in the table's fields
    std::size_t keyOffset = 0; // where the key field starts in a record (0 is the deletion flag)
    std::size_t keyLength = 0; // the key field's width
};

// Year - 1900, month, day, as dBase headers keep a date.
using Date = std::array<unsigned char, 3>;

// The tag for an index definition on one character field of `fields`. Throws Error, with the
// reason alone, when the definition asks for something this engine cannot write.
Tag TagFor(const IndexDef& def, const std::vector<FieldInfo>& fields);

// The whole index file of table `tableName` for `records` (every record in file order, deleted
// ones included, `recordLength` bytes each): one tag per entry of `tags`, in that order.
std::string Build(std::string_view tableName, const std::vector<Tag>& tags,
                  const std::vector<FieldInfo>& fields, std::string_view records, std::size_t recordLength,
                  Date date);

// The tags of an existing index file, matched to the table's `fields`. Throws Error, with the
// reason alone, when the file is no production index or holds a tag this engine could not
// rebuild (a key that is not one character field, descending, unique or filtered tags).
std::vector<Tag> ReadTags(std::string_view file, const std::vector<FieldInfo>& fields);

} // namespace zendral::dbf::mdx
