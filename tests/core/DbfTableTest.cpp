#include "access/DbfTable.h"

#include "access/CodePage.h"
#include "access/Error.h"
#include "tests/support/DbfRead.h"
#include "tests/support/TempDir.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace zendral::dbf
{
namespace
{

using test::DbfRead;
using test::ReadFile;
using test::TempDir;
using namespace std::string_literals;

std::string Le(std::uint64_t v, int size)
{
    std::string s;
    for (int i = 0; i < size; ++i, v >>= 8) {
        s += static_cast<char>(v & 0xFF);
    }
    return s;
}

std::string Be(std::uint64_t v, int size)
{
    std::string s = Le(v, size);
    return {s.rbegin(), s.rend()};
}

std::string Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm t = {};
    localtime_r(&now, &t);
    return {static_cast<char>(t.tm_year), static_cast<char>(t.tm_mon + 1), static_cast<char>(t.tm_mday)};
}

struct RawField
{
    std::string name;
    char type;
    int width;
    int decimals = 0;
};

// A table as another program writes it. Version 0x04 gives the level 7 layout; `gap` bytes after
// the terminator are counted in the header length (FoxPro's 263-byte block, a stray 0x00).
std::string RawTable(unsigned char version, const std::vector<RawField>& fields,
                     const std::vector<std::string>& records, std::size_t gap = 0)
{
    const bool level7 = version == 0x04;
    const std::size_t first = level7 ? 68 : 32;
    const std::size_t size = level7 ? 48 : 32;
    std::size_t recordLength = 1;
    for (const RawField& f : fields) {
        recordLength += static_cast<std::size_t>(f.width);
    }
    std::string out(first, '\0');
    out[0] = static_cast<char>(version);
    out.replace(1, 3, "\x7D\x03\x0E");
    out.replace(4, 4, Le(records.size(), 4));
    out.replace(8, 2, Le(first + size * fields.size() + 1 + gap, 2));
    out.replace(10, 2, Le(recordLength, 2));
    out[29] = 0x57;
    for (const RawField& f : fields) {
        std::string d(size, '\0');
        d.replace(0, f.name.size(), f.name);
        d[level7 ? 32 : 11] = f.type;
        d[level7 ? 33 : 16] = static_cast<char>(f.width);
        d[level7 ? 34 : 17] = static_cast<char>(f.decimals);
        out += d;
    }
    out += '\r' + std::string(gap, '\0');
    for (const std::string& r : records) {
        EXPECT_EQ(r.size(), recordLength) << "record " << r;
        out += r;
    }
    return out + '\x1A';
}

// Every live record through AsString (as UTF-8), fields joined by '|'.
std::vector<std::string> ReadAll(Table& t)
{
    std::vector<std::string> rows;
    for (t.First(); !t.Eof(); t.Next()) {
        std::string row;
        const std::vector<FieldInfo>& fields = t.Fields();
        for (std::size_t i = 0; i < fields.size(); ++i) {
            row += (i == 0 ? "" : "|") + cp1252::ToUtf8(t.FieldByName(fields[i].name).AsString());
        }
        rows.push_back(row);
    }
    return rows;
}

std::string ErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(DbfTableTest, EmptyTableAndAppendedRecordsMatchHandComputedBytes)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "MATIB");
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.CreateTable();

    // 32 header + 32 descriptor + 0x0D = 65 header bytes, then the end-of-file marker.
    const auto header = [](std::uint32_t count) {
        return "\x03" + Today() + Le(count, 4) + Le(65, 2) + Le(5, 2) + std::string(17, '\0') + "\x57" +
               std::string(2, '\0') + "ABREV" + std::string(6, '\0') + "C" + std::string(4, '\0') + "\x04" +
               std::string(15, '\0') + "\r";
    };
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(0) + "\x1A");
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF").size(), 66u);

    t.Open();
    t.Append();
    t.FieldByName("ABREV").SetAsString("MAT");
    t.Post();
    t.Append();
    t.FieldByName("abrev").SetAsString("EDUCACION");
    t.Post();
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(2) + " MAT  EDUC\x1A") << "after the posts";
    t.Close();
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(2) + " MAT  EDUC\x1A") << "after Close";
}

