#include "access/Mdx.h"

#include "access/CodePage.h"
#include "access/DbfTable.h"
#include "access/Error.h"
#include "import/Importacion.h"
#include "tests/support/DbfRead.h"
#include "tests/support/MdxRead.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/TempDir.h"
#include "tests/support/XBaseRead.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zendral::dbf
{
namespace
{

namespace fs = std::filesystem;
using namespace std::string_literals;
using test::ReadFile;
using test::ReadMdx;
using test::TempDir;

// Bytes from a hex listing such as "02 7D 03 0E".
std::string Hex(std::string_view listing)
{
    std::string out;
    for (std::size_t i = 0; i + 1 < listing.size(); ++i) {
        if (listing[i] != ' ') {
            out += static_cast<char>(std::stoi(std::string(listing.substr(i, 2)), nullptr, 16));
            ++i;
        }
    }
    return out;
}

std::string Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm t = {};
    localtime_r(&now, &t);
    return {static_cast<char>(t.tm_year), static_cast<char>(t.tm_mon + 1), static_cast<char>(t.tm_mday)};
}

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "no error";
}

// The key field of every record of a table file, deleted ones included, as stored.
std::vector<std::string> StoredKeys(const fs::path& table, std::size_t offset, std::size_t width)
{
    const std::string b = ReadFile(table);
    const auto u = [&](std::size_t at, int size) {
        std::size_t v = 0;
        for (int i = size - 1; i >= 0; --i) {
            v = v << 8 | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
        }
        return v;
    };
    std::vector<std::string> keys;
    for (std::size_t r = 0; r < u(4, 4); ++r) {
        keys.push_back(b.substr(u(8, 2) + r * u(10, 2) + offset, width));
    }
    return keys;
}

// The tag holds exactly one item per record, with the record's key, in key order and record
// order among equal keys (the reader reports items out of order as faults).
void ExpectAgrees(const test::MdxRead& index, const std::string& tag, const std::vector<std::string>& keys)
{
    EXPECT_EQ(index.faults, std::vector<std::string>{});
    const test::MdxTagRead* t = index.Tag(tag);
    ASSERT_NE(t, nullptr) << tag;
    ASSERT_EQ(t->items.size(), keys.size()) << tag;
    std::set<std::uint32_t> records;
    for (const auto& [key, record] : t->items) {
        ASSERT_TRUE(record >= 1 && record <= keys.size()) << record;
        EXPECT_EQ(key, keys[record - 1]) << "record " << record;
        records.insert(record);
    }
    EXPECT_EQ(records.size(), keys.size());
}

// The record a seek for `key` must land on: the first item whose key is equal or greater.
std::uint32_t FirstAtOrAfter(const test::MdxTagRead& tag, const std::string& key)
{
    for (const auto& [k, record] : tag.items) {
        if (k >= key) {
            return record;
        }
    }
    return 0;
}

// Distinct keys of the tag and keys between and around them, blank-padded to the key length.
std::vector<std::string> Probes(const test::MdxTagRead& tag, std::size_t most)
{
    std::vector<std::string> probes;
    for (std::size_t i = 0; i < tag.items.size() && probes.size() < most; ++i) {
        if (i == 0 || tag.items[i].first != tag.items[i - 1].first) {
            probes.push_back(tag.items[i].first);
            std::string above = tag.items[i].first;
            above.back() = static_cast<char>(std::min(0xFF, static_cast<unsigned char>(above.back()) + 1));
            probes.push_back(above);
        }
    }
    probes.push_back(std::string(tag.keyLength, '!'));
    probes.push_back(std::string(tag.keyLength, '\xFF'));
    return probes;
}

bool TrimmedEqual(std::string_view value, std::string_view key)
{
    while (!key.empty() && key.back() == ' ') {
        key.remove_suffix(1);
    }
    return value == key;
}

