#include "Mdx.h"

#include "CodePage.h"
#include "DbfRead.h"
#include "DbfTable.h"
#include "Error.h"
#include "ExternalTool.h"
#include "Importacion.h"
#include "MdxRead.h"
#include "ScriptedPrompter.h"
#include "System.h"
#include "Tablas.h"
#include "TempDir.h"
#include "XBaseRead.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <set>
#include <thread>

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
    const std::tm t = sys::LocalTime(now);
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
    const auto u16 = [&](std::size_t at) {
        return std::size_t{static_cast<unsigned char>(b[at + 1])} << 8 | static_cast<unsigned char>(b[at]);
    };
    std::vector<std::string> keys;
    for (std::size_t r = 0; r < (u16(6) << 16 | u16(4)); ++r) {
        keys.push_back(b.substr(u16(8) + r * u16(10) + offset, width));
    }
    return keys;
}

// Tag `name` of dir/MATIB.MDX against `keys`, the key of every record of the table (deleted ones
// included): our reader of the format finds no fault (items out of order are one) and one item per
// record with the record's key. Unless `most` is 0, XBase lists the records in the tag's order, and
// seeks, its and ours, land on the first item whose key is equal or greater, for up to `most` keys:
// distinct keys of the tag, the key just above each, and keys below and above all. Returns what our
// reader read.
test::MdxRead ExpectAgrees(const fs::path& dir, const std::string& name, const std::vector<std::string>& keys,
                           std::size_t most = 20)
{
    test::MdxRead index = ReadMdx(dir / "MATIB.MDX");
    EXPECT_EQ(index.faults, std::vector<std::string>{});
    const test::MdxTagRead* tag = index.Tag(name);
    if (tag == nullptr || tag->items.size() != keys.size()) {
        ADD_FAILURE() << "tag " << name << " is missing or does not list every record";
        return index;
    }
    std::set<std::uint32_t> records;
    std::vector<std::uint32_t> order;
    std::vector<std::string> probes = {std::string(tag->keyLength, '!'), std::string(tag->keyLength, '\xFF')};
    for (std::size_t i = 0; i < tag->items.size(); ++i) {
        const auto& [key, record] = tag->items[i];
        EXPECT_TRUE(record >= 1 && record <= keys.size() && key == keys[record - 1]) << name << " " << record;
        records.insert(record);
        order.push_back(record);
        if (probes.size() < most && (i == 0 || key != tag->items[i - 1].first)) {
            std::string above = key;
            above.back() = static_cast<char>(std::min(0xFF, static_cast<unsigned char>(above.back()) + 1));
            probes.insert(probes.end(), {key, above});
        }
    }
    EXPECT_EQ(records.size(), keys.size()) << name;
    if (most == 0) {
        return index;
    }
    const auto read = test::XBaseReadIndex(dir / "MATIB.DBF", dir / "MATIB.MDX", name, probes);
    std::vector<std::uint32_t> theirs, seeks;
    for (const auto& [record, values] : read.records) {
        theirs.push_back(record);
    }
    EXPECT_EQ(theirs, order) << name;
    for (const std::string& probe : probes) {
        const auto it = std::find_if(tag->items.begin(), tag->items.end(),
                                     [&](const auto& item) { return item.first >= probe; });
        seeks.push_back(it == tag->items.end() ? 0 : it->second);
        EXPECT_EQ(test::SeekMdx(index, *tag, probe), seeks.back()) << name << " seek '" << probe << "'";
    }
    EXPECT_EQ(read.seeks, seeks) << name << ": XBase's seeks";
    return index;
}

// Keys with long runs of duplicates (straddling leaves), blanks, lower case and accented letters.
std::string KeyFor(std::size_t i)
{
    static const char* kWords[] = {"MAT", "mat", "ES1A", "\xC9TICA", "\xD1U", "0", "A B", "Z"};
    return i % 4 == 0 ? "MAT" : i % 4 == 1 ? "" : kWords[i * 5 % 8] + std::to_string(i * 7919 % 613);
}