TEST(DbfTableTest, RejectsBadFieldDefinitions)
{
    struct Case
    {
        std::string name;
        FieldType type;
        int size;
    };
    const Case cases[] = {
        {"ABREV", FieldType::String, 0},   {"ABREV", FieldType::String, 255},
        {"", FieldType::Integer, 0},       {"ABCDEFGHIJK", FieldType::Integer, 0},
        {"abrev", FieldType::Integer, 0},  {"1ABREV", FieldType::Integer, 0},
        {"AB REV", FieldType::Integer, 0}, {"NOMBRE", FieldType::Integer, 0}, // duplicate
    };
    for (const Case& c : cases) {
        TempDir dir;
        Table t("wwTabla", dir.path(), "PROFT");
        t.AddFieldDef("NOMBRE", FieldType::String, 10);
        EXPECT_THROW(t.AddFieldDef(c.name, c.type, c.size), Error) << c.name << " " << c.size;
    }
    TempDir dir;
    Table empty("wwTabla", dir.path(), "PROFT");
    EXPECT_THROW(empty.CreateTable(), Error);
    EXPECT_FALSE(std::filesystem::exists(dir / "PROFT.DBF"));
}

TEST(DbfTableTest, OtherReadersReadEveryFieldTypeWeWrite)
{
    TempDir dir;
    {
        Table t("wwTabla", dir.path(), "MATIB");
        t.AddFieldDef("NOMBRE", FieldType::String, 20);
        t.AddFieldDef("HORAS", FieldType::Integer);
        t.AddFieldDef("PESO", FieldType::Float);
        t.AddFieldDef("ACTIVO", FieldType::Boolean);
        t.AddFieldDef("CODIGO", FieldType::String, 3);
        t.CreateTable();
        t.Open();

        t.Append();
        t.FieldByName("NOMBRE").SetAsString(cp1252::FromUtf8("Educació física"));
        t.FieldByName("HORAS").SetAsInteger(3);
        t.FieldByName("PESO").SetAsFloat(1.5);
        t.FieldByName("ACTIVO").SetAsBoolean(true);
        t.FieldByName("CODIGO").SetAsString("ABCDEF");
        t.Post();

        t.Append(); // never set: blank fields
        t.Post();

        t.Append();
        t.FieldByName("NOMBRE").SetAsString("  Lengua");
        t.FieldByName("HORAS").SetAsInteger(-42);
        t.FieldByName("PESO").SetAsFloat(-2.25);
        t.FieldByName("ACTIVO").SetAsBoolean(false);
        t.FieldByName("CODIGO").SetAsString("X");
        t.Post();

        t.Append();
        t.FieldByName("HORAS").SetAsString(" 7 ");
        t.FieldByName("PESO").SetAsString("0.00005");
        t.FieldByName("ACTIVO").SetAsString(cp1252::FromUtf8("sí"));
        t.Post();
        t.Close();
    }

    const auto read = DbfRead(dir / "MATIB.DBF");
    EXPECT_EQ(read.fields, (std::vector<std::string>{"NOMBRE:C:20:0", "HORAS:N:11:0", "PESO:N:20:4",
                                                     "ACTIVO:L:1:0", "CODIGO:C:3:0"}));
    EXPECT_EQ(read.records, (std::vector<std::string>{"Educació física|3|1.5|T|ABC", "|~|~|~|",
                                                      "  Lengua|-42|-2.25|F|X", "|7|0.0001|T|"}));

    Table t("wwTabla", dir.path(), "MATIB");
    t.Open(false);
    EXPECT_EQ(ReadAll(t), (std::vector<std::string>{"Educació física|3|1.5|T|ABC", "||||",
                                                    "  Lengua|-42|-2.25|F|X", "|7|0.0001|T|"}));
}