// The other reader lists the table in the tag's order and seeks as our reader does.
void ExpectXBaseAgrees(const fs::path& dir, const test::MdxTagRead& tag, std::size_t keyField,
                       const std::vector<std::string>& probes)
{
    const auto read = test::XBaseReadIndex(dir / "MATIB.DBF", dir / "MATIB.MDX", tag.name, probes);
    ASSERT_EQ(read.records.size(), tag.items.size()) << tag.name;
    for (std::size_t i = 0; i < read.records.size(); ++i) {
        ASSERT_EQ(read.records[i].first, tag.items[i].second) << tag.name << " item " << i;
        std::string_view values = read.records[i].second;
        for (std::size_t f = 0; f < keyField; ++f) {
            values.remove_prefix(values.find('|') + 1);
        }
        ASSERT_TRUE(TrimmedEqual(values.substr(0, values.find('|')), tag.items[i].first))
            << tag.name << " item " << i << ": " << read.records[i].second;
    }
    ASSERT_EQ(read.seeks.size(), probes.size());
    for (std::size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(read.seeks[i], FirstAtOrAfter(tag, probes[i])) << tag.name << " seek '" << probes[i] << "'";
    }
}

// Keys with long runs of duplicates (straddling leaves), blanks, lower case and accented letters.
std::string KeyFor(std::size_t i)
{
    static const char* kWords[] = {"MAT", "mat", "ES1A", "\xC9TICA", "\xD1U", "0", "A B", "Z"};
    switch (i % 4) {
    case 0:
        return "MAT";
    case 1:
        return "";
    default:
        return kWords[i * 5 % 8] + std::to_string(i * 7919 % 613);
    }
}

// MATIB's layout, with its one tag on ABREV.
void DefineMatib(Table& t)
{
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.AddFieldDef("ABREV8", FieldType::String, 8);
    t.AddFieldDef("NOMBRE", FieldType::String, 40);
    t.AddFieldDef("NIVEL", FieldType::String, 5);
    t.AddFieldDef("CURSO", FieldType::String, 3);
    t.AddIndexDef("ABREV", "ABREV");
}

void PostMatib(Table& t, const std::string& abrev, const std::string& nombre)
{
    t.Append();
    t.FieldByName("ABREV").SetAsString(abrev);
    t.FieldByName("NOMBRE").SetAsString(nombre);
    t.Post();
}

// The file of the worked three-record example (records MAT, ES1A, MAT), dated 2025-03-14.
std::string ExampleIndex()
{
    std::string file(4096, '\0');
    const auto put = [&](std::size_t at, std::string_view listing) {
        const std::string bytes = Hex(listing);
        file.replace(at, bytes.size(), bytes);
    };
    put(0x000, "02 7D 03 0E 4D 41 54 49 42 00 00 00 00 00 00 00");
    put(0x010, "00 00 00 00 02 00 00 04 01 30 20 00 01 00 00 00");
    put(0x020, "08 00 00 00 00 00 00 00 00 00 00 00 7D 03 0E 00");
    put(0x210, "00 01 00 00");
    put(0x220, "04 00 00 00 41 42 52 45 56 00 00 00 00 00 00 10");
    put(0x230, "00 00 00 02 43 00");
    put(0x800, "06 00 00 00 02 00 00 00 10 43 00 00 04 00 7E 00");
    put(0x810, "00 00 08 00 01 00 00 00 41 42 52 45 56 00");
    put(0xC00, "03 00 00 00 00 00 00 00 02 00 00 00 45 53 31 41");
    put(0xC10, "01 00 00 00 4D 41 54 20 03 00 00 00 4D 41 54 20");
    return file;
}

std::string Dated(std::string file, const std::string& date)
{
    file.replace(1, 3, date);
    file.replace(44, 3, date);
    return file;
}

// ---- Byte layout ----------------------------------------------------------------------------

