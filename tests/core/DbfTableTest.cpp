#include "DbfTable.h"

#include "CodePage.h"
#include "DbfRead.h"
#include "Error.h"
#include "ExternalTool.h"
#include "System.h"
#include "TempDir.h"

#include <bit>
#include <chrono>
#include <cmath>
#include <csignal>
#include <ctime>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

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

std::string Today()
{
    const std::time_t now = std::time(nullptr);
    const std::tm t = sys::LocalTime(now);
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

TEST(DbfTableTest, WritesHandComputedBytesAndRefusesMisuseWithoutTouchingThem)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "MATIB");
    EXPECT_EQ(ErrorOf([&] { t.Open(); }),
              "No se puede abrir la tabla MATIB: no existe el archivo " + (dir / "MATIB.DBF").string());
    EXPECT_THROW(t.CreateTable(), Error) << "no fields";
    const auto refused = [&](const std::string& name, FieldType type, int size) {
        t.ClearFieldDefs();
        t.AddFieldDef("NOMBRE", FieldType::String, 10);
        EXPECT_THROW(t.AddFieldDef(name, type, size), Error) << name << " " << size;
    };
    for (const int width : {0, 255}) {
        refused("ABREV", FieldType::String, width);
    }
    for (const char* name : {"", "ABCDEFGHIJK", "abrev", "1ABREV", "AB REV", "NOMBRE" /* taken */}) {
        refused(name, FieldType::Integer, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "MATIB.DBF"));

    t.ClearFieldDefs();
    t.AddFieldDef("ABREV", FieldType::String, 4);
    t.CreateTable();
    // 32 header + 32 descriptor + 0x0D = 65 header bytes, then the end-of-file marker.
    const auto header = [](std::uint32_t count) {
        return "\x03" + Today() + Le(count, 4) + Le(65, 2) + Le(5, 2) + std::string(17, '\0') + "\x57" +
               std::string(2, '\0') + "ABREV" + std::string(6, '\0') + "C" + std::string(4, '\0') + "\x04" +
               std::string(15, '\0') + "\r";
    };
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(0) + "\x1A");

    EXPECT_THROW(t.First(), Error) << "closed";
    t.Open(false);
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("NOEXISTE"); }),
              "wwTabla: No se encuentra el campo 'NOEXISTE' en la tabla MATIB (" +
                  (dir / "MATIB.DBF").string() + ")");
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
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(0) + "\x1A") << "after the misuse";

    for (const char* abrev : {"MAT", "EDUCACION"}) { // the second one is cut to the field's width
        t.Append();
        t.FieldByName("abrev").SetAsString(abrev);
        t.Post();
    }
    // Appends wait in memory for a batch; a move writes them.
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(0) + "\x1A") << "after the posts";
    t.First();
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(2) + " MAT  EDUC\x1A") << "after a move";
    t.Close();
    EXPECT_EQ(ReadFile(dir / "MATIB.DBF"), header(2) + " MAT  EDUC\x1A") << "after Close";
}

TEST(DbfTableTest, OtherReadersReadEveryFieldTypeWeWriteAndEditInPlace)
{
    TempDir dir;
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
    t.FieldByName("ACTIVO").SetAsString(cp1252::FromUtf8("sí"));
    t.FieldByName("CODIGO").SetAsString("ABCDEF");
    t.Post();
    t.Append();
    t.FieldByName("NOMBRE").SetAsString("  Lengua");
    t.FieldByName("HORAS").SetAsInteger(20);
    t.Post();
    t.Append(); // never set: blank fields
    t.Post();

    // Edit rewrites the record in place and stays on it; Cancel drops an append or an edit.
    t.First();
    const auto size = std::filesystem::file_size(dir / "MATIB.DBF");
    t.Next();
    t.Edit();
    t.FieldByName("HORAS").SetAsString(" -42 ");
    t.FieldByName("PESO").SetAsFloat(-2.25);
    t.FieldByName("ACTIVO").SetAsBoolean(false);
    t.FieldByName("CODIGO").SetAsString("X");
    t.Post();
    EXPECT_EQ(t.Position(), 1u);
    EXPECT_EQ(t.FieldByName("NOMBRE").AsString(), "  Lengua");
    t.Append();
    t.FieldByName("NOMBRE").SetAsString("Otra");
    t.Cancel();
    t.First();
    t.Edit();
    t.FieldByName("CODIGO").Clear();
    EXPECT_EQ(t.FieldByName("CODIGO").AsString(), "") << "the pending change reads back before Post";
    t.Cancel();
    EXPECT_EQ(t.FieldByName("CODIGO").AsString(), "ABC");
    EXPECT_EQ(t.RecordCount(), 3u);
    t.Close();
    EXPECT_EQ(std::filesystem::file_size(dir / "MATIB.DBF"), size);

    const std::vector<std::string> ours = {"Educació física|3|1.5|T|ABC", "  Lengua|-42|-2.25|F|X", "||||"};
    const auto read = DbfRead(dir / "MATIB.DBF");
    EXPECT_EQ(read.fields, (std::vector<std::string>{"NOMBRE:C:20:0", "HORAS:N:11:0", "PESO:N:20:4",
                                                     "ACTIVO:L:1:0", "CODIGO:C:3:0"}));
    EXPECT_EQ(read.records, (std::vector<std::string>{ours[0], ours[1], "|~|~|~|"}));
    t.Open(false);
    EXPECT_EQ(ReadAll(t), ours);
}

