#pragma once

#include "FileLock.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Our dBase table engine: dBase IV level tables (version byte 0x03, language driver 0x57 for
// windows-1252), with a production index (.MDX) for tables created with index definitions.
// Texts in and out are windows-1252 bytes.
namespace zendral::dbf
{

enum class FieldType
{
    String,  // C(n)
    Integer, // N(11,0)
    Float,   // N(20,4)
    Boolean, // L(1)
};

struct FieldDef
{
    std::string name;
    FieldType type = FieldType::String;
    int size = 0; // width of a String field; ignored for the others
};

struct IndexDef
{
    std::string name;
    std::string fields; // one character field, whose bytes as stored are the key
    int options = 0;    // 0: ascending, not unique, case-sensitive (the only kind written)
};

// A field as stored in the table's header.
struct FieldInfo
{
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
    int offset = 0; // inside the record, after the deletion flag
};

class Table;

// A field of the current record. Valid while its Table lives.
class Field
{
public:
    Field(Table& table, int index)
        : m_table(&table)
        , m_index(index)
    {
    }

    // Text without the blanks that pad it to the width (leading blanks stay). Numbers give their
    // shortest decimal form with "." ("3", "1.5"); an empty number or logical gives "".
    std::string AsString() const;
    // Rounds halves to the even neighbour; an empty field reads 0. A text that is no number
    // throws Error.
    std::int32_t AsInteger() const;
    // An empty field reads 0. A text that is no number throws Error.
    double AsFloat() const;
    bool AsBoolean() const;
    // True when the field holds only blanks.
    bool IsNull() const;

    // A text longer than the field is cut to its width.
    void SetAsString(std::string_view ansi);
    void SetAsInteger(std::int64_t value);
    void SetAsFloat(double value);
    void SetAsBoolean(bool value);
    void Clear();

    const FieldInfo& Info() const;

private:
    Table* m_table;
    int m_index;
};

class Table
{
public:
    enum class State
    {
        Inactive,
        Browse,
        Edit,
        Insert,
    };

    // `objectName` names the table object in messages (e.g. "wwTableSoluc"); the file is
    // directory / (tableName + ".DBF").
    Table(std::string objectName, std::filesystem::path directory, std::string tableName);
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    // Best-effort close: writes the posted appends still waiting and the production index when it
    // can; never throws.
    ~Table();

    void ClearFieldDefs();
    void AddFieldDef(std::string name, FieldType type, int size = 0);
    // A tag of the table's production index (.MDX), made by CreateTable. Throws Error for a name
    // that dBase does not accept, a repeated name, options other than 0, or a 48th tag.
    void AddIndexDef(std::string name, std::string fields, int options = 0);
    enum class Replace
    {
        Now,     // the new empty table takes the old one's place before CreateTable returns
        OnClose, // it takes it when this object closes it, after Open and the posts
    };
    // Writes a new empty table with the field definitions beside the old one (a new file of its
    // own in the same directory, created exclusively) and renames it over the old .DBF in one
    // step: at every moment the old complete table or the new complete one is on disk. With
    // `Replace::OnClose` the next Open opens the new table where it is being built, and Close
    // puts it in place whole; an object that goes away without that Close leaves the old table.
    // With index definitions the production index is written beside the table too, renamed into
    // place after it, and only then announced in its header; a table without index definitions
    // removes an .MDX left by the old one. Throws Error when a definition does not name a
    // character field of at most 100 bytes, when another process holds the old table, or when a
    // file cannot be written; the old table stays then, and nothing of the new one.
    void CreateTable(Replace when = Replace::Now);

    // Active on. An exclusive open fails with Error while anybody else holds the table; a shared
    // open fails while somebody holds it exclusively. A production index that cannot be read or
    // rebuilt (missing, damaged, foreign key expressions) does not stop reading, only writing.
    void Open(bool exclusive = true);
    // Active off: drops an append or edit not posted, writes the posted appends still waiting
    // (see Post), writes the production index afresh when records changed, flushes and releases
    // the file. Throws Error when those records, the index or the flush cannot be written; the
    // table is closed either way, and valid (without the records and the index that failed).
    void Close();
    bool Active() const;
    State CurrentState() const;

    // The moves first write the posted appends still waiting (see Post), and throw Error when
    // they cannot.
    void First();
    void Next();
    void Prior();
    void Last();
    // Moves by `count` records (negative goes back), stopping at either end.
    void MoveBy(long count);
    bool Eof() const;
    bool Bof() const;
    // Live (not deleted) records.
    std::size_t RecordCount() const;
    // Position among the live records, from 0; RecordCount() at Eof.
    std::size_t Position() const;
    // Number of the current record in the file, from 1, deleted records counted (dBase's
    // RECNO()); the number it will get while appending, 0 at Eof.
    std::size_t RecordNumber() const;

    Field FieldByName(std::string_view name);
    const std::vector<FieldInfo>& Fields() const;

    // Starts a new blank record at the end (Insert state).
    void Append();
    // Starts editing the current record (Edit state).
    void Edit();
    // Posts the record being appended or edited; it reads back at once through this object.
    // An edit, and every append to a table opened shared, is on disk when Post returns. Appends
    // to a table opened exclusively, which nobody else can read meanwhile, wait in memory and
    // are written in batches of about 64 KB: by the Post that fills a batch, and by Close,
    // Refresh, Edit and the moves, before they do their own work. At every moment, also when the
    // process is killed, the file on disk is a valid table holding a prefix of the records
    // posted. A batch that cannot be written throws Error from the call that writes it; its
    // records are then dropped (the table holds the earlier ones), and a Post that failed so
    // stays in Insert state with its record. On a table with a production index, the first
    // Post that changes a key makes the header withdraw the index (and deletes the .MDX) until
    // Close writes a fresh one; a table opened shared gets it back before Post returns.
    void Post();
    // Drops the pending append or edit.
    void Cancel();
    // Writes the posted appends still waiting, then reads the table again from disk, staying
    // near the current position.
    void Refresh();

    const std::string& TableName() const { return m_tableName; }
    std::filesystem::path FilePath() const;
    std::filesystem::path IndexPath() const;

private:
    friend class Field;
    struct Impl;

    // Puts the table that CreateTable built, open as `file`, in place of the old one, with its
    // index built from `records`.
    void Install(LockedFile& file, std::string_view records, std::size_t recordLength,
                 const std::vector<FieldInfo>& fields);

    std::string m_objectName;
    std::filesystem::path m_directory;
    std::string m_tableName;
    std::vector<FieldDef> m_fieldDefs;
    std::vector<IndexDef> m_indexDefs;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zendral::dbf