TEST(MdxLayoutTest, ThreeRecordIndexIsTheWorkedExampleByteForByte)
{
    std::vector<FieldInfo> fields = {{"ABREV", 'C', 4, 0, 1},
                                     {"ABREV8", 'C', 8, 0, 5},
                                     {"NOMBRE", 'C', 40, 0, 13},
                                     {"NIVEL", 'C', 5, 0, 53},
                                     {"CURSO", 'C', 3, 0, 58}};
    const std::string records =
        " MAT " + std::string(56, ' ') + " ES1A" + std::string(56, ' ') + " MAT " + std::string(56, ' ');
    const mdx::Tag tag = mdx::TagFor({"ABREV", "ABREV", 0}, fields);
    EXPECT_EQ(mdx::Build("MATIB", {tag}, fields, records, 61, {0x7D, 3, 0x0E}), ExampleIndex());

    // The same through the table engine, dated today, with the table header of the example.
    TempDir dir;
    Table t("wwMatib", dir.path(), "MATIB");
    DefineMatib(t);
    t.CreateTable();
    t.Open();
    PostMatib(t, "MAT", "");
    PostMatib(t, "ES1A", "");
    PostMatib(t, "MAT", "");
    t.Close();
    EXPECT_EQ(ReadFile(dir / "MATIB.MDX"), Dated(ExampleIndex(), Today()));
    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    EXPECT_EQ(dbf.substr(0, 0x60), "\x03"s + Today() +
                                       Hex("03 00 00 00 C1 00 3D 00 00 00 00 00"
                                           "00 00 00 00 00 00 00 00 00 00 00 00 01 57 00 00"
                                           "41 42 52 45 56 00 00 00 00 00 00 43 00 00 00 00"
                                           "04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01"
                                           "41 42 52 45 56 38 00 00 00 00 00 43 00 00 00 00"
                                           "08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    for (std::size_t field = 2; field < 5; ++field) {
        EXPECT_EQ(dbf[32 + 32 * field + 31], 0) << "field " << field << " has no tag";
    }
}

TEST(MdxLayoutTest, EmptyTableHasOneEmptyLeafInFourKilobytes)
{
    std::string expected = ExampleIndex();
    std::fill(expected.begin() + 0xC00, expected.end(), '\0');
    for (const bool reopen : {false, true}) {
        TempDir dir;
        Table t("wwMatib", dir.path(), "MATIB");
        DefineMatib(t);
        t.CreateTable();
        if (reopen) {
            t.Open();
            t.Close();
        }
        EXPECT_EQ(ReadFile(dir / "MATIB.MDX"), Dated(expected, Today()));
        EXPECT_EQ(ReadFile(dir / "MATIB.DBF")[28], 0x01);
    }
}

TEST(MdxLayoutTest, SeveralTagsAreLinkedByNameAndEachOrdersTheTable)
{
    TempDir dir;
    Table t("wwMatib", dir.path(), "MATIB");
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.AddFieldDef("NOMBRE", FieldType::String, 40);
    t.AddFieldDef("HORAS", FieldType::Integer);
    t.AddFieldDef("NIVEL", FieldType::String, 5);
    t.AddFieldDef("CURSO", FieldType::String, 3);
    for (const char* name : {"NOMBRE", "ABREV", "CURSO", "NIVEL"}) {
        t.AddIndexDef(name, name);
    }
    t.CreateTable();
    t.Open();
    for (std::size_t i = 0; i < 500; ++i) {
        t.Append();
        t.FieldByName("ABREV").SetAsString(KeyFor(i));
        t.FieldByName("NOMBRE").SetAsString(KeyFor(i * 3 + 1) + " nombre");
        t.FieldByName("HORAS").SetAsInteger(static_cast<std::int64_t>(i));
        t.FieldByName("NIVEL").SetAsString(KeyFor(i + 2));
        t.FieldByName("CURSO").SetAsString(std::to_string(i % 7));
        t.Post();
    }
    t.Close();

    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    const std::string flags = {dbf[28],      dbf[32 + 31],  dbf[64 + 31],
                               dbf[96 + 31], dbf[128 + 31], dbf[160 + 31]};
    EXPECT_EQ(flags, "\x01\x01\x01\x00\x01\x01"s);
    const auto index = ReadMdx(dir / "MATIB.MDX");
    // Name tree with NOMBRE at the root: ABREV below it, CURSO above ABREV, NIVEL above CURSO.
    std::string links;
    for (std::size_t slot = 0; slot < 5; ++slot) {
        links += index.bytes.substr(544 + 32 * slot + 16, 3);
    }
    EXPECT_EQ(links, Hex("02 00 00  00 03 01  00 04 02  00 00 03  00 00 00"));
    EXPECT_EQ(index.bytes.substr(28, 2), Hex("04 00"));

    struct Key
    {
        const char* tag;
        std::size_t offset;
        std::size_t width;
        std::size_t field;
    };
    for (const Key& k :
         {Key{"ABREV", 1, 4, 0}, Key{"NOMBRE", 5, 40, 1}, Key{"NIVEL", 56, 5, 3}, Key{"CURSO", 61, 3, 4}}) {
        ExpectAgrees(index, k.tag, StoredKeys(dir / "MATIB.DBF", k.offset, k.width));
        const test::MdxTagRead* tag = index.Tag(k.tag);
        ASSERT_NE(tag, nullptr);
        ExpectXBaseAgrees(dir.path(), *tag, k.field, Probes(*tag, 20));
    }
}

// ---- Trees of every size --------------------------------------------------------------------

struct TreeCase
{
    std::size_t records;
    int width;
    int levels;
};

class MdxTreeTest : public ::testing::TestWithParam<TreeCase>
{
};

TEST_P(MdxTreeTest, EveryRecordIsReachableInKeyOrderAndSeeksLandOnTheFirstDuplicate)
{
    const TreeCase c = GetParam();
    TempDir dir;
    Table t("wwMatib", dir.path(), "MATIB");
    t.AddFieldDef("CLAVE", FieldType::String, c.width);
    t.AddFieldDef("NUM", FieldType::Integer);
    t.AddIndexDef("CLAVE", "CLAVE");
    t.CreateTable();
    t.Open();
    for (std::size_t i = 0; i < c.records; ++i) {
        t.Append();
        // Every third key fills its width; the others are blank-padded.
        std::string key = KeyFor(i);
        if (i % 3 == 2) {
            key += std::string(static_cast<std::size_t>(c.width), 'x');
        }
        t.FieldByName("CLAVE").SetAsString(key);
        t.FieldByName("NUM").SetAsInteger(static_cast<std::int64_t>(i));
        t.Post();
    }
    t.Close();

    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    EXPECT_EQ(dbf[28], 0x01);
    EXPECT_EQ(dbf[32 + 31], 0x01);
    EXPECT_EQ(dbf[64 + 31], 0x00);
    const auto keys = StoredKeys(dir / "MATIB.DBF", 1, static_cast<std::size_t>(c.width));
    const auto index = ReadMdx(dir / "MATIB.MDX");
    ExpectAgrees(index, "CLAVE", keys);
    const test::MdxTagRead* tag = index.Tag("CLAVE");
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->levels, c.levels);
    EXPECT_EQ(tag->expression, "CLAVE");

    const auto probes = Probes(*tag, 400);
    for (const std::string& probe : probes) {
        ASSERT_EQ(test::SeekMdx(index, *tag, probe), FirstAtOrAfter(*tag, probe)) << "'" << probe << "'";
    }
    ExpectXBaseAgrees(dir.path(), *tag, 0, Probes(*tag, 40));
}