void PostMatib(Table& t, const std::string& abrev)
{
    t.Append();
    t.FieldByName("ABREV").SetAsString(abrev);
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

TEST(MdxLayoutTest, EmptyAndThreeRecordIndexesAreTheWorkedExampleByteForByte)
{
    // Dated today. While the table is empty, also after an Open and Close that change nothing, the
    // index has one empty leaf.
    std::string empty = Dated(ExampleIndex(), Today());
    std::fill(empty.begin() + 0xC00, empty.end(), '\0');
    TempDir dir;
    Table t("wwMatib", dir.path(), "MATIB");
    tablas::Definir(t, tablas::kMatib);
    t.CreateTable();
    EXPECT_EQ(ReadFile(dir / "MATIB.MDX"), empty);
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF")[28], 0x01);
    t.Open();
    t.Close();
    EXPECT_EQ(ReadFile(dir / "MATIB.MDX"), empty);
    t.Open();
    for (const char* abrev : {"MAT", "ES1A", "MAT"}) {
        PostMatib(t, abrev);
    }
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
    for (const auto& [tag, offset, width] :
         {std::tuple{"ABREV", 1, 4}, {"NOMBRE", 5, 40}, {"NIVEL", 56, 5}, {"CURSO", 61, 3}}) {
        ExpectAgrees(dir.path(), tag, StoredKeys(dir / "MATIB.DBF", offset, width));
    }
}

// ---- Trees of every size --------------------------------------------------------------------

// 126 keys of 4 bytes fill one leaf and 127 leaves one root; 100-byte keys take 9 a block.
TEST(MdxTreeTest, EveryRecordIsReachableInKeyOrderAndSeeksLandOnTheFirstDuplicate)
{
    for (const auto& [records, width, levels] : {std::tuple{0, 4, 1},
                                                 {1, 4, 1},
                                                 {7, 4, 1},
                                                 {126, 4, 1},
                                                 {127, 4, 2},
                                                 {16002, 4, 2},
                                                 {16003, 4, 3},
                                                 {20000, 4, 3},
                                                 {300, 1, 2},
                                                 {1000, 10, 2},
                                                 {9, 100, 1},
                                                 {10, 100, 2},
                                                 {2000, 100, 4}}) {
        SCOPED_TRACE(std::to_string(records) + " records of width " + std::to_string(width));
        TempDir dir;
        Table t("wwMatib", dir.path(), "MATIB");
        t.AddFieldDef("CLAVE", FieldType::String, width);
        t.AddFieldDef("NUM", FieldType::Integer);
        t.AddIndexDef("CLAVE", "CLAVE");
        t.CreateTable();
        t.Open();
        for (int i = 0; i < records; ++i) {
            t.Append();
            // Every third key fills its width; the others are blank-padded.
            const auto n = static_cast<std::size_t>(i);
            t.FieldByName("CLAVE").SetAsString(KeyFor(n) + std::string(n % 3 == 2 ? width : 0, 'x'));
            t.FieldByName("NUM").SetAsInteger(i);
            t.Post();
        }
        t.Close();

        const auto keys = StoredKeys(dir / "MATIB.DBF", 1, static_cast<std::size_t>(width));
        const auto index = ExpectAgrees(dir.path(), "CLAVE", keys, 400);
        const test::MdxTagRead* tag = index.Tag("CLAVE");
        ASSERT_NE(tag, nullptr);
        EXPECT_EQ(tag->levels, levels);
        EXPECT_EQ(tag->expression, "CLAVE");
    }
}

// ---- Keeping table and index together -------------------------------------------------------

// MATIB with `count` records, closed.
void WriteMatib(const fs::path& dir, std::size_t count)
{
    Table t("wwMatib", dir, "MATIB");
    tablas::Definir(t, tablas::kMatib);
    t.CreateTable();
    t.Open();
    for (std::size_t i = 0; i < count; ++i) {
        PostMatib(t, KeyFor(i));
    }
    t.Close();
}

// Announced: the header flag and the field flag; withdrawn: neither, and no index file.
void ExpectAnnounced(const fs::path& dir, bool announced)
{
    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    EXPECT_EQ(dbf[28], announced ? 0x01 : 0x00);
    EXPECT_EQ(dbf[32 + 31], announced ? 0x01 : 0x00);
    EXPECT_EQ(fs::exists(dir / "MATIB.MDX"), announced);
}

// MATIB announces its index, and the index agrees with the table.
test::MdxRead ExpectMatibIndexed(const fs::path& dir, std::size_t most = 20)
{
    ExpectAnnounced(dir, true);
    return ExpectAgrees(dir, "ABREV", StoredKeys(dir / "MATIB.DBF", 1, 4), most);
}

TEST(MdxUpkeepTest, PostsThatChangeKeysWithdrawTheIndexUntilCloseAndOtherEditsLeaveItAlone)
{
    TempDir dir;
    WriteMatib(dir.path(), 300);
    const std::uint64_t before = test::FileIdentity(dir / "MATIB.MDX");
    ASSERT_NE(before, 0u);
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
    EXPECT_EQ(test::FileIdentity(dir / "MATIB.MDX"), before)
        << "an edit that keeps every key does not rewrite the index";

    t.Open();
    PostMatib(t, "NEW");
    ExpectAnnounced(dir.path(), false);
    t.First(); // writes the pending append
    EXPECT_EQ(test::DbfRead(dir / "MATIB.DBF").records.size(), 301u) << "the table stays readable meanwhile";
    EXPECT_EQ(test::XBaseReadIndex(dir / "MATIB.DBF", "-", "-").records.size(), 301u);
    for (const auto& [position, key] : {std::pair{0L, "\xFF"}, {150L, "\xD1U"}, {299L, ""}, {42L, "MAT"}}) {
        t.First();
        t.MoveBy(position);
        t.Edit();
        t.FieldByName("ABREV").SetAsString(key);
        t.Post();
    }
    t.Close();
    const auto index = ExpectMatibIndexed(dir.path());
    EXPECT_EQ(index.Tag("ABREV")->items.back(), (std::pair<std::string, std::uint32_t>{"\xFF   ", 1}));

    // Opened shared, the table has its index back after every Post, while still open.
    t.Open(false);
    t.Edit();
    t.FieldByName("ABREV").SetAsString("AAAA");
    t.Post();
    ExpectMatibIndexed(dir.path());
    PostMatib(t, "B");
    EXPECT_EQ(ExpectMatibIndexed(dir.path()).Tag("ABREV")->items.size(), 302u);
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
    ExpectAnnounced(dir.path(), true);
    ExpectAgrees(dir.path(), "ABREV", StoredKeys(dir / "MATIB.DBF", 1, 4), 0);
    // Record 2 (blank key) is in the index; XBase skips it as deleted.
    std::vector<std::uint32_t> order;
    for (const auto& item : test::XBaseReadIndex(dir / "MATIB.DBF", dir / "MATIB.MDX", "ABREV").records) {
        order.push_back(item.first);
    }
    EXPECT_EQ(order, (std::vector<std::uint32_t>{3, 1}));
}

TEST(MdxUpkeepTest, IndexThatCannotBeWrittenOrKeptIsRefusedAndTheFilesStayAsTheyWere)
{
    TempDir dir;
    WriteMatib(dir.path(), 3);
    const std::string dbf = ReadFile(dir / "MATIB.DBF");
    const std::string mdx = ReadFile(dir / "MATIB.MDX");

    // Definitions are refused before anything is deleted.
    Table t("wwMatib", dir.path(), "MATIB");
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("abrev", "ABREV"); }).find("nombre"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("ABREV", "ABREV", 1); }).find("ascendentes"), std::string::npos);
    t.AddIndexDef("ABREV", "ABREV");
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("ABREV", "NOMBRE"); }).find("ya hay otro"), std::string::npos);
    for (int i = 1; i < 47; ++i) {
        t.AddIndexDef("T" + std::to_string(i), "ABREV");
    }
    EXPECT_NE(ErrorOf([&] { t.AddIndexDef("T47", "ABREV"); }).find("47"), std::string::npos);

    for (const auto& [fields, type, width, reason] :
         {std::tuple{"OTRO", FieldType::String, 4, "que la tabla no tiene"},
          {"CLAVE", FieldType::Integer, 0, "no es de texto"},
          {"CLAVE", FieldType::String, 101, "como mucho 100"},
          {"CLAVE;NOMBRE", FieldType::String, 4, "varios campos"}}) {
        Table u("wwMatib", dir.path(), "MATIB");
        u.AddFieldDef("CLAVE", type, width);
        u.AddFieldDef("NOMBRE", FieldType::String, 10);
        u.AddIndexDef("CLAVE", fields);
        const std::string error = ErrorOf([&] { u.CreateTable(); });
        EXPECT_EQ(error.rfind("No se puede crear la tabla MATIB: el índice CLAVE", 0), 0u) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), dbf);
        EXPECT_EQ(ReadFile(dir / "MATIB.MDX"), mdx);
    }

    // An index that cannot be kept current stops writes, but not reading.
    std::string upper = mdx;
    upper.replace(0x818, 13, "UPPER(ABREV)"s + '\0');
    std::string descending = mdx;
    descending[0x808] = 0x18;
    const std::pair<const char*, std::optional<std::string>> cases[] = {{"missing", std::nullopt},
                                                                        {"not an index", "no es un indice"},
                                                                        {"expression", upper},
                                                                        {"descending", descending}};
    for (const auto& [what, file] : cases) {
        fs::remove(dir / "MATIB.MDX");
        if (file) {
            dir.write("MATIB.MDX", *file);
        }
        Table r("wwMatib", dir.path(), "MATIB");
        r.Open();
        EXPECT_EQ(r.RecordCount(), 3u) << what;
        EXPECT_EQ(r.FieldByName("ABREV").AsString(), "MAT") << what;
        const std::string append = ErrorOf([&] { r.Append(); });
        EXPECT_EQ(append.rfind("No se puede modificar la tabla MATIB: su índice MATIB.MDX", 0), 0u)
            << what << ": " << append;
        EXPECT_NE(ErrorOf([&] { r.Edit(); }), "no error") << what;
        r.Close();
        EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), dbf) << what;
        EXPECT_EQ(fs::exists(dir / "MATIB.MDX"), file.has_value()) << what;
    }
}