TEST(DbfTableTest, NumbersAreWrittenExactlyOrRefusedAndReadInShortestForm)
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
        {"PESO", [](Field f) { f.SetAsFloat(-2.5); }, "             -2.5000"},
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

    // Read back in the shortest decimal form; an empty number reads "" (or 0) and is null.
    t.Open(false);
    EXPECT_EQ(ReadAll(t),
              (std::vector<std::string>{"3|", "-2147483648|", "99999999999|", "3|", "-3|", "0|", "-1|",
                                        "1000|", "|1.5", "|0.0001", "|0", "|2.675", "|1.2346", "|0.3",
                                        "|12345678901234.5", "|", "|7", "|-2.5"}));
    t.Last();
    EXPECT_TRUE(t.FieldByName("HORAS").IsNull());
    EXPECT_EQ(t.FieldByName("HORAS").AsInteger(), 0);
    EXPECT_FALSE(t.FieldByName("PESO").IsNull());
    EXPECT_EQ(t.FieldByName("PESO").AsInteger(), -2) << "halves round to the even neighbour";
    EXPECT_EQ(t.FieldByName("PESO").AsFloat(), -2.5);
}

TEST(DbfTableTest, ReadingsConvertTextsAndRoundHalvesToEven)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "TEXTOS");
    t.AddFieldDef("TEXTO", FieldType::String, 20);
    t.CreateTable();
    t.Open();
    const auto post = [&](const char* text) {
        t.Append();
        t.FieldByName("TEXTO").SetAsString(cp1252::FromUtf8(text));
        t.Post();
        return t.FieldByName("TEXTO");
    };
    // Halves round to the even neighbour.
    const std::pair<const char*, std::int32_t> integers[] = {
        {"2.5", 2},  {"1.5", 2},  {"0.5", 0}, {"-2.5", -2},  {"-3.5", -4},
        {"2.51", 3}, {"  7 ", 7}, {"", 0},    {"1e3", 1000},
    };
    for (const auto& [text, value] : integers) {
        EXPECT_EQ(post(text).AsInteger(), value) << text;
    }
    EXPECT_EQ(post("2147483647").AsInteger(), 2147483647);
    EXPECT_EQ(post("-2147483648").AsInteger(), -2147483647 - 1);
    // Every value error says where: table, field and record number.
    const std::string tooBig = " no cabe en un entero";
    const std::pair<const char*, std::string> errors[] = {
        {"2147483648", "'2147483648'" + tooBig},       {"2147483647.5", "'2147483647.5'" + tooBig},
        {"abc", "'abc' no es un valor entero válido"}, {"1.2.3", "'1.2.3' no es un valor entero válido"},
        {"ó", "'ó' no es un valor entero válido"},
    };
    for (const auto& [text, message] : errors) {
        const Field f = post(text);
        EXPECT_EQ(ErrorOf([&] { f.AsInteger(); }), message + " (tabla TEXTOS, campo TEXTO, registro " +
                                                       std::to_string(t.RecordNumber()) + ")");
    }
    for (const auto& [text, value] : {std::pair{"1.5", 1.5}, {" -0.25", -0.25}, {"", 0.0}}) {
        EXPECT_EQ(post(text).AsFloat(), value) << text;
    }
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
    const auto Be = [](std::uint64_t v, int size) {
        const std::string s = Le(v, size);
        return std::string(s.rbegin(), s.rend());
    };
    const auto double7 = [&](double v) {
        const auto bits = std::bit_cast<std::uint64_t>(v);
        return Be(v < 0 ? ~bits : bits ^ 0x8000000000000000u, 8);
    };
    const auto int7 = [&](std::int32_t v) { return Be(static_cast<std::uint32_t>(v) ^ 0x80000000u, 4); };
    const std::vector<RawField> dbase3 = {
        {"NOMBRE", 'C', 6}, {"HORAS", 'N', 5, 1}, {"ALTA", 'D', 8}, {"FIJO", 'L', 1}, {"NOTA", 'F', 6, 2}};
    const std::vector<RawField> foxpro = {
        {"ID", 'I', 4}, {"PRECIO", 'B', 8}, {"IMPORTE", 'Y', 8}, {"MOMENTO", 'T', 8}, {"NOMBRE", 'C', 3}};
    const Case cases[] = {
        {"dBase III with deleted records and a stray header byte",
         RawTable(0x03, dbase3,
                  {" Ana\0\0\0"s + " 12.5" + "20150314" + "T" + "  9.50",
                   "*Borra "s + " 99.9" + "        " + "T" + "      ",
                   " \xC1ngel "s + " -3.0" + "        " + "n" + "      ",
                   "*Otro  "s + "  1.0" + "        " + "?" + "      ",
                   "       "s + "  0.0" + "        " + "y" + " -0.10"},
                  1),
         {"Ana|12.5|14/03/2015|T|9.5", "Ángel|-3||F|", "|0||T|-0.1"},
         {"Ana|12.5|2015-03-14|T|9.5", "Ángel|-3.0|~|F|~", "|0.0|~|T|-0.1"}},
        {"FoxPro with binary fields",
         RawTable(0x30, foxpro,
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

TEST(DbfTableTest, MovesAmongLiveRecordsAndRefreshSeesRecordsAddedByAnotherProgram)
{
    TempDir dir;
    std::vector<std::string> records = {" a", "*x", " b", " c", "*y", "*z", " d"};
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, records));
    Table t("wwTabla", dir.path(), "PROFT");
    t.Open(false);
    // "bof " when at the beginning, then the current value or "eof", and the position.
    const auto at = [&] {
        return (t.Bof() ? "bof "s : ""s) + (t.Eof() ? "eof"s : t.FieldByName("N").AsString()) + "@" +
               std::to_string(t.Position());
    };
    EXPECT_EQ(t.RecordCount(), 4u);
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[] {}, "bof a@0"},
        {[&] { t.Next(); }, "b@1"},
        {[&] { t.MoveBy(2); }, "d@3"},
        {[&] { t.Next(); }, "eof@4"},
        {[&] { t.Next(); }, "eof@4"},
        {[&] { t.Prior(); }, "d@3"},
        {[&] { t.MoveBy(-10); }, "bof a@0"},
        {[&] { t.MoveBy(10); }, "eof@4"},
        {[&] { t.Last(); }, "d@3"},
        {[&] { t.Prior(); }, "c@2"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        EXPECT_EQ(at(), steps[i].second) << "step " << i;
    }
    // Record numbers count the deleted records too, as dBase's RECNO() does.
    std::vector<std::size_t> numbers;
    for (t.First(); !t.Eof(); t.Next()) {
        numbers.push_back(t.RecordNumber());
    }
    EXPECT_EQ(numbers, (std::vector<std::size_t>{1, 3, 4, 7}));
    EXPECT_EQ(t.RecordNumber(), 0u) << "at Eof";
    t.Prior();
    t.Prior();

    // Another program that does not lock rewrites the table with a record more.
    records.push_back(" e");
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, records));
    t.Refresh();
    EXPECT_EQ(t.RecordCount(), 5u);
    EXPECT_EQ(at(), "c@2");
    EXPECT_EQ(t.RecordNumber(), 4u);
}