// 126 keys of 4 bytes fill one leaf and 127 leaves one root; 100-byte keys take 9 a block.
INSTANTIATE_TEST_SUITE_P(Sizes, MdxTreeTest,
                         ::testing::Values(TreeCase{0, 4, 1}, TreeCase{1, 4, 1}, TreeCase{7, 4, 1},
                                           TreeCase{126, 4, 1}, TreeCase{127, 4, 2}, TreeCase{16002, 4, 2},
                                           TreeCase{16003, 4, 3}, TreeCase{20000, 4, 3}, TreeCase{300, 1, 2},
                                           TreeCase{1000, 10, 2}, TreeCase{9, 100, 1}, TreeCase{10, 100, 2},
                                           TreeCase{2000, 100, 4}),
                         [](const ::testing::TestParamInfo<TreeCase>& info) {
                             return std::to_string(info.param.records) + "RecordsOfWidth" +
                                    std::to_string(info.param.width);
                         });

// ---- Keeping table and index together -------------------------------------------------------

// MATIB with `count` records, closed.
void WriteMatib(const fs::path& dir, std::size_t count)
{
    Table t("wwMatib", dir, "MATIB");
    DefineMatib(t);
    t.CreateTable();
    t.Open();
    for (std::size_t i = 0; i < count; ++i) {
        PostMatib(t, KeyFor(i), "materia " + std::to_string(i));
    }
    t.Close();
}

void ExpectMatibAgrees(const fs::path& dir)
{
    const auto index = ReadMdx(dir / "MATIB.MDX");
    ExpectAgrees(index, "ABREV", StoredKeys(dir / "MATIB.DBF", 1, 4));
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF")[28], 0x01);
}

// Announced: the header flag and the field flag; withdrawn: neither, and no index file.
void ExpectAnnounced(const fs::path& dir, bool announced)
{
    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    EXPECT_EQ(dbf[28], announced ? 0x01 : 0x00);
    EXPECT_EQ(dbf[32 + 31], announced ? 0x01 : 0x00);
    EXPECT_EQ(fs::exists(dir / "MATIB.MDX"), announced);
}