TEST(DbfTableTest, NumbersAreWrittenExactlyOrRefused)
{
    struct Case
    {
        const char* field;
        std::function<void(Field)> set;
        const char* stored; // nullptr: the value must be refused
    };
    const Case cases[] = {
        {"HORAS", [](Field f) { f.SetAsInteger(3); }, "          3"},
        {"HORAS", [](Field f) { f.SetAsInteger(-2147483648LL); }, "-2147483648"},
        {"HORAS", [](Field f) { f.SetAsInteger(99999999999LL); }, "99999999999"},
        {"HORAS", [](Field f) { f.SetAsInteger(100000000000LL); }, nullptr},
        {"HORAS", [](Field f) { f.SetAsInteger(-10000000000LL); }, nullptr},
        {"HORAS", [](Field f) { f.SetAsFloat(2.5); }, "          3"},
        {"HORAS", [](Field f) { f.SetAsFloat(-2.5); }, "         -3"},
        {"HORAS", [](Field f) { f.SetAsFloat(0.4999); }, "          0"},
        {"HORAS", [](Field f) { f.SetAsString(" -0.5 "); }, "         -1"},
        {"HORAS", [](Field f) { f.SetAsString("1e3"); }, "       1000"},
        {"HORAS", [](Field f) { f.SetAsString("doce"); }, nullptr},
        {"PESO", [](Field f) { f.SetAsFloat(1.5); }, "              1.5000"},
        {"PESO", [](Field f) { f.SetAsFloat(0.00005); }, "              0.0001"},
        {"PESO", [](Field f) { f.SetAsFloat(-0.00004); }, "              0.0000"},
        {"PESO", [](Field f) { f.SetAsFloat(2.675); }, "              2.6750"},
        {"PESO", [](Field f) { f.SetAsFloat(1.23456789); }, "              1.2346"},
        {"PESO", [](Field f) { f.SetAsFloat(0.1 + 0.2); }, "              0.3000"},
        {"PESO", [](Field f) { f.SetAsFloat(-123456789012345.0); }, nullptr},
        {"PESO", [](Field f) { f.SetAsFloat(12345678901234.5); }, " 12345678901234.5000"},
        {"PESO", [](Field f) { f.SetAsFloat(1e300); }, nullptr},
        {"PESO", [](Field f) { f.SetAsFloat(std::nan("")); }, nullptr},
        {"PESO", [](Field f) { f.SetAsFloat(INFINITY); }, nullptr},
        {"PESO", [](Field f) { f.SetAsString(""); }, "                    "},
        {"PESO", [](Field f) { f.SetAsInteger(7); }, "              7.0000"},
    };

    TempDir dir;
    Table t("wwTabla", dir.path(), "NUMS");
    t.AddFieldDef("HORAS", FieldType::Integer);
    t.AddFieldDef("PESO", FieldType::Float);
    t.CreateTable();
    t.Open();
    std::vector<const Case*> posted;
    for (const Case& c : cases) {
        t.Append();
        if (c.stored == nullptr) {
            EXPECT_THROW(c.set(t.FieldByName(c.field)), Error) << "case " << &c - cases;
            t.Cancel();
            continue;
        }
        c.set(t.FieldByName(c.field));
        t.Post();
        posted.push_back(&c);
    }
    t.Close();

    const std::string file = ReadFile(dir / "NUMS.DBF");
    constexpr std::size_t kHeader = 32 + 2 * 32 + 1;
    constexpr std::size_t kRecord = 1 + 11 + 20;
    ASSERT_EQ(file.size(), kHeader + posted.size() * kRecord + 1);
    for (std::size_t i = 0; i < posted.size(); ++i) {
        const bool horas = std::string_view(posted[i]->field) == "HORAS";
        const std::string raw = file.substr(kHeader + i * kRecord + (horas ? 1 : 12), horas ? 11 : 20);
        EXPECT_EQ(raw, posted[i]->stored) << "case " << posted[i] - cases;
    }
}

TEST(DbfTableTest, ReadingsConvertTextsAndRoundHalvesToEven)
{
    struct Case
    {
        const char* text;
        std::optional<std::int32_t> integer; // nullopt: AsInteger throws `error`
        const char* error = "";
    };
    const Case cases[] = {
        {"2.5", 2},
        {"3.5", 4},
        {"-2.5", -2},
        {"-3.5", -4},
        {"0.5", 0},
        {"1.5", 2},
        {"2.51", 3},
        {"  7 ", 7},
        {"", 0},
        {"1e3", 1000},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", std::nullopt, "'2147483648' no cabe en un entero"},
        {"2147483647.5", std::nullopt, "'2147483647.5' no cabe en un entero"},
        {"abc", std::nullopt, "'abc' no es un valor entero válido"},
        {"1.2.3", std::nullopt, "'1.2.3' no es un valor entero válido"},
        {"ó", std::nullopt, "'ó' no es un valor entero válido"},
    };
    TempDir dir;
    Table t("wwTabla", dir.path(), "TEXTOS");
    t.AddFieldDef("TEXTO", FieldType::String, 20);
    t.CreateTable();
    t.Open();
    for (const Case& c : cases) {
        t.Append();
        t.FieldByName("TEXTO").SetAsString(cp1252::FromUtf8(c.text));
        t.Post();
        const Field f = t.FieldByName("TEXTO");
        if (c.integer) {
            EXPECT_EQ(f.AsInteger(), *c.integer) << c.text;
        } else {
            EXPECT_EQ(ErrorOf([&] { f.AsInteger(); }).rfind(c.error, 0), 0u)
                << ErrorOf([&] { f.AsInteger(); });
        }
    }

    const auto floatOf = [&](const char* text) {
        t.Append();
        t.FieldByName("TEXTO").SetAsString(text);
        t.Post();
        return t.FieldByName("TEXTO").AsFloat();
    };
    EXPECT_EQ(floatOf("1.5"), 1.5);
    EXPECT_EQ(floatOf(" -0.25"), -0.25);
    EXPECT_EQ(floatOf(""), 0.0);
    EXPECT_EQ(ErrorOf([&] { floatOf("uno"); }), "'uno' no es un valor de coma flotante válido");
}

