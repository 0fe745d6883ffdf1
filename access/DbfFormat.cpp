#include "DbfFormat.h"

#include "Bytes.h"
#include "CodePage.h"
#include "Decimal.h"
#include "System.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>

namespace zendral::dbf
{
namespace
{

constexpr char kLive = ' ';
constexpr char kDeleted = '*';
constexpr std::size_t kLevel7HeaderSize = 68;
constexpr std::size_t kLevel7DescriptorSize = 48;
constexpr int kMaxNameLength = 10;
constexpr int kIntegerWidth = 11;
constexpr int kFloatWidth = 20;
constexpr int kFloatDecimals = 4;
constexpr std::int64_t kMillisecondsPerDay = 86400000;
// Days from 0001-01-01 (day 1 in dBase 7 timestamps) and from the Julian day 0 (FoxPro datetimes)
// to 1970-01-01.
constexpr std::int64_t kOrdinalOfEpoch = 719163;
constexpr std::int64_t kJulianDayOfEpoch = 2440588;

bool IsBlank(char ch) { return ch == ' ' || ch == '\0'; }

// ---- Dates ----------------------------------------------------------------------------------

struct CivilDate
{
    std::int64_t year;
    int month;
    int day;
};

// Proleptic Gregorian date of a day counted from 1970-01-01; works in 400-year eras of 146097
// days so that any 64-bit count converts without overflow or loops.
CivilDate DateFromDays(std::int64_t days)
{
    days += 719468; // from 0000-03-01, so that the leap day ends each year
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::string DateText(const CivilDate& d)
{
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04lld", d.day, d.month, static_cast<long long>(d.year));
    return buffer;
}

std::string DateTimeText(std::int64_t days, std::int64_t milliseconds)
{
    const std::int64_t seconds = milliseconds / 1000;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, " %02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return DateText(DateFromDays(days)) + buffer;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// "YYYYMMDD" as D fields hold it; nullopt unless it is a real date.
std::optional<CivilDate> ParseDate(std::string_view raw)
{
    if (raw.size() != 8 || !AllOf(raw, "0123456789")) {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t size) {
        int v = 0;
        for (std::size_t i = at; i < at + size; ++i) {
            v = v * 10 + (raw[i] - '0');
        }
        return v;
    };
    const int year = number(0, 4);
    const int month = number(4, 2);
    const int day = number(6, 2);
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) {
        return std::nullopt;
    }
    if (day > kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0)) {
        return std::nullopt;
    }
    return CivilDate{year, month, day};
}

// Width that a binary field type must have; 0 for the text types.
int BinaryWidth(char type, Layout layout)
{
    switch (type) {
    case 'I':
    case '+':
        return 4;
    case 'O':
    case 'Y':
    case 'T':
    case '@':
        return 8;
    case 'B': // a double in FoxPro tables; elsewhere a memo block number kept as text
        return layout == Layout::FoxPro ? 8 : 0;
    default:
        return 0;
    }
}

bool AllZero(std::string_view raw) { return AllOf(raw, std::string_view("\0", 1)); }

// Level 7 binary numbers are big-endian with the sign bit flipped (and, for negative doubles, all
// bits inverted) so that their bytes sort in numeric order.
std::int32_t Level7Integer(const char* p)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(GetBe(p, 4)) ^ 0x80000000u);
}

double Level7Double(const char* p)
{
    std::uint64_t bits = GetBe(p, 8);
    bits = (bits & 0x8000000000000000u) != 0 ? bits ^ 0x8000000000000000u : ~bits;
    return std::bit_cast<double>(bits);
}

std::string DoubleText(const FieldContext& ctx, double v, std::string_view raw)
{
    const auto d = FromDouble(v);
    if (!d) {
        throw ctx.BadValue("un número no válido", raw);
    }
    return ShortestText(*d);
}

} // namespace