TEST(DbfTableTest, DamagedTablesGiveClearErrors)
{
    const std::string good = RawTable(0x03, {{"A", 'C', 3}}, {" abc", " def"});
    const auto patched = [&](std::size_t at, const std::string& bytes) {
        std::string s = good;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    const std::pair<std::string, const char*> cases[] = {
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
    for (const auto& [bytes, message] : cases) {
        TempDir dir;
        dir.write("PROFT.DBF", bytes);
        Table t("wwTabla", dir.path(), "PROFT");
        EXPECT_EQ(ErrorOf([&] { t.Open(); }), std::string("La tabla PROFT está dañada: ") + message);
        EXPECT_FALSE(t.Active());
    }
}

TEST(DbfTableTest, UnsupportedAndGarbledFieldsFailWhenRead)
{
    TempDir dir;
    const std::vector<RawField> fields = {{"NOMBRE", 'C', 3}, {"RARO", 'Q', 2}, {"NOTAS", 'M', 10},
                                          {"HORAS", 'N', 5},  {"ALTA", 'D', 8}, {"FIJO", 'L', 1}};
    dir.write("PROFT.DBF",
              RawTable(0x83, fields, {" Ana"s + "??" + "         1" + "12abc" + "20251340" + "x"}));
    Table t("wwTabla", dir.path(), "PROFT");
    t.Open();
    EXPECT_EQ(t.FieldByName("NOMBRE").AsString(), "Ana");
    const auto read = [&](const char* field) { return ErrorOf([&] { t.FieldByName(field).AsString(); }); };
    EXPECT_EQ(read("RARO"), "La tabla PROFT tiene el campo RARO de un tipo no soportado ('Q')");
    EXPECT_EQ(read("NOTAS"), "La tabla PROFT tiene el campo NOTAS de un tipo no soportado ('M')");
    EXPECT_EQ(read("HORAS"),
              "La tabla PROFT tiene en el campo HORAS un número no válido: '12abc' (registro 1)");
    EXPECT_EQ(read("ALTA"),
              "La tabla PROFT tiene en el campo ALTA una fecha no válida: '20251340' (registro 1)");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("HORAS").AsInteger(); }),
              "'12abc' no es un valor entero válido (tabla PROFT, campo HORAS, registro 1)");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("HORAS").AsFloat(); }),
              "'12abc' no es un valor de coma flotante válido (tabla PROFT, campo HORAS, registro 1)");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("FIJO").AsBoolean(); }),
              "La tabla PROFT tiene en el campo FIJO un valor lógico no válido: 'x' (registro 1)");
    EXPECT_EQ(ErrorOf([&] { t.Append(); }),
              "No se puede modificar la tabla PROFT: su formato solo se puede leer");
}