TEST(DbfTableTest, NumberFieldsReadInShortestForm)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "NUMS");
    t.AddFieldDef("PESO", FieldType::Float);
    t.CreateTable();
    t.Open();
    for (const double v : {3.0, 1.5, -2.0, 0.0, 2.5, 1234.0625}) {
        t.Append();
        t.FieldByName("PESO").SetAsFloat(v);
        t.Post();
    }
    t.Append();
    t.Post();
    EXPECT_EQ(ReadAll(t), (std::vector<std::string>{"3", "1.5", "-2", "0", "2.5", "1234.0625", ""}));
    t.First();
    t.MoveBy(4);
    EXPECT_EQ(t.FieldByName("PESO").AsInteger(), 2);
    EXPECT_EQ(t.FieldByName("PESO").AsFloat(), 2.5);
    t.Last();
    EXPECT_TRUE(t.FieldByName("PESO").IsNull());
    EXPECT_EQ(t.FieldByName("PESO").AsInteger(), 0);
}

TEST(DbfTableTest, FieldLookupIgnoresCaseAndNamesTheMissingField)
{
    TempDir dir;
    Table t("wwTablaProf", dir.path(), "PROFT");
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.CreateTable();
    t.Open();
    EXPECT_EQ(t.FieldByName("abrev").Info().name, "ABREV");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("NOEXISTE"); }),
              "wwTablaProf: No se encuentra el campo 'NOEXISTE'");
}

TEST(DbfTableTest, EditRewritesInPlaceAndCancelDropsChanges)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "GRUPOST");
    t.AddFieldDef("GRUPO", FieldType::String, 5);
    t.AddFieldDef("ALUMNOS", FieldType::Integer);
    t.CreateTable();
    t.Open();
    for (const char* g : {"1A", "1B", "2A"}) {
        t.Append();
        t.FieldByName("GRUPO").SetAsString(g);
        t.FieldByName("ALUMNOS").SetAsInteger(20);
        t.Post();
    }
    const auto size = std::filesystem::file_size(dir / "GRUPOST.DBF");

    t.First();
    t.Next();
    t.Edit();
    t.FieldByName("ALUMNOS").SetAsInteger(31);
    t.Post();
    EXPECT_EQ(t.Position(), 1u);
    EXPECT_EQ(t.FieldByName("GRUPO").AsString(), "1B");

    t.Append();
    t.FieldByName("GRUPO").SetAsString("3C");
    t.Cancel();
    t.Last();
    t.Edit();
    t.FieldByName("ALUMNOS").Clear();
    EXPECT_EQ(t.FieldByName("ALUMNOS").AsString(), "") << "the pending change reads back before Post";
    t.Cancel();
    EXPECT_EQ(t.FieldByName("ALUMNOS").AsString(), "20");
    EXPECT_EQ(t.RecordCount(), 3u);
    t.Close();

    EXPECT_EQ(std::filesystem::file_size(dir / "GRUPOST.DBF"), size);
    EXPECT_EQ(DbfRead(dir / "GRUPOST.DBF").records, (std::vector<std::string>{"1A|20", "1B|31", "2A|20"}));
}

TEST(DbfTableTest, MisuseIsRefusedWithoutTouchingTheFile)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "PROFT");
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.CreateTable();
    EXPECT_THROW(t.First(), Error) << "closed";
    t.Open(false);
    EXPECT_TRUE(t.Eof());
    EXPECT_THROW(t.FieldByName("ABREV").AsString(), Error) << "no current record";
    t.Close();
    t.Open();
    EXPECT_THROW(t.FieldByName("ABREV").SetAsString("X"), Error) << "not editing";
    EXPECT_THROW(t.Post(), Error);
    t.Append();
    EXPECT_THROW(t.Next(), Error) << "pending append";
    EXPECT_THROW(t.CreateTable(), Error) << "open";
    t.Cancel();
    t.Close();
    EXPECT_EQ(ReadFile(dir / "PROFT.DBF").size(), 66u);
}

