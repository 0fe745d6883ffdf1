#pragma once

#include "DbfTable.h"
#include "Error.h"
#include "Mdx.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bytes of a dBase table file: header layout, reading a whole table, and the encodings of
// the field types, ours and those of other programs. The Table class builds on these.
namespace zendral::dbf
{

// How a table lays out its header and which binary field encodings it uses.
enum class Layout
{
    DBase,  // dBase III+/IV (and FoxPro 2): 32-byte header and descriptors, text fields
    FoxPro, // Visual FoxPro family: as DBase, plus little-endian binary I, B, Y and T fields
    Level7, // dBase level 7: 68-byte header, 48-byte descriptors, big-endian binary fields
};

inline constexpr char kEndOfFile = 0x1A;
inline constexpr char kTerminator = 0x0D;
inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kDescriptorSize = 32;
// Header byte that announces the production index, and the byte of a field descriptor that marks
// the key field of one of its tags.
inline constexpr std::size_t kIndexFlagAt = 28;
inline constexpr std::size_t kFieldIndexFlagAt = 31;
inline constexpr unsigned char kVersion = 0x03;
inline constexpr unsigned char kLanguageDriver = 0x57;
inline constexpr std::size_t kMaxFields = 255;
inline constexpr std::size_t kMaxRecordLength = 0xFFFF;
inline constexpr int kMaxStringWidth = 254;

bool AllOf(std::string_view raw, std::string_view set);
// Without the blanks (and NULs) that pad a field.
std::string_view TrimRight(std::string_view s);
std::string_view Trim(std::string_view s);

// Field contents are windows-1252; messages are UTF-8.
std::string Quoted(std::string_view ansi);

// Today's date as the header stores it: year - 1900, month, day.
void PutToday(char* p);

// Everything Open reads from the file.
struct Contents
{
    Layout layout = Layout::DBase;
    std::size_t headerLength = 0;
    std::size_t recordLength = 1;
    std::vector<FieldInfo> fields;
    std::string records;           // every record in file order, deleted ones included
    std::vector<std::size_t> live; // numbers (from 0) of the records not marked deleted
    bool endMarked = false;        // the byte after the last record is the end-of-file marker
    bool writable = false;         // this engine knows how to write every field of the table
    bool indexFlag = false;        // the header announces a production index

    std::size_t RecordCount() const { return records.size() / recordLength; }
};

// What the first bytes of a table say about it, for those who copy tables whole.
struct HeaderFacts
{
    std::uint32_t recordCount = 0; // records the header counts, deleted ones included
    std::size_t headerLength = 0;  // header and field descriptors, terminator included
    bool indexFlag = false;        // announces a production index
};
// Nothing when the file is too short to hold a header.
std::optional<HeaderFacts> ReadHeaderFacts(int fd);

// Clears, in a table's header bytes (whole descriptors included), the announcement of a
// production index: the header's flag and every field's.
void ClearIndexFlags(std::string& header);

// Up to `size` bytes from `offset`, fewer at the end of the file. Throws Error naming `table`.
std::string ReadAt(int fd, std::uint64_t offset, std::size_t size, const std::string& table);

// Writes all of `data` at `offset`. Returns 0 or the errno of the failure.
int WriteAt(int fd, std::uint64_t offset, const char* data, std::size_t size);

// The header, the field descriptors and the records the header counts. Throws Error for a file
// that is no table of a known layout or that is shorter than its header says.
Contents ReadContents(int fd, const std::string& table);

// What a field reading needs to know besides the bytes.
struct FieldContext
{
    const std::string& table;
    Layout layout;
    const FieldInfo& info;
    // Number of the record in the file, from 1; 0 when there is none to name.
    std::size_t record = 0;

    std::string Field() const;
    // " (tabla T, campo F, registro N)": where a value error lies.
    std::string Where() const;
    Error Unsupported() const;
    Error BadValue(const char* what, std::string_view raw) const;
};

// A field's bytes `raw` as AsString gives them.
std::string ReadString(const FieldContext& ctx, std::string_view raw);
// The text that AsInteger and AsFloat convert: numbers as stored, texts without surrounding blanks.
std::string NumberText(const FieldContext& ctx, std::string_view raw);
bool ReadIsNull(const FieldContext& ctx, std::string_view raw);

// 'T', 'F' or ' ' for the texts a logical field accepts; 0 for anything else.
char ParseLogical(std::string_view ansi);

// A field or tag name dBase accepts: 1 to 10 upper-case letters, digits or '_', starting with a
// letter.
bool IsValidName(std::string_view name);

// Header byte 28 and byte 31 of each key field's descriptor, in a copy of the header.
void SetIndexFlags(std::string& header, const std::vector<mdx::Tag>& tags, bool on);

// The descriptor that a field definition gets in the tables this engine writes.
FieldInfo InfoFor(const FieldDef& def);

} // namespace zendral::dbf