TEST(MdxUpkeepTest, PostsThatChangeKeysWithdrawTheIndexUntilCloseAndOtherEditsLeaveItAlone)
{
    TempDir dir;
    WriteMatib(dir.path(), 300);
    struct stat before = {};
    ASSERT_EQ(::stat((dir / "MATIB.MDX").c_str(), &before), 0);
    Table t("wwMatib", dir.path(), "MATIB");
    t.Open();
    t.Append();
    t.Cancel();
    t.MoveBy(10);
    t.Edit();
    t.FieldByName("NOMBRE").SetAsString("otro nombre");
    t.FieldByName("ABREV").SetAsString(t.FieldByName("ABREV").AsString()); // the same key bytes
    t.Post();
    ExpectAnnounced(dir.path(), true);
    t.Close();
    struct stat after = {};
    ASSERT_EQ(::stat((dir / "MATIB.MDX").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "an edit that keeps every key does not rewrite the index";

    t.Open();
    PostMatib(t, "NEW", "nueva");
    ExpectAnnounced(dir.path(), false);
    EXPECT_EQ(test::DbfRead(dir / "MATIB.DBF").records.size(), 301u) << "the table stays readable meanwhile";
    EXPECT_EQ(test::XBaseReadIndex(dir / "MATIB.DBF", "-", "-").records.size(), 301u);
    const std::vector<std::pair<long, std::string>> edits = {
        {0, "\xFF"}, {150, "\xD1U"}, {299, ""}, {42, "MAT"}};
    for (const auto& [position, key] : edits) {
        t.First();
        t.MoveBy(position);
        t.Edit();
        t.FieldByName("ABREV").SetAsString(key);
        t.Post();
    }
    t.Close();
    ExpectAnnounced(dir.path(), true);
    ExpectMatibAgrees(dir.path());
    const auto index = ReadMdx(dir / "MATIB.MDX");
    EXPECT_EQ(index.Tag("ABREV")->items.back(), (std::pair<std::string, std::uint32_t>{"\xFF   ", 1}));
    ExpectXBaseAgrees(dir.path(), *index.Tag("ABREV"), 0, Probes(*index.Tag("ABREV"), 30));

    // Opened shared, the table has its index back after every Post, while still open.
    t.Open(false);
    t.Edit();
    t.FieldByName("ABREV").SetAsString("AAAA");
    t.Post();
    ExpectMatibAgrees(dir.path());
    PostMatib(t, "B", "shared");
    ExpectMatibAgrees(dir.path());
    EXPECT_EQ(ReadMdx(dir / "MATIB.MDX").Tag("ABREV")->items.size(), 302u);
    t.Close();
}

TEST(MdxUpkeepTest, DeletedRecordsStayInTheIndex)
{
    TempDir dir;
    WriteMatib(dir.path(), 3);
    // Another program deletes record 2.
    std::string dbf = ReadFile(dir / "MATIB.DBF");
    dbf[193 + 61] = '*';
    dir.write("MATIB.DBF", dbf);

    Table t("wwMatib", dir.path(), "MATIB");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 2u);
    t.Edit();
    t.FieldByName("ABREV").SetAsString("ZZ");
    t.Post();
    t.Close();
    ExpectMatibAgrees(dir.path());
    const auto index = ReadMdx(dir / "MATIB.MDX");
    ASSERT_EQ(index.Tag("ABREV")->items.size(), 3u);
    // Record 2 (blank key) is in the index; XBase skips it as deleted.
    std::vector<std::uint32_t> order;
    for (const auto& item : test::XBaseReadIndex(dir / "MATIB.DBF", dir / "MATIB.MDX", "ABREV").records) {
        order.push_back(item.first);
    }
    EXPECT_EQ(order, (std::vector<std::uint32_t>{3, 1}));
}

TEST(MdxUpkeepTest, IndexThatCannotBeKeptStopsWritesButNotReading)
{
    TempDir dir;
    WriteMatib(dir.path(), 3);
    const std::string good = ReadFile(dir / "MATIB.MDX");
    std::string upper = good;
    upper.replace(0x818, 13, "UPPER(ABREV)"s + '\0');
    std::string descending = good;
    descending[0x808] = 0x18;
    struct Case
    {
        const char* what;
        std::optional<std::string> file;
    };
    const Case cases[] = {{"missing", std::nullopt},
                          {"not an index", "no es un indice"s},
                          {"expression", upper},
                          {"descending", descending}};
    for (const Case& c : cases) {
        fs::remove(dir / "MATIB.MDX");
        if (c.file) {
            dir.write("MATIB.MDX", *c.file);
        }
        const std::string dbf = ReadFile(dir / "MATIB.DBF");
        Table t("wwMatib", dir.path(), "MATIB");
        t.Open();
        EXPECT_EQ(t.RecordCount(), 3u) << c.what;
        EXPECT_EQ(t.FieldByName("ABREV").AsString(), "MAT") << c.what;
        const std::string append = ErrorOf([&] { t.Append(); });
        EXPECT_EQ(append.rfind("No se puede modificar la tabla MATIB: su índice MATIB.MDX", 0), 0u)
            << c.what << ": " << append;
        EXPECT_NE(ErrorOf([&] { t.Edit(); }), "no error") << c.what;
        t.Close();
        EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), dbf) << c.what;
        EXPECT_EQ(fs::exists(dir / "MATIB.MDX"), c.file.has_value()) << c.what;
    }
}