TEST(DbfTableTest, ReadsTablesOfOtherPrograms)
{
    struct Case
    {
        const char* what;
        std::string bytes;
        std::vector<std::string> ours;
        std::vector<std::string> dbfread; // empty: not compared
    };
    const std::string sample = "\x42\xCC\xE1\xEC\x41\xFB\x64\x00"s; // a timestamp written by dBase 7
    const auto double7 = [](double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        return Be(v < 0 ? ~bits : bits ^ 0x8000000000000000u, 8);
    };
    const auto int7 = [](std::int32_t v) { return Be(static_cast<std::uint32_t>(v) ^ 0x80000000u, 4); };
    const Case cases[] = {
        {"dBase III with deleted records and a stray header byte",
         RawTable(0x03,
                  {{"NOMBRE", 'C', 6},
                   {"HORAS", 'N', 5, 1},
                   {"ALTA", 'D', 8},
                   {"FIJO", 'L', 1},
                   {"NOTA", 'F', 6, 2}},
                  {" Ana\0\0\0"s + " 12.5" + "20150314" + "T" + "  9.50",
                   "*Borra "s + " 99.9" + "        " + "T" + "      ",
                   " \xC1ngel "s + " -3.0" + "        " + "n" + "      ",
                   "*Otro  "s + "  1.0" + "        " + "?" + "      ",
                   "       "s + "  0.0" + "        " + "y" + " -0.10"},
                  1),
         {"Ana|12.5|14/03/2015|T|9.5", "Ángel|-3||F|", "|0||T|-0.1"},
         {"Ana|12.5|2015-03-14|T|9.5", "Ángel|-3.0|~|F|~", "|0.0|~|T|-0.1"}},
        {"FoxPro with binary fields",
         RawTable(0x30,
                  {{"ID", 'I', 4},
                   {"PRECIO", 'B', 8},
                   {"IMPORTE", 'Y', 8},
                   {"MOMENTO", 'T', 8},
                   {"NOMBRE", 'C', 3}},
                  {" " + Le(static_cast<std::uint32_t>(-7), 4) + Le(std::bit_cast<std::uint64_t>(1.5), 8) +
                       Le(123456, 8) + Le(2451545, 4) + Le(45296000, 4) + "Ana",
                   " " + Le(2147483647, 4) + Le(std::bit_cast<std::uint64_t>(-0.25), 8) +
                       Le(static_cast<std::uint64_t>(-5), 8) + std::string(8, '\0') + "   "},
                  263),
         {"-7|1.5|12.3456|01/01/2000 12:34:56|Ana", "2147483647|-0.25|-0.0005||"},
         {"-7|1.5|12.3456|2000-01-01T12:34:56|Ana", "2147483647|-0.25|-0.0005|~|"}},
        {"dBase level 7 with binary fields",
         RawTable(0x04, {{"NUM", 'I', 4}, {"VALOR", 'O', 8}, {"CUANDO", '@', 8}, {"AUTO", '+', 4}},
                  {" " + int7(-5) + double7(2.5) + sample + int7(1),
                   " " + int7(7) + double7(-1.25) + std::string(8, '\0') + int7(2),
                   " " + std::string(4, '\0') + std::string(8, '\0') + std::string(8, '\0') + int7(0)}),
         {"-5|2.5|27/08/2013 19:12:13|1", "7|-1.25||2", "|||0"},
         {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        // Written in lower case, as a Windows program may do.
        dir.write("proft.dbf", c.bytes);
        Table t("wwTabla", dir.path(), "PROFT");
        t.Open(false);
        EXPECT_EQ(ReadAll(t), c.ours) << c.what;
        if (!c.dbfread.empty()) {
            EXPECT_EQ(DbfRead(dir / "proft.dbf").records, c.dbfread) << c.what;
        }
    }
}

TEST(DbfTableTest, MovesAmongLiveRecords)
{
    TempDir dir;
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, {" a", "*x", " b", " c", "*y", "*z", " d"}));
    Table t("wwTabla", dir.path(), "PROFT");
    t.Open(false);
    const auto at = [&] { return t.Eof() ? std::string("EOF") : t.FieldByName("N").AsString(); };
    EXPECT_EQ(t.RecordCount(), 4u);
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(at(), "a");
    t.Next();
    EXPECT_EQ(at(), "b");
    EXPECT_FALSE(t.Bof());
    t.MoveBy(2);
    EXPECT_EQ(at(), "d");
    EXPECT_EQ(t.Position(), 3u);
    t.Next();
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.Position(), 4u);
    t.Next();
    EXPECT_TRUE(t.Eof());
    t.Prior();
    EXPECT_EQ(at(), "d");
    t.MoveBy(-10);
    EXPECT_EQ(at(), "a");
    EXPECT_TRUE(t.Bof());
    t.MoveBy(10);
    EXPECT_TRUE(t.Eof());
    t.Last();
    EXPECT_EQ(at(), "d");
    t.Prior();
    EXPECT_EQ(at(), "c");
}