// ---- Locking --------------------------------------------------------------------------------

// A helper process that opens a table and keeps it until it is killed. Its arguments: the
// directory, the table, "1" for an exclusive open, and the file where it says "K" once it holds
// the table ("E" when it could not open it).
int HoldTable(const std::vector<std::string>& args)
{
    char answer = 'K';
    std::optional<Table> t;
    try {
        t.emplace("wwHolder", test::PathArgument(args.at(0)), args.at(1));
        t->Open(args.at(2) == "1");
    } catch (...) {
        answer = 'E';
    }
    std::ofstream(test::PathArgument(args.at(3)), std::ios::binary) << answer;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}
[[maybe_unused]] const bool kHoldTable = test::RegisterHelper("hold-table", HoldTable);

class Holder
{
public:
    Holder(const std::filesystem::path& dir, const std::string& table, bool exclusive)
        : m_ready(dir / ("ready-" + std::to_string(++s_count)))
        , m_process("hold-table",
                    {test::ArgumentOf(dir), table, exclusive ? "1" : "0", test::ArgumentOf(m_ready)})
    {
        EXPECT_EQ(test::WaitForFile(m_ready), "K") << "the helper could not open the table";
    }
    ~Holder()
    {
        m_process.Kill();
        std::error_code ec;
        std::filesystem::remove(m_ready, ec);
    }

private:
    static inline int s_count = 0;
    std::filesystem::path m_ready;
    test::HelperProcess m_process;
};