// ---- Crash safety ---------------------------------------------------------------------------

// Posts per series of the killed writer: each series reaches the file as one batch, at its Close.
constexpr std::size_t kSeries = 97;

// A helper process that writes MATIB in the directory it is given in series of posts, each
// closed (which writes the index) before the next one, until it is killed.
int WriteMatibUntilKilled(const std::vector<std::string>& args)
{
    try {
        Table t("wwMatib", test::PathArgument(args.at(0)), "MATIB");
        tablas::Definir(t, tablas::kMatib);
        t.CreateTable();
        for (std::size_t i = 0; i < 200000;) {
            t.Open();
            for (const std::size_t end = i + kSeries; i < end; ++i) {
                PostMatib(t, KeyFor(i));
            }
            t.Close();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } catch (...) {
        return 2;
    }
    return 0;
}
[[maybe_unused]] const bool kWriteMatibUntilKilled =
    test::RegisterHelper("matib-writer", WriteMatibUntilKilled);

TEST(MdxCrashTest, KilledWriterLeavesAnIndexThatIsCurrentOrNotAnnounced)
{
    // Where the kill is aimed: among the posts of a series, while Close writes the index (its
    // temporary file exists), or between series (the header announces the index).
    int announced = 0;
    for (const auto& [umbral, momento] : {std::pair<std::size_t, std::string_view>{40, "posting"},
                                          {300, "writing the index"},
                                          {800, "announced"},
                                          {2000, "posting"}}) {
        // Plain copies: clang 14 does not let a lambda capture structured bindings.
        const std::size_t threshold = umbral;
        const std::string_view moment = momento;
        TempDir dir;
        test::HelperProcess writer("matib-writer", {test::ArgumentOf(dir.path())});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::error_code ec;
        const auto reached = [&] {
            // Once the header counts `threshold` records, they are all on disk.
            std::ifstream header(dir / "MATIB.DBF", std::ios::binary);
            char flags[29] = {};
            header.read(flags, sizeof flags);
            std::uint32_t count = 0;
            for (int i = 7; i >= 4; --i) {
                count = count << 8 | static_cast<unsigned char>(flags[i]);
            }
            if (count < threshold) {
                return false;
            }
            // The index is written beside its final name, under a name of its own.
            bool writing = false;
            for (const auto& e : fs::directory_iterator(dir.path(), ec)) {
                const std::string n = e.path().filename().string();
                writing = writing || (n.rfind("MATIB.MDX.", 0) == 0 && n.size() > 14 &&
                                      n.compare(n.size() - 4, 4, ".tmp") == 0);
            }
            return moment == "posting"     ? !writing && flags[28] == 0
                   : moment == "announced" ? flags[28] == 1
                                           : writing;
        };
        bool late = false;
        while (!reached() && !late) {
            late = std::chrono::steady_clock::now() > deadline;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
        writer.Kill();
        const int status = writer.Wait();
        ASSERT_FALSE(late) << "the writer did not reach " << threshold << " records";
        EXPECT_EQ(status, -1) << "the writer finished before it was killed";

        // The table is a prefix of what was posted. python3-dbfread also reads the records of a
        // series whose count the header did not raise yet; XBase goes by the header.
        const std::size_t count = StoredKeys(dir / "MATIB.DBF", 1, 4).size();
        const auto read = test::DbfRead(dir / "MATIB.DBF");
        ASSERT_GE(count, threshold);
        ASSERT_GE(read.records.size(), count);
        ASSERT_LE(read.records.size(), count + kSeries);
        for (std::size_t i = 0; i < read.records.size(); ++i) {
            std::string key = KeyFor(i).substr(0, 4);
            key.erase(key.find_last_not_of(' ') + 1);
            ASSERT_EQ(read.records[i].substr(0, read.records[i].find('|')), cp1252::ToUtf8(key)) << i;
        }
        if (ReadFile(dir / "MATIB.DBF")[28] == 0x01) {
            ++announced;
            ExpectMatibIndexed(dir.path());
        } else {
            EXPECT_EQ(ReadFile(dir / "MATIB.DBF")[32 + 31], 0x00);
            EXPECT_EQ(test::XBaseReadIndex(dir / "MATIB.DBF", "-", "-").records.size(), count);
        }

        // The next import writes the table anew, with its index.
        WriteMatib(dir.path(), 5);
        ExpectMatibIndexed(dir.path());
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

    // Every abbreviation, and a key after each, is sought.
    const std::size_t count = test::DbfRead(work / "MATIB.DBF").records.size();
    ASSERT_GT(count, 20u);
    EXPECT_EQ(ExpectMatibIndexed(work, 2 * count).Tag("ABREV")->items.size(), count);
    EXPECT_FALSE(fs::exists(work / "GRUPOST.MDX"));
}

} // namespace
} // namespace zendral::dbf