TEST(DbfTableTest, DamagedTablesGiveClearErrors)
{
    const std::string good = RawTable(0x03, {{"A", 'C', 3}}, {" abc", " def"});
    const auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    struct Case
    {
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        {good.substr(0, 20), "el archivo es demasiado corto para ser una tabla (20 bytes)"},
        {patched(8, Le(5000, 2)), "el archivo termina dentro de la cabecera"},
        {patched(8, Le(10, 2)), "la cabecera dice medir 10 bytes"},
        {RawTable(0x03, {}, {}), "no tiene campos"},
        {patched(10, Le(3, 2)), "sus campos ocupan 4 bytes por registro, pero la cabecera dice 3"},
        {patched(4, Le(1000, 4)), "la cabecera indica 1000 registros, pero el archivo solo contiene 2"},
        {patched(4, Le(0xFFFFFFFF, 4)),
         "la cabecera indica 4294967295 registros, pero el archivo solo contiene 2"},
        {good.substr(0, good.size() - 3), "la cabecera indica 2 registros, pero el archivo solo contiene 1"},
        {patched(0, "\x02"), "no es una tabla dBase (versión 0x02)"},
        {patched(32 + 16, std::string(1, '\0')), "el campo A tiene ancho 0"},
        {RawTable(0x30, {{"ID", 'I', 3}}, {}), "el campo ID de tipo 'I' tiene ancho 3 en lugar de 4"},
        {RawTable(0x04, {{"X", 'O', 4}}, {}), "el campo X de tipo 'O' tiene ancho 4 en lugar de 8"},
        {patched(65 + 4, "\x1A"), "el registro 2 tiene una marca de borrado no válida (0x1A)"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.write("PROFT.DBF", c.bytes);
        Table t("wwTabla", dir.path(), "PROFT");
        EXPECT_EQ(ErrorOf([&] { t.Open(); }), std::string("La tabla PROFT está dañada: ") + c.message);
        EXPECT_FALSE(t.Active());
    }
}

TEST(DbfTableTest, UnsupportedAndGarbledFieldsFailWhenRead)
{
    TempDir dir;
    dir.write("PROFT.DBF", RawTable(0x83,
                                    {{"NOMBRE", 'C', 3},
                                     {"RARO", 'Q', 2},
                                     {"NOTAS", 'M', 10},
                                     {"HORAS", 'N', 5},
                                     {"ALTA", 'D', 8},
                                     {"FIJO", 'L', 1}},
                                    {" Ana"s + "??" + "         1" + "12abc" + "20251340" + "x"}));
    Table t("wwTabla", dir.path(), "PROFT");
    t.Open();
    EXPECT_EQ(t.FieldByName("NOMBRE").AsString(), "Ana");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("RARO").AsString(); }),
              "La tabla PROFT tiene el campo RARO de un tipo no soportado ('Q')");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("NOTAS").AsString(); }),
              "La tabla PROFT tiene el campo NOTAS de un tipo no soportado ('M')");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("HORAS").AsString(); }),
              "La tabla PROFT tiene en el campo HORAS un número no válido: '12abc'");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("HORAS").AsInteger(); }), "'12abc' no es un valor entero válido");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("HORAS").AsFloat(); }),
              "'12abc' no es un valor de coma flotante válido");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("ALTA").AsString(); }),
              "La tabla PROFT tiene en el campo ALTA una fecha no válida: '20251340'");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("FIJO").AsBoolean(); }),
              "La tabla PROFT tiene en el campo FIJO un valor lógico no válido: 'x'");
    EXPECT_EQ(ErrorOf([&] { t.Append(); }),
              "No se puede modificar la tabla PROFT: su formato solo se puede leer");
}

TEST(DbfTableTest, RefreshSeesRecordsAddedByAnotherProgram)
{
    TempDir dir;
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, {" a", " b"}));
    Table t("wwTabla", dir.path(), "PROFT");
    t.Open(false);
    t.Next();
    // Another program that does not lock rewrites the table with a record more.
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, {" a", " b", " c"}));
    t.Refresh();
    EXPECT_EQ(t.RecordCount(), 3u);
    EXPECT_EQ(t.FieldByName("N").AsString(), "b");
}