TEST(DbfTableLockTest, TableHeldByAnotherProcessIsNeitherOpenedNorRecreated)
{
    TempDir dir;
    dir.write("PROFT.DBF", RawTable(0x03, {{"ABREV", 'C', 4}}, {" MAT "}));
    dir.write("PROFT.MDX", "index");
    const std::string before = ReadFile(dir / "PROFT.DBF");
    Table t("wwTabla", dir.path(), "PROFT");
    t.AddFieldDef("ABREV", FieldType::String, 4);
    const std::string inUse = "No se puede abrir la tabla PROFT: está en uso por otro programa";
    for (const bool exclusive : {true, false}) {
        Holder holder(dir.path(), "PROFT", exclusive);
        EXPECT_EQ(ErrorOf([&] { t.Open(true); }), inUse);
        if (exclusive) {
            EXPECT_EQ(ErrorOf([&] { t.Open(false); }), inUse);
        } else {
            // A shared open reads, but may change the table only while nobody else has it.
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
    {
        Holder reader(dir.path(), "PROFT", false);
    }
    t.Close();
    EXPECT_EQ(DbfRead(dir / "PROFT.DBF").records, (std::vector<std::string>{"LEN"}));

    t.CreateTable();
    EXPECT_FALSE(std::filesystem::exists(dir / "PROFT.MDX"));
    t.Open();
    EXPECT_EQ(t.RecordCount(), 0u);
}

TEST(DbfTableLockTest, SecondOpenWithinOneProcessFollowsTheModes)
{
    TempDir dir;
    dir.write("PROFT.DBF", RawTable(0x03, {{"N", 'C', 1}}, {" a"}));
    for (const bool firstExclusive : {false, true}) {
        for (const bool secondExclusive : {false, true}) {
            Table first("wwUno", dir.path(), "PROFT");
            Table second("wwDos", dir.path(), "PROFT");
            first.Open(firstExclusive);
            // Only two shared opens go together.
            if (!firstExclusive && !secondExclusive) {
                EXPECT_NO_THROW(second.Open(secondExclusive));
            } else {
                EXPECT_THROW(second.Open(secondExclusive), Error) << firstExclusive << secondExclusive;
            }
            first.Close();
            second.Close();
            EXPECT_NO_THROW(second.Open(secondExclusive)) << "the lock goes with Close";
        }
    }
}

// ---- Batched appends -----------------------------------------------------------------------

// The record count in a table's header, as readers that trust it see it.
std::uint32_t HeaderCount(const std::filesystem::path& table)
{
    std::ifstream in(table, std::ios::binary);
    char count[8] = {};
    in.read(count, sizeof count);
    return static_cast<std::uint32_t>(static_cast<unsigned char>(count[4]) |
                                      static_cast<unsigned char>(count[5]) << 8 |
                                      static_cast<unsigned char>(count[6]) << 16 |
                                      static_cast<std::uint32_t>(static_cast<unsigned char>(count[7])) << 24);
}

// Write calls this process has made so far. Linux counts them itself; under Wine (which counts
// no I/O operations) the system layer's own count of its WriteFile calls stands in.
std::uint64_t WriteCalls()
{
#ifdef _WIN32
    return sys::WriteCalls();
#endif
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "syscw:") {
            return value;
        }
    }
    ADD_FAILURE() << "no syscw in /proc/self/io";
    return 0;
}

void DefineCrash(Table& t)
{
    t.AddFieldDef("NUM", FieldType::Integer);
    t.AddFieldDef("TEXTO", FieldType::String, 50);
}

void PostCrash(Table& t, int i)
{
    t.Append();
    t.FieldByName("NUM").SetAsInteger(i);
    t.FieldByName("TEXTO").SetAsString("registro " + std::to_string(i));
    t.Post();
}

std::string CrashRow(std::size_t i) { return std::to_string(i) + "|registro " + std::to_string(i); }