bool AllOf(std::string_view raw, std::string_view set)
{
    return raw.find_first_not_of(set) == std::string_view::npos;
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Trim(std::string_view s)
{
    s = TrimRight(s);
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string Quoted(std::string_view ansi) { return "'" + cp1252::ToUtf8(ansi) + "'"; }

void PutToday(char* p)
{
    const std::time_t now = std::time(nullptr);
    const std::tm t = sys::LocalTime(now);
    p[0] = static_cast<char>(std::clamp(t.tm_year, 0, 255));
    p[1] = static_cast<char>(t.tm_mon + 1);
    p[2] = static_cast<char>(t.tm_mday);
}

std::string ReadAt(int fd, std::uint64_t offset, std::size_t size, const std::string& table)
{
    std::string data(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t n = sys::ReadAt(fd, data.data() + done, size - done, offset + done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error("No se puede leer la tabla " + table + ": " + SystemReason(errno));
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    data.resize(done);
    return data;
}

int WriteAt(int fd, std::uint64_t offset, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const std::int64_t n = sys::WriteAt(fd, data + done, size - done, offset + done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

namespace
{

// The error of a table that cannot be read as one.
Error Damaged(const std::string& table, const std::string& what)
{
    return Error("La tabla " + table + " está dañada: " + what);
}

// The layout the first byte of a table's header announces.
Layout LayoutOf(unsigned char version, const std::string& table)
{
    if (version == 0x04 || version == 0x8C) {
        return Layout::Level7;
    }
    if (version >= 0x30 && version <= 0x32) {
        return Layout::FoxPro;
    }
    if ((version & 0x07) == 0x03 || version == 0xF5 || version == 0xFB) {
        return Layout::DBase;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", version);
    throw Damaged(table, std::string("no es una tabla dBase (versión ") + hex + ")");
}

// The field descriptors of `header` into c.fields, each with its offset in the record; checks
// that they fit the record length the header gives.
void ReadFields(const std::string& header, Contents& c, const std::string& table)
{
    const bool level7 = c.layout == Layout::Level7;
    const std::size_t firstDescriptor = level7 ? kLevel7HeaderSize : kHeaderSize;
    const std::size_t descriptorSize = level7 ? kLevel7DescriptorSize : kDescriptorSize;
    std::size_t widths = 0;
    for (std::size_t at = firstDescriptor; at + descriptorSize <= c.headerLength && header[at] != kTerminator;
         at += descriptorSize) {
        const char* d = header.data() + at;
        FieldInfo f;
        std::string_view name(d, level7 ? 32 : 11);
        f.name = Trim(name.substr(0, name.find('\0')));
        f.type = d[level7 ? 32 : 11];
        f.width = static_cast<unsigned char>(d[level7 ? 33 : 16]);
        f.decimals = static_cast<unsigned char>(d[level7 ? 34 : 17]);
        if (f.type == 'C' && !level7) {
            // Text fields longer than 255 keep the high byte of their width in the decimals.
            f.width += f.decimals * 256;
            f.decimals = 0;
        }
        const std::string shown = cp1252::ToUtf8(f.name);
        if (f.width == 0) {
            throw Damaged(table, "el campo " + shown + " tiene ancho 0");
        }
        const int binaryWidth = BinaryWidth(f.type, c.layout);
        if (binaryWidth != 0 && f.width != binaryWidth) {
            throw Damaged(table, "el campo " + shown + " de tipo " + Quoted(std::string(1, f.type)) +
                                     " tiene ancho " + std::to_string(f.width) + " en lugar de " +
                                     std::to_string(binaryWidth));
        }
        f.offset = static_cast<int>(1 + widths);
        widths += static_cast<std::size_t>(f.width);
        c.fields.push_back(std::move(f));
    }
    if (c.fields.empty()) {
        throw Damaged(table, "no tiene campos");
    }
    if (1 + widths > c.recordLength) {
        throw Damaged(table, "sus campos ocupan " + std::to_string(1 + widths) +
                                 " bytes por registro, pero la cabecera dice " +
                                 std::to_string(c.recordLength));
    }
}

// The `count` records after the header into c.records, with the live ones listed and whether the
// end-of-file marker follows them.
void ReadRecords(int fd, std::uint64_t count, std::uint64_t fileSize, Contents& c, const std::string& table)
{
    const std::uint64_t complete = (fileSize - c.headerLength) / c.recordLength;
    const auto truncated = [&](std::uint64_t present) {
        return Damaged(table, "la cabecera indica " + std::to_string(count) +
                                  " registros, pero el archivo solo contiene " + std::to_string(present));
    };
    if (count > complete) {
        throw truncated(complete);
    }
    const auto dataSize = static_cast<std::size_t>(count * c.recordLength);
    // One byte more to learn whether the end-of-file marker follows the last record.
    c.records = ReadAt(fd, c.headerLength, dataSize + 1, table);
    if (c.records.size() < dataSize) {
        throw truncated(c.records.size() / c.recordLength);
    }
    c.endMarked = c.records.size() > dataSize && c.records[dataSize] == kEndOfFile;
    c.records.resize(dataSize);

    c.live.reserve(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const char flag = c.records[i * c.recordLength];
        if (flag == kLive) {
            c.live.push_back(i);
        } else if (flag != kDeleted) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(flag));
            throw Damaged(table, "el registro " + std::to_string(i + 1) +
                                     " tiene una marca de borrado no válida (" + hex + ")");
        }
    }
}

} // namespace

Contents ReadContents(int fd, const std::string& table)
{
    bool normal = false;
    const std::int64_t size = sys::Size(fd, normal);
    if (size < 0) {
        throw Error("No se puede leer la tabla " + table + ": " + SystemReason(errno));
    }
    const auto fileSize = static_cast<std::uint64_t>(size);

    Contents c;
    const std::string head = ReadAt(fd, 0, kHeaderSize, table);
    if (head.size() < kHeaderSize) {
        throw Damaged(table, "el archivo es demasiado corto para ser una tabla (" +
                                 std::to_string(head.size()) + " bytes)");
    }
    c.layout = LayoutOf(static_cast<unsigned char>(head[0]), table);
    const std::size_t firstDescriptor = c.layout == Layout::Level7 ? kLevel7HeaderSize : kHeaderSize;
    const std::uint64_t count = GetLe(head.data() + 4, 4);
    c.indexFlag = head[kIndexFlagAt] != 0;
    c.headerLength = GetLe(head.data() + 8, 2);
    c.recordLength = GetLe(head.data() + 10, 2);
    if (c.headerLength < firstDescriptor + 1) {
        throw Damaged(table, "la cabecera dice medir " + std::to_string(c.headerLength) + " bytes");
    }
    if (c.headerLength > fileSize) {
        throw Damaged(table, "el archivo termina dentro de la cabecera");
    }
    const std::string header = ReadAt(fd, 0, c.headerLength, table);
    if (header.size() < c.headerLength) {
        throw Damaged(table, "el archivo termina dentro de la cabecera");
    }
    ReadFields(header, c, table);
    ReadRecords(fd, count, fileSize, c, table);
    c.writable =
        c.layout == Layout::DBase && std::all_of(c.fields.begin(), c.fields.end(), [](const FieldInfo& f) {
            return std::string_view("CNFLD").find(f.type) != std::string_view::npos;
        });
    return c;
}

// ---- Field values ---------------------------------------------------------------------------

std::string FieldContext::Field() const { return cp1252::ToUtf8(info.name); }

Error FieldContext::Unsupported() const
{
    return Error("La tabla " + table + " tiene el campo " + Field() + " de un tipo no soportado (" +
                 Quoted(std::string(1, info.type)) + ")");
}

std::string FieldContext::Where() const
{
    return " (tabla " + table + ", campo " + Field() +
           (record != 0 ? ", registro " + std::to_string(record) : std::string()) + ")";
}

Error FieldContext::BadValue(const char* what, std::string_view raw) const
{
    return Error("La tabla " + table + " tiene en el campo " + Field() + " " + what + ": " + Quoted(raw) +
                 (record != 0 ? " (registro " + std::to_string(record) + ")" : std::string()));
}

namespace
{

// A numeric field's text as the shortest decimal; empty for blanks.
std::string NumericText(const FieldContext& ctx, std::string_view raw)
{
    const std::string_view text = Trim(raw);
    if (text.empty()) {
        return {};
    }
    const auto d = ParseDecimal(text);
    if (!d) {
        throw ctx.BadValue("un número no válido", text);
    }
    return ShortestText(*d);
}

// A logical field as "T" or "F"; empty when it was never set.
std::string LogicalText(const FieldContext& ctx, std::string_view raw)
{
    switch (raw[0]) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
        return "T";
    case 'F':
    case 'f':
    case 'N':
    case 'n':
        return "F";
    case ' ':
    case '?':
    case '\0':
        return {};
    default:
        throw ctx.BadValue("un valor lógico no válido", raw);
    }
}

// A date-and-time field ('T': FoxPro's, '@': Level 7's) as text; empty for an unset one.
std::string TimestampText(const FieldContext& ctx, std::string_view raw)
{
    if (ctx.info.type == 'T') {
        // Julian day and milliseconds since midnight, both little-endian; day 0 means empty.
        const auto day = static_cast<std::int64_t>(GetLe(raw.data(), 4));
        if (day == 0 || AllOf(raw, " ")) {
            return {};
        }
        return DateTimeText(day - kJulianDayOfEpoch, static_cast<std::int64_t>(GetLe(raw.data() + 4, 4)));
    }
    // A big-endian double counting milliseconds, where 0001-01-01 is day 1.
    const double ms = std::bit_cast<double>(GetBe(raw.data(), 8));
    if (ms == 0) {
        return {};
    }
    if (!(ms > 0 && ms < 1e18)) {
        throw ctx.BadValue("una fecha y hora no válida", raw);
    }
    const auto total = static_cast<std::int64_t>(ms);
    return DateTimeText(total / kMillisecondsPerDay - kOrdinalOfEpoch, total % kMillisecondsPerDay);
}

} // namespace

std::string ReadString(const FieldContext& ctx, std::string_view raw)
{
    const bool level7 = ctx.layout == Layout::Level7;
    switch (ctx.info.type) {
    case 'C':
        return std::string(TrimRight(raw));
    case 'N':
    case 'F':
        return NumericText(ctx, raw);
    case 'L':
        return LogicalText(ctx, raw);
    case 'D': {
        if (AllOf(raw, std::string_view(" 0\0", 3))) {
            return {};
        }
        const auto date = ParseDate(raw);
        if (!date) {
            throw ctx.BadValue("una fecha no válida", raw);
        }
        return DateText(*date);
    }
    case 'I':
    case '+':
        if (level7) {
            return AllZero(raw) ? std::string() : std::to_string(Level7Integer(raw.data()));
        }
        return std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(GetLe(raw.data(), 4))));
    case 'O':
        if (level7) {
            return AllZero(raw) ? std::string() : DoubleText(ctx, Level7Double(raw.data()), raw);
        }
        return DoubleText(ctx, std::bit_cast<double>(GetLe(raw.data(), 8)), raw);
    case 'B':
        if (ctx.layout != Layout::FoxPro) {
            throw ctx.Unsupported();
        }
        return DoubleText(ctx, std::bit_cast<double>(GetLe(raw.data(), 8)), raw);
    case 'Y':
        return ShortestText(FromScaled(static_cast<std::int64_t>(GetLe(raw.data(), 8)), 4));
    case 'T':
    case '@':
        return TimestampText(ctx, raw);
    default:
        throw ctx.Unsupported();
    }
}

std::string NumberText(const FieldContext& ctx, std::string_view raw)
{
    switch (ctx.info.type) {
    case 'C':
    case 'N':
    case 'F':
        return std::string(Trim(raw));
    default:
        return ReadString(ctx, raw);
    }
}

bool ReadIsNull(const FieldContext& ctx, std::string_view raw)
{
    const bool level7 = ctx.layout == Layout::Level7;
    switch (ctx.info.type) {
    case 'C':
    case 'N':
    case 'F':
        return AllOf(raw, std::string_view(" \0", 2));
    case 'D':
        return AllOf(raw, std::string_view(" 0\0", 3));
    case 'L':
        return raw[0] == ' ' || raw[0] == '?' || raw[0] == '\0';
    case 'I':
    case '+':
    case 'O':
        return level7 && AllZero(raw);
    case '@':
        return AllZero(raw);
    case 'T':
        return GetLe(raw.data(), 4) == 0 || AllOf(raw, " ");
    case 'Y':
        return false;
    case 'B':
        if (ctx.layout == Layout::FoxPro) {
            return false;
        }
        throw ctx.Unsupported();
    default:
        throw ctx.Unsupported();
    }
}

char ParseLogical(std::string_view ansi)
{
    const std::string text = cp1252::Upper(Trim(ansi));
    static constexpr std::string_view kTrue[] = {"T", "Y", "S", "1", "TRUE", "YES", "SI", "S\xCD"};
    static constexpr std::string_view kFalse[] = {"F", "N", "0", "FALSE", "NO"};
    if (text.empty() || text == "?") {
        return ' ';
    }
    if (std::find(std::begin(kTrue), std::end(kTrue), text) != std::end(kTrue)) {
        return 'T';
    }
    if (std::find(std::begin(kFalse), std::end(kFalse), text) != std::end(kFalse)) {
        return 'F';
    }
    return 0;
}

bool IsValidName(std::string_view name)
{
    if (name.empty() || name.size() > kMaxNameLength || !(name[0] >= 'A' && name[0] <= 'Z')) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char ch) {
        return (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_';
    });
}

std::optional<HeaderFacts> ReadHeaderFacts(int fd)
{
    unsigned char b[kHeaderSize] = {};
    if (sys::ReadAt(fd, b, sizeof b, 0) != static_cast<std::int64_t>(sizeof b)) {
        return std::nullopt;
    }
    HeaderFacts h;
    h.recordCount =
        static_cast<std::uint32_t>(b[4] | (b[5] << 8) | (b[6] << 16) | (std::uint32_t{b[7]} << 24));
    h.headerLength = static_cast<std::size_t>(b[8] | (b[9] << 8));
    h.indexFlag = b[kIndexFlagAt] != 0;
    return h;
}

void ClearIndexFlags(std::string& header)
{
    if (header.size() <= kIndexFlagAt) {
        return;
    }
    header[kIndexFlagAt] = 0;
    for (std::size_t at = kHeaderSize; at + kDescriptorSize <= header.size() && header[at] != kTerminator;
         at += kDescriptorSize) {
        header[at + kFieldIndexFlagAt] = 0;
    }
}

void SetIndexFlags(std::string& header, const std::vector<mdx::Tag>& tags, bool on)
{
    header[kIndexFlagAt] = on ? 0x01 : 0x00;
    for (const mdx::Tag& t : tags) {
        header[kHeaderSize + kDescriptorSize * t.field + kFieldIndexFlagAt] = on ? 0x01 : 0x00;
    }
}

FieldInfo InfoFor(const FieldDef& def)
{
    FieldInfo f;
    f.name = def.name;
    switch (def.type) {
    case FieldType::String:
        f.type = 'C';
        f.width = def.size;
        break;
    case FieldType::Integer:
        f.type = 'N';
        f.width = kIntegerWidth;
        break;
    case FieldType::Float:
        f.type = 'N';
        f.width = kFloatWidth;
        f.decimals = kFloatDecimals;
        break;
    case FieldType::Boolean:
        f.type = 'L';
        f.width = 1;
        break;
    }
    return f;
}

} // namespace zendral::dbf