// ---- Locking --------------------------------------------------------------------------------

// A child process that opens a table and keeps it until Release().
class Holder
{
public:
    Holder(const std::filesystem::path& dir, const std::string& table, bool exclusive)
    {
        EXPECT_EQ(::pipe(m_ready), 0);
        EXPECT_EQ(::pipe(m_release), 0);
        m_pid = ::fork();
        if (m_pid == 0) {
            char answer = 'E';
            try {
                Table t("wwHolder", dir, table);
                t.Open(exclusive);
                answer = 'K';
                (void)!::write(m_ready[1], &answer, 1);
                char c;
                (void)!::read(m_release[0], &c, 1);
            } catch (...) {
                (void)!::write(m_ready[1], &answer, 1);
            }
            ::_exit(0);
        }
        char answer = 0;
        EXPECT_EQ(::read(m_ready[0], &answer, 1), 1);
        EXPECT_EQ(answer, 'K') << "the child could not open the table";
    }
    ~Holder() { Release(); }

    void Release()
    {
        if (m_pid > 0) {
            (void)!::write(m_release[1], "x", 1);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
            for (int fd : {m_ready[0], m_ready[1], m_release[0], m_release[1]}) {
                ::close(fd);
            }
        }
    }

private:
    pid_t m_pid = -1;
    int m_ready[2] = {-1, -1};
    int m_release[2] = {-1, -1};
};

TEST(DbfTableLockTest, TableHeldByAnotherProcessIsNeitherOpenedNorRecreated)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "PROFT");
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.CreateTable();
    t.Open();
    t.Append();
    t.FieldByName("ABREV").SetAsString("MAT");
    t.Post();
    t.Close();
    dir.write("PROFT.MDX", "index");
    const std::string before = ReadFile(dir / "PROFT.DBF");

    for (const bool exclusive : {true, false}) {
        Holder holder(dir.path(), "PROFT", exclusive);
        EXPECT_EQ(ErrorOf([&] { t.Open(true); }),
                  "No se puede abrir la tabla PROFT: está en uso por otro programa");
        if (exclusive) {
            EXPECT_EQ(ErrorOf([&] { t.Open(false); }),
                      "No se puede abrir la tabla PROFT: está en uso por otro programa");
        } else {
            t.Open(false);
            t.Close();
        }
        if (!exclusive) {
            // A shared open may change the table only while nobody else has it.
            t.Open(false);
            t.Edit();
            t.FieldByName("ABREV").SetAsString("LEN");
            EXPECT_EQ(ErrorOf([&] { t.Post(); }),
                      "No se puede guardar el registro en la tabla PROFT: está en uso por otro programa");
            t.Cancel();
            t.Close();
        }
        EXPECT_EQ(ErrorOf([&] { t.CreateTable(); }), "La tabla PROFT está en uso por otro programa");
        EXPECT_EQ(ReadFile(dir / "PROFT.DBF"), before);
        EXPECT_TRUE(std::filesystem::exists(dir / "PROFT.MDX"));
    }

    // Alone, a shared open writes, and lets others in again after each Post.
    t.Open(false);
    t.Edit();
    t.FieldByName("ABREV").SetAsString("LEN");
    t.Post();
    t.Append();
    t.FieldByName("ABREV").SetAsString("MAT");
    t.Post();
    {
        Holder reader(dir.path(), "PROFT", false);
    }
    t.Close();
    EXPECT_EQ(DbfRead(dir / "PROFT.DBF").records, (std::vector<std::string>{"LEN", "MAT"}));

    t.CreateTable();
    EXPECT_FALSE(std::filesystem::exists(dir / "PROFT.MDX"));
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0u);
}

TEST(DbfTableLockTest, SecondOpenWithinOneProcessFollowsTheModes)
{
    struct Case
    {
        bool firstExclusive;
        bool secondExclusive;
        bool secondOpens;
    };
    const Case cases[] = {
        {false, false, true}, {false, true, false}, {true, false, false}, {true, true, false}};
    TempDir dir;
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, {" a"}));
    for (const Case& c : cases) {
        Table first("wwUno", dir.path(), "PROFT");
        Table second("wwDos", dir.path(), "PROFT");
        first.Open(c.firstExclusive);
        if (c.secondOpens) {
            EXPECT_NO_THROW(second.Open(c.secondExclusive));
        } else {
            EXPECT_THROW(second.Open(c.secondExclusive), Error) << c.firstExclusive << c.secondExclusive;
        }
        first.Close();
        second.Close();
        EXPECT_NO_THROW(second.Open(c.secondExclusive)) << "the lock goes with Close";
    }
}