TEST(DbfTableBatchTest, PostedRecordsReadBackBeforeCloseAndEveryMoveWritesThem)
{
    // Several batches of 62-byte records and a part of one more.
    constexpr int kRecords = 2500;
    TempDir dir;
    Table t("wwTabla", dir.path(), "CRASH");
    DefineCrash(t);
    t.CreateTable();
    t.Open();
    const std::uint64_t before = WriteCalls();
    for (int i = 0; i < kRecords; ++i) {
        PostCrash(t, i);
        ASSERT_EQ(t.FieldByName("NUM").AsInteger(), i) << "the posted record is the current one";
    }
    EXPECT_LT(WriteCalls() - before, std::uint64_t{kRecords} / 50);
    EXPECT_LT(HeaderCount(dir / "CRASH.DBF"), std::uint32_t{kRecords}) << "the last batch is still pending";
    EXPECT_EQ(t.RecordCount(), std::size_t{kRecords});

    // Going back reads every record, the pending ones included, and writes them first.
    t.Prior();
    EXPECT_EQ(t.FieldByName("NUM").AsInteger(), kRecords - 2);
    EXPECT_EQ(HeaderCount(dir / "CRASH.DBF"), std::uint32_t{kRecords});
    const auto read = DbfRead(dir / "CRASH.DBF");
    ASSERT_EQ(read.records.size(), std::size_t{kRecords});
    for (std::size_t i = 0; i < read.records.size(); ++i) {
        ASSERT_EQ(read.records[i], CrashRow(i));
    }

    // An edit of a record that was still pending lands, and so do appends after it; Refresh and
    // Last write what is pending before they read.
    const std::pair<std::function<void()>, const char*> moves[] = {
        {[&] { t.Last(); }, "Last"},
        {[&] { t.MoveBy(-1); }, "MoveBy"},
        {[&] { t.Refresh(); }, "Refresh"},
        {[&] { t.First(); }, "First"},
    };
    int next = kRecords;
    for (const auto& [move, name] : moves) {
        PostCrash(t, next++);
        t.Edit();
        t.FieldByName("TEXTO").SetAsString(std::string("editado ") + name);
        t.Post();
        PostCrash(t, next++);
        move();
        EXPECT_EQ(HeaderCount(dir / "CRASH.DBF"), static_cast<std::uint32_t>(next)) << name;
    }
    t.Last();
    EXPECT_EQ(t.FieldByName("NUM").AsInteger(), next - 1);
    t.Close();
    const auto after = DbfRead(dir / "CRASH.DBF");
    ASSERT_EQ(after.records.size(), static_cast<std::size_t>(next));
    for (std::size_t k = 0; k < std::size(moves); ++k) {
        const std::size_t edited = kRecords + 2 * k;
        EXPECT_EQ(after.records[edited], std::to_string(edited) + "|editado " + moves[k].second);
        EXPECT_EQ(after.records[edited + 1], CrashRow(edited + 1));
    }

    // Opened shared, every Post reaches the file before it returns: others may read it then.
    t.Open(false);
    PostCrash(t, next);
    EXPECT_EQ(HeaderCount(dir / "CRASH.DBF"), static_cast<std::uint32_t>(next + 1));
    EXPECT_EQ(DbfRead(dir / "CRASH.DBF").records.back(), CrashRow(static_cast<std::size_t>(next)));
    t.Close();
}

TEST(DbfTableBatchTest, TenThousandPostsTakeFewerThanOneWriteCallPerFiftyRecords)
{
    constexpr int kRecords = 10000;
    TempDir dir;
    Table t("wwTabla", dir.path(), "CRASH");
    DefineCrash(t);
    t.CreateTable();
    t.Open();
    const std::uint64_t before = WriteCalls();
    for (int i = 0; i < kRecords; ++i) {
        PostCrash(t, i);
    }
    t.Close();
    const std::uint64_t calls = WriteCalls() - before;
    EXPECT_LT(calls, std::uint64_t{kRecords} / 50);
    RecordProperty("write_calls", static_cast<int>(calls));
    const auto read = DbfRead(dir / "CRASH.DBF");
    ASSERT_EQ(read.records.size(), std::size_t{kRecords});
    EXPECT_EQ(read.records.back(), CrashRow(kRecords - 1));

    // An edit writes its record, and the header's date only when that changes.
    t.Open(false);
    const std::uint64_t beforeEdits = WriteCalls();
    for (int i = 0; i < 1000; ++i, t.Next()) {
        t.Edit();
        t.FieldByName("TEXTO").SetAsString("editado " + std::to_string(i));
        t.Post();
    }
    EXPECT_LE(WriteCalls() - beforeEdits, 1001u);
    t.Close();
    EXPECT_EQ(DbfRead(dir / "CRASH.DBF").records[999], "999|editado 999");

    // A table last changed on another day gets today's date with its first edit.
    dir.write("OTRA.DBF", RawTable(0x03, {{"N", 'C', 1}}, {" a"}));
    Table otra("wwOtra", dir.path(), "OTRA");
    otra.Open();
    otra.Edit();
    otra.FieldByName("N").SetAsString("b");
    otra.Post();
    EXPECT_EQ(ReadFile(dir / "OTRA.DBF").substr(1, 3), Today());
}