TEST(MdxUpkeepTest, DefinitionsThatCannotBeWrittenAreRefusedBeforeAnythingIsDeleted)
{
    TempDir dir;
    WriteMatib(dir.path(), 3);
    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    const std::string mdx = ReadFile(dir / "MATIB.MDX");

    Table t("wwMatib", dir.path(), "MATIB");
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("abrev", "ABREV"); }).find("nombre"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("ABREV", "ABREV", 1); }).find("ascendentes"), std::string::npos);
    t.AddIndexDef("ABREV", "ABREV");
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("ABREV", "NOMBRE"); }).find("ya hay otro"), std::string::npos);
    for (int i = 1; i < 47; ++i) {
        t.AddIndexDef("T" + std::to_string(i), "ABREV");
    }
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("T47", "ABREV"); }).find("47"), std::string::npos);

    struct Case
    {
        const char* fields;
        FieldType type;
        int width;
        const char* reason;
    };
    for (const Case& c : {Case{"OTRO", FieldType::String, 4, "que la tabla no tiene"},
                          Case{"CLAVE", FieldType::Integer, 0, "no es de texto"},
                          Case{"CLAVE", FieldType::String, 101, "como mucho 100"},
                          Case{"CLAVE;NOMBRE", FieldType::String, 4, "varios campos"}}) {
        Table u("wwMatib", dir.path(), "MATIB");
        u.AddFieldDef("CLAVE", c.type, c.width);
        u.AddFieldDef("NOMBRE", FieldType::String, 10);
        u.AddIndexDef("CLAVE", c.fields);
        const std::string error = ErrorOf([&] { u.CreateTable(); });
        EXPECT_EQ(error.rfind("No se puede crear la tabla MATIB: el índice CLAVE", 0), 0u) << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), dbf);
        EXPECT_EQ(ReadFile(dir / "MATIB.MDX"), mdx);
    }
}

// ---- Crash safety ---------------------------------------------------------------------------