TEST(DbfTableLockTest, MissingTableNamesTheFile)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "PROFT");
    EXPECT_EQ(ErrorOf([&] { t.Open(); }),
              "No se puede abrir la tabla PROFT: no existe el archivo " + (dir / "PROFT.DBF").string());
}

// ---- Crash safety ---------------------------------------------------------------------------

TEST(DbfTableCrashTest, KilledWriterLeavesAReadablePrefix)
{
    constexpr std::size_t kHeader = 32 + 2 * 32 + 1;
    constexpr std::size_t kRecord = 1 + 11 + 50; // not a divisor of the page size
    for (const std::size_t threshold : {200, 3000, 20000}) {
        TempDir dir;
        const pid_t pid = ::fork();
        if (pid == 0) {
            try {
                Table t("wwTabla", dir.path(), "CRASH");
                t.AddFieldDef("NUM", FieldType::Integer);
                t.AddFieldDef("TEXTO", FieldType::String, 50);
                t.CreateTable();
                t.Open();
                for (int i = 0; i < 200000; ++i) {
                    t.Append();
                    t.FieldByName("NUM").SetAsInteger(i);
                    t.FieldByName("TEXTO").SetAsString("registro " + std::to_string(i));
                    t.Post();
                }
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::error_code ec;
        // Once the file reaches into record `threshold`, all the records before it are posted.
        const std::size_t wanted = kHeader + (threshold + 1) * kRecord;
        bool late = false;
        while ((std::filesystem::file_size(dir / "CRASH.DBF", ec) < wanted || ec) && !late) {
            late = std::chrono::steady_clock::now() > deadline;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_FALSE(late) << "the writer did not reach " << threshold << " records";
        EXPECT_TRUE(WIFSIGNALED(status)) << "the writer finished before it was killed";

        const auto read = DbfRead(dir / "CRASH.DBF");
        ASSERT_GE(read.records.size(), threshold);
        for (std::size_t i = 0; i < read.records.size(); ++i) {
            ASSERT_EQ(read.records[i], std::to_string(i) + "|registro " + std::to_string(i));
        }

        Table t("wwTabla", dir.path(), "CRASH");
        t.Open();
        EXPECT_GE(t.RecordCount() + 1, read.records.size());
        EXPECT_LE(t.RecordCount(), read.records.size());
        std::size_t i = 0;
        for (t.First(); !t.Eof(); t.Next(), ++i) {
            ASSERT_EQ(t.FieldByName("NUM").AsInteger(), static_cast<std::int32_t>(i));
        }
        // The table takes more records after the crash, and other readers still agree.
        t.Append();
        t.FieldByName("NUM").SetAsInteger(static_cast<std::int64_t>(i));
        t.FieldByName("TEXTO").SetAsString("registro " + std::to_string(i));
        t.Post();
        t.Close();
        EXPECT_EQ(DbfRead(dir / "CRASH.DBF").records.size(), i + 1);
    }
}

TEST(DbfTableCrashTest, FailedWriteIsReportedAndLeavesAValidTable)
{
    TempDir dir;
    constexpr std::size_t kHeader = 32 + 32 + 1;
    constexpr std::size_t kRecord = 1 + 100;
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::string message = "no error";
        int posted = 0;
        try {
            ::signal(SIGXFSZ, SIG_IGN);
            Table t("wwTabla", dir.path(), "LIMITE");
            t.AddFieldDef("TEXTO", FieldType::String, 100);
            t.CreateTable();
            // Room for three records and part of a fourth.
            const rlimit limit = {kHeader + 3 * kRecord + 50, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            t.Open();
            for (; posted < 10; ++posted) {
                t.Append();
                t.FieldByName("TEXTO").SetAsString(std::string(100, static_cast<char>('a' + posted)));
                t.Post();
            }
        } catch (const Error& e) {
            message = e.what();
        }
        message = std::to_string(posted) + " " + message;
        (void)!::write(report[1], message.data(), message.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string message;
    char buffer[512];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) {
        message.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(report[0]);
    ::waitpid(pid, nullptr, 0);

    EXPECT_EQ(message.rfind("3 No se puede guardar el registro en la tabla LIMITE: ", 0), 0u) << message;
    EXPECT_EQ(DbfRead(dir / "LIMITE.DBF").records.size(), 3u);
    Table t("wwTabla", dir.path(), "LIMITE");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 3u);
}

} // namespace
} // namespace zendral::dbf