TEST(DbfTableTest, FieldByNameFollowsTheFieldsOfTheTableAsOpenedNow)
{
    TempDir dir;
    Table t("wwTabla", dir.path(), "PROFT");
    for (const auto& [first, second] : {std::pair{"ABREV", "CODI"}, {"CODI", "ABREV"}}) {
        t.ClearFieldDefs();
        t.AddFieldDef(first, FieldType::String, 4);
        t.AddFieldDef(second, FieldType::String, 6);
        t.CreateTable();
        t.Open();
        t.Append();
        t.FieldByName("abrev").SetAsString("MAT");
        t.FieldByName("CODI").SetAsString("123");
        t.Post();
        EXPECT_EQ(t.FieldByName("abrev").Info().name, "ABREV");
        EXPECT_EQ(t.FieldByName("ABREV").AsString(), "MAT");
        EXPECT_EQ(t.FieldByName("CODI").AsString(), "123");
        t.Close();
    }
    // Another program rewrites the table with other fields while it is open.
    t.Open(false);
    EXPECT_EQ(t.FieldByName("CODI").AsString(), "123");
    dir.write("PROFT.DBF", RawTable(0x03, {{"NOMBRE", 'C', 2}, {"CODI", 'C', 3}}, {" xy456"}));
    t.Refresh();
    EXPECT_EQ(t.FieldByName("CODI").AsString(), "456");
    EXPECT_EQ(ErrorOf([&] { t.FieldByName("ABREV"); }),
              "wwTabla: No se encuentra el campo 'ABREV' en la tabla PROFT (" + (dir / "PROFT.DBF").string() +
                  ")");
}

// ---- Crash safety ---------------------------------------------------------------------------

// A helper process that posts records to a new table CRASH in the directory it is given until
// it is killed.
int WriteUntilKilled(const std::vector<std::string>& args)
{
    try {
        Table t("wwTabla", test::PathArgument(args.at(0)), "CRASH");
        DefineCrash(t);
        t.CreateTable();
        t.Open();
        for (int i = 0; i < 200000; ++i) {
            PostCrash(t, i);
        }
    } catch (...) {
        return 2;
    }
    return 0;
}
[[maybe_unused]] const bool kWriteUntilKilled = test::RegisterHelper("crash-writer", WriteUntilKilled);