TEST(MdxCrashTest, KilledWriterLeavesAnIndexThatIsCurrentOrNotAnnounced)
{
    constexpr std::size_t kHeader = 32 + 5 * 32 + 1;
    constexpr std::size_t kRecord = 61;
    // Where the kill is aimed: among the posts of a series, while Close writes the index (its
    // temporary file exists), or between series (the header announces the index).
    enum class Moment
    {
        Posting,
        WritingIndex,
        Announced,
    };
    struct Kill
    {
        std::size_t threshold;
        Moment moment;
    };
    int announced = 0;
    for (const Kill kill : {Kill{40, Moment::Posting}, Kill{300, Moment::WritingIndex},
                            Kill{800, Moment::Announced}, Kill{2000, Moment::Posting}}) {
        const std::size_t threshold = kill.threshold;
        TempDir dir;
        const pid_t pid = ::fork();
        if (pid == 0) {
            try {
                // Series of posts, each closed (which writes the index) before the next one.
                Table t("wwMatib", dir.path(), "MATIB");
                DefineMatib(t);
                t.CreateTable();
                for (std::size_t i = 0; i < 200000;) {
                    t.Open();
                    for (const std::size_t end = i + 97; i < end; ++i) {
                        PostMatib(t, KeyFor(i), std::to_string(i));
                    }
                    t.Close();
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::error_code ec;
        const auto reached = [&] {
            // Once the file reaches into record threshold + 1, the records before it are posted.
            if (fs::file_size(dir / "MATIB.DBF", ec) < kHeader + (threshold + 1) * kRecord || ec) {
                return false;
            }
            const bool writing = fs::exists(dir / "MATIB.MDX.tmp", ec);
            std::ifstream header(dir / "MATIB.DBF", std::ios::binary);
            char flags[29] = {};
            header.read(flags, sizeof flags);
            switch (kill.moment) {
            case Moment::Posting:
                return !writing && flags[28] == 0;
            case Moment::WritingIndex:
                return writing;
            case Moment::Announced:
                return flags[28] == 1;
            }
            return true;
        };
        bool late = false;
        while (!reached() && !late) {
            late = std::chrono::steady_clock::now() > deadline;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_FALSE(late) << "the writer did not reach " << threshold << " records";
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";

        // The table is a prefix of what was posted. python3-dbfread also reads a record whose
        // count the header did not raise yet; XBase goes by the header.
        const std::size_t count = StoredKeys(dir / "MATIB.DBF", 1, 4).size();
        const auto read = test::DbfRead(dir / "MATIB.DBF");
        ASSERT_GE(count, threshold);
        ASSERT_TRUE(read.records.size() == count || read.records.size() == count + 1) << read.records.size();
        for (std::size_t i = 0; i < read.records.size(); ++i) {
            std::string key = KeyFor(i).substr(0, 4);
            key.erase(key.find_last_not_of(' ') + 1);
            ASSERT_EQ(read.records[i].substr(0, read.records[i].find('|')), cp1252::ToUtf8(key)) << i;
        }
        const std::string dbf = ReadFile(dir / "MATIB.DBF");
        if (dbf[28] == 0x01) {
            ++announced;
            ExpectMatibAgrees(dir.path());
            const auto index = ReadMdx(dir / "MATIB.MDX");
            ExpectXBaseAgrees(dir.path(), *index.Tag("ABREV"), 0, Probes(*index.Tag("ABREV"), 20));
        } else {
            EXPECT_EQ(dbf[32 + 31], 0x00);
            EXPECT_EQ(test::XBaseReadIndex(dir / "MATIB.DBF", "-", "-").records.size(), count);
        }

        // The next import writes the table anew, with its index.
        WriteMatib(dir.path(), 5);
        ExpectAnnounced(dir.path(), true);
        ExpectMatibAgrees(dir.path());
    }
    RecordProperty("announced", announced);
}

// ---- The centre import ----------------------------------------------------------------------

TEST(MdxImportTest, CentreImportWritesAnIndexThatSeeksEveryAbbreviation)
{
    TempDir dir;
    const fs::path work = dir / "VTEMP";
    fs::create_directory(work);
    EstadoProceso estado;
    test::ScriptedPrompter prompter;
    prompter.archivo = fs::path(ZENDRAL_SOURCE_DIR) / "samples" / "centre.xml";
    prompter.dialogos = {
        test::Mostrar{{{"ESO", "1"}, {"ESO", "2"}, {"ESO", "3"}, {"ESO", "4"}, {"BAT", "1"}, {"BAT", "2"}},
                      test::Mostrar::Fin::Aceptar}};
    Importacion importacion(estado, prompter, work);
    ASSERT_EQ(importacion.BExportarClick(), FinRun::Completado);

    ExpectMatibAgrees(work);
    const auto index = ReadMdx(work / "MATIB.MDX");
    const test::MdxTagRead& tag = *index.Tag("ABREV");
    ASSERT_GT(tag.items.size(), 20u);
    std::vector<std::string> abbreviations;
    for (const auto& [key, record] : tag.items) {
        abbreviations.push_back(key);
    }
    ExpectXBaseAgrees(work, tag, 0, abbreviations);
    EXPECT_EQ(test::DbfRead(work / "MATIB.DBF").records.size(), tag.items.size());
    EXPECT_FALSE(fs::exists(work / "GRUPOST.MDX"));
}

} // namespace
} // namespace zendral::dbf