TEST(DbfTableCrashTest, KilledWriterLeavesAReadablePrefix)
{
    // 62-byte records, not a divisor of the page size nor of a batch.
    constexpr std::size_t kRecord = 1 + 11 + 50;
    for (const std::size_t threshold : {200, 3000, 20000, 50000}) {
        TempDir dir;
        test::HelperProcess writer("crash-writer", {test::ArgumentOf(dir.path())});
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        // Once the header counts `threshold` records, they are all on disk.
        bool late = false;
        while (HeaderCount(dir / "CRASH.DBF") < threshold && !late) {
            late = std::chrono::steady_clock::now() > deadline;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        writer.Kill();
        const int status = writer.Wait();
        ASSERT_FALSE(late) << "the writer did not reach " << threshold << " records";
        EXPECT_EQ(status, -1) << "the writer finished before it was killed";

        // python3-dbfread reads up to the end-of-file marker, so it may also see a batch whose
        // count the header has not raised yet, but never a part of a record.
        const auto read = DbfRead(dir / "CRASH.DBF");
        ASSERT_GE(read.records.size(), threshold);
        for (std::size_t i = 0; i < read.records.size(); ++i) {
            ASSERT_EQ(read.records[i], CrashRow(i));
        }

        Table t("wwTabla", dir.path(), "CRASH");
        t.Open();
        EXPECT_GE(t.RecordCount(), threshold);
        EXPECT_LE(t.RecordCount(), read.records.size());
        EXPECT_LE(read.records.size() - t.RecordCount(), 64 * 1024 / kRecord + 1) << "at most one batch";
        std::size_t i = 0;
        for (t.First(); !t.Eof(); t.Next(), ++i) {
            ASSERT_EQ(t.FieldByName("NUM").AsInteger(), static_cast<std::int32_t>(i));
        }
        // The table takes more records after the crash, and other readers still agree.
        PostCrash(t, static_cast<int>(i));
        t.Close();
        EXPECT_EQ(DbfRead(dir / "CRASH.DBF").records.size(), i + 1);
    }
}

#ifndef _WIN32
// Windows has no per-process file size limit to make a write fail with.
TEST(DbfTableCrashTest, FailedWriteIsReportedByTheCallThatWritesAndLeavesAValidTable)
{
    constexpr std::size_t kHeader = 32 + 32 + 1;
    constexpr std::size_t kRecord = 1 + 100;
    struct Case
    {
        const char* what;
        std::size_t room;                    // records that fit under the file size limit
        int posts;                           // at most this many
        std::function<void(Table&)> trigger; // the call that writes the pending appends
    };
    const Case cases[] = {
        // A Post that fills a batch fails once no more batches fit.
        {"post", 1000, 100000, [](Table&) {}},
        {"close", 3, 10, [](Table& t) { t.Close(); }},
        {"move", 3, 10, [](Table& t) { t.First(); }},
        {"edit", 3, 10, [](Table& t) { t.Edit(); }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const pid_t pid = ::fork();
        if (pid == 0) {
            // "<posts> <records after the failure> <state after it> <message>"
            std::string report = "no error";
            int posted = 0;
            std::unique_ptr<Table> t;
            try {
                ::signal(SIGXFSZ, SIG_IGN);
                t = std::make_unique<Table>("wwTabla", dir.path(), "LIMITE");
                t->AddFieldDef("TEXTO", FieldType::String, 100);
                t->CreateTable();
                // Room for some records and part of one more.
                const rlimit limit = {kHeader + c.room * kRecord + 50, RLIM_INFINITY};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                t->Open();
                for (; posted < c.posts; ++posted) {
                    t->Append();
                    t->FieldByName("TEXTO").SetAsString(
                        std::string(100, static_cast<char>('a' + posted % 26)));
                    t->Post();
                }
                c.trigger(*t);
            } catch (const Error& e) {
                const bool active = t->Active();
                report = std::to_string(posted) + " " + (active ? std::to_string(t->RecordCount()) : "-") +
                         " " + (active && t->CurrentState() == Table::State::Insert ? "insert" : "other") +
                         " " + e.what();
                if (active) {
                    t->Cancel();
                    t->Close(); // nothing is pending any more
                }
            }
            std::ofstream(dir / "report") << report;
            ::_exit(0);
        }
        ::waitpid(pid, nullptr, 0);

        std::istringstream report(ReadFile(dir / "report"));
        int posted = 0;
        std::string left, state, message;
        report >> posted >> left >> state;
        std::getline(report >> std::ws, message);
        EXPECT_EQ(message.rfind("No se puede guardar el registro en la tabla LIMITE: ", 0), 0u)
            << c.what << ": " << report.str();
        const auto read = DbfRead(dir / "LIMITE.DBF");
        EXPECT_LE(read.records.size(), c.room) << c.what;
        EXPECT_LE(read.records.size(), static_cast<std::size_t>(posted)) << c.what;
        for (std::size_t i = 0; i < read.records.size(); ++i) {
            ASSERT_EQ(read.records[i], std::string(100, static_cast<char>('a' + i % 26))) << c.what;
        }
        Table t("wwTabla", dir.path(), "LIMITE");
        t.Open();
        EXPECT_EQ(t.RecordCount(), read.records.size()) << c.what;
        if (std::string_view(c.what) == "post") {
            // The records of the batches before the failing one are kept, and the object shows
            // what the file holds; the failed Post leaves its record pending for Cancel.
            EXPECT_GT(read.records.size(), 0u);
            EXPECT_LT(posted, c.posts);
            EXPECT_EQ(left, std::to_string(read.records.size()));
            EXPECT_EQ(state, "insert");
        } else if (std::string_view(c.what) == "close") {
            EXPECT_EQ(posted, c.posts);
            EXPECT_EQ(left, "-") << "Close leaves the table closed even when it fails";
        } else {
            EXPECT_EQ(posted, c.posts);
            EXPECT_EQ(left, std::to_string(read.records.size()));
        }
    }
}
#endif

} // namespace
} // namespace zendral::dbf
