#include "DbfTable.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "Error.h"
#include "Mdx.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace zendral::dbf
{
namespace
{

// How a table lays out its header and which binary field encodings it uses.
enum class Layout
{
    DBase,  // dBase III+/IV (and FoxPro 2): 32-byte header and descriptors, text fields
    FoxPro, // Visual FoxPro family: as DBase, plus little-endian binary I, B, Y and T fields
    Level7, // dBase level 7: 68-byte header, 48-byte descriptors, big-endian binary fields
};

constexpr char kEndOfFile = 0x1A;
constexpr char kTerminator = 0x0D;
constexpr char kLive = ' ';
constexpr char kDeleted = '*';
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr std::size_t kLevel7HeaderSize = 68;
constexpr std::size_t kLevel7DescriptorSize = 48;
// Header byte that announces the production index, and the byte of a field descriptor that marks
// the key field of one of its tags.
constexpr std::size_t kIndexFlagAt = 28;
constexpr std::size_t kFieldIndexFlagAt = 31;
constexpr unsigned char kVersion = 0x03;
constexpr unsigned char kLanguageDriver = 0x57;
constexpr std::size_t kMaxFields = 255;
constexpr std::size_t kMaxRecordLength = 0xFFFF;
constexpr int kMaxNameLength = 10;
constexpr int kMaxStringWidth = 254;
constexpr int kIntegerWidth = 11;
constexpr int kFloatWidth = 20;
constexpr int kFloatDecimals = 4;
constexpr std::int64_t kMillisecondsPerDay = 86400000;
// Days from 0001-01-01 (day 1 in dBase 7 timestamps) and from the Julian day 0 (FoxPro datetimes)
// to 1970-01-01.
constexpr std::int64_t kOrdinalOfEpoch = 719163;
constexpr std::int64_t kJulianDayOfEpoch = 2440588;

std::uint64_t GetLe(const char* p, int size)
{
    std::uint64_t v = 0;
    for (int i = size - 1; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

std::uint64_t GetBe(const char* p, int size)
{
    std::uint64_t v = 0;
    for (int i = 0; i < size; ++i) {
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    }
    return v;
}

void PutLe(char* p, std::uint64_t v, int size)
{
    for (int i = 0; i < size; ++i) {
        p[i] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
}

bool IsBlank(char ch) { return ch == ' ' || ch == '\0'; }

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

// Field contents are windows-1252; messages are UTF-8.
std::string Quoted(std::string_view ansi) { return "'" + cp1252::ToUtf8(ansi) + "'"; }

// Today's date as the header stores it: year - 1900, month, day.
void PutToday(char* p)
{
    const std::time_t now = std::time(nullptr);
    std::tm t = {};
    localtime_r(&now, &t);
    p[0] = static_cast<char>(std::clamp(t.tm_year, 0, 255));
    p[1] = static_cast<char>(t.tm_mon + 1);
    p[2] = static_cast<char>(t.tm_mday);
}

// ---- Exact decimal numbers ------------------------------------------------------------------

// A decimal number kept as its digits, so that fields are read and written without binary
// rounding.
struct Decimal
{
    bool negative = false;
    std::string whole;    // digits before the point, without leading zeros
    std::string fraction; // digits after the point, without trailing zeros
};

void Normalize(Decimal& d)
{
    d.whole.erase(0, std::min(d.whole.find_first_not_of('0'), d.whole.size()));
    const std::size_t last = d.fraction.find_last_not_of('0');
    d.fraction.resize(last == std::string::npos ? 0 : last + 1);
    if (d.whole.empty() && d.fraction.empty()) {
        d.negative = false;
    }
}

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

// Reads "[sign] digits [. digits] [e [sign] digits]" with nothing around it; exponents are
// limited so that a hostile text cannot ask for millions of digits.
std::optional<Decimal> ParseDecimal(std::string_view s)
{
    constexpr int kMaxExponent = 400;
    Decimal d;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        d.negative = s[i] == '-';
        ++i;
    }
    while (i < s.size() && IsDigit(s[i])) {
        d.whole += s[i++];
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            d.fraction += s[i++];
        }
    }
    if (d.whole.empty() && d.fraction.empty()) {
        return std::nullopt;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negativeExponent = s[i] == '-';
            ++i;
        }
        if (i == s.size()) {
            return std::nullopt;
        }
        int exponent = 0;
        for (; i < s.size() && IsDigit(s[i]); ++i) {
            exponent = exponent * 10 + (s[i] - '0');
            if (exponent > kMaxExponent) {
                return std::nullopt;
            }
        }
        // Move the point: digits stay, only the split between whole and fraction changes.
        const std::string digits = d.whole + d.fraction;
        const long point = static_cast<long>(d.whole.size()) + (negativeExponent ? -exponent : exponent);
        if (point <= 0) {
            d.whole.clear();
            d.fraction = std::string(static_cast<std::size_t>(-point), '0') + digits;
        } else if (static_cast<std::size_t>(point) >= digits.size()) {
            d.whole = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
            d.fraction.clear();
        } else {
            d.whole = digits.substr(0, static_cast<std::size_t>(point));
            d.fraction = digits.substr(static_cast<std::size_t>(point));
        }
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    Normalize(d);
    return d;
}

// Rounds to `places` decimals: halves go away from zero, or to the even neighbour.
Decimal Round(Decimal d, std::size_t places, bool halfEven)
{
    if (d.fraction.size() <= places) {
        return d;
    }
    const char next = d.fraction[places];
    // The fraction has no trailing zeros, so any digit after `next` makes it more than a half.
    const bool moreThanHalf = d.fraction.size() > places + 1;
    d.fraction.resize(places);
    bool up = next > '5';
    if (next == '5') {
        if (moreThanHalf || !halfEven) {
            up = true;
        } else {
            const std::string& kept = places > 0 ? d.fraction : d.whole;
            up = !kept.empty() && (kept.back() - '0') % 2 == 1;
        }
    }
    if (up) {
        std::string digits = d.whole + d.fraction;
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9') {
            digits[--i] = '0';
        }
        if (i == 0) {
            digits.insert(digits.begin(), '1');
        } else {
            ++digits[i - 1];
        }
        d.whole = digits.substr(0, digits.size() - places);
        d.fraction = digits.substr(digits.size() - places);
    }
    Normalize(d);
    return d;
}

// Shortest form: "3", "1.5", "-2", "0.25".
std::string ShortestText(const Decimal& d)
{
    std::string s = d.negative ? "-" : "";
    s += d.whole.empty() ? "0" : d.whole;
    if (!d.fraction.empty()) {
        s += '.' + d.fraction;
    }
    return s;
}

// As a numeric field stores it: exactly `decimals` digits after the point, halves rounded away
// from zero.
std::string FixedText(const Decimal& value, std::size_t decimals)
{
    Decimal d = Round(value, decimals, false);
    std::string s = d.negative ? "-" : "";
    s += d.whole.empty() ? "0" : d.whole;
    if (decimals > 0) {
        d.fraction.resize(decimals, '0');
        s += '.' + d.fraction;
    }
    return s;
}

std::optional<Decimal> FromDouble(double v)
{
    if (!std::isfinite(v)) {
        return std::nullopt;
    }
    // The shortest fixed form that reads back as the same double; 1e308 and 5e-324 both fit.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
    if (result.ec != std::errc()) {
        return std::nullopt;
    }
    return ParseDecimal(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

Decimal FromInteger(std::int64_t v) { return *ParseDecimal(std::to_string(v)); }

// An integer counted in units of 10^-scale (FoxPro currency).
Decimal FromScaled(std::int64_t v, std::size_t scale)
{
    Decimal d;
    d.negative = v < 0;
    const std::uint64_t magnitude =
        d.negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    std::string digits = std::to_string(magnitude);
    if (digits.size() <= scale) {
        digits.insert(0, scale + 1 - digits.size(), '0');
    }
    d.whole = digits.substr(0, digits.size() - scale);
    d.fraction = digits.substr(digits.size() - scale);
    Normalize(d);
    return d;
}

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

// ---- Reading a table ------------------------------------------------------------------------

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

std::string ReadAt(int fd, std::uint64_t offset, std::size_t size, const std::string& table)
{
    std::string data(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, data.data() + done, size - done, static_cast<off_t>(offset + done));
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

// Returns 0 or the errno of the failure.
int WriteAt(int fd, std::uint64_t offset, const char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(offset + done));
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

Contents ReadContents(int fd, const std::string& table)
{
    const auto damaged = [&](const std::string& what) {
        return Error("La tabla " + table + " está dañada: " + what);
    };
    struct stat st = {};
    if (::fstat(fd, &st) != 0) {
        throw Error("No se puede leer la tabla " + table + ": " + SystemReason(errno));
    }
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);

    Contents c;
    const std::string head = ReadAt(fd, 0, kHeaderSize, table);
    if (head.size() < kHeaderSize) {
        throw damaged("el archivo es demasiado corto para ser una tabla (" + std::to_string(head.size()) +
                      " bytes)");
    }
    const auto version = static_cast<unsigned char>(head[0]);
    if (version == 0x04 || version == 0x8C) {
        c.layout = Layout::Level7;
    } else if (version >= 0x30 && version <= 0x32) {
        c.layout = Layout::FoxPro;
    } else if ((version & 0x07) == 0x03 || version == 0xF5 || version == 0xFB) {
        c.layout = Layout::DBase;
    } else {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", version);
        throw damaged(std::string("no es una tabla dBase (versión ") + hex + ")");
    }
    const bool level7 = c.layout == Layout::Level7;
    const std::size_t firstDescriptor = level7 ? kLevel7HeaderSize : kHeaderSize;
    const std::size_t descriptorSize = level7 ? kLevel7DescriptorSize : kDescriptorSize;

    const std::uint64_t count = GetLe(head.data() + 4, 4);
    c.indexFlag = head[kIndexFlagAt] != 0;
    c.headerLength = GetLe(head.data() + 8, 2);
    c.recordLength = GetLe(head.data() + 10, 2);
    if (c.headerLength < firstDescriptor + 1) {
        throw damaged("la cabecera dice medir " + std::to_string(c.headerLength) + " bytes");
    }
    if (c.headerLength > fileSize) {
        throw damaged("el archivo termina dentro de la cabecera");
    }
    const std::string header = ReadAt(fd, 0, c.headerLength, table);
    if (header.size() < c.headerLength) {
        throw damaged("el archivo termina dentro de la cabecera");
    }

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
            throw damaged("el campo " + shown + " tiene ancho 0");
        }
        const int binaryWidth = BinaryWidth(f.type, c.layout);
        if (binaryWidth != 0 && f.width != binaryWidth) {
            throw damaged("el campo " + shown + " de tipo " + Quoted(std::string(1, f.type)) +
                          " tiene ancho " + std::to_string(f.width) + " en lugar de " +
                          std::to_string(binaryWidth));
        }
        f.offset = static_cast<int>(1 + widths);
        widths += static_cast<std::size_t>(f.width);
        c.fields.push_back(std::move(f));
    }
    if (c.fields.empty()) {
        throw damaged("no tiene campos");
    }
    if (1 + widths > c.recordLength) {
        throw damaged("sus campos ocupan " + std::to_string(1 + widths) +
                      " bytes por registro, pero la cabecera dice " + std::to_string(c.recordLength));
    }

    const std::uint64_t complete = (fileSize - c.headerLength) / c.recordLength;
    const auto truncated = [&](std::uint64_t present) {
        return damaged("la cabecera indica " + std::to_string(count) +
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
            throw damaged("el registro " + std::to_string(i + 1) + " tiene una marca de borrado no válida (" +
                          hex + ")");
        }
    }

    c.writable =
        c.layout == Layout::DBase && std::all_of(c.fields.begin(), c.fields.end(), [](const FieldInfo& f) {
            return std::string_view("CNFLD").find(f.type) != std::string_view::npos;
        });
    return c;
}

// ---- Field values ---------------------------------------------------------------------------

// What a field reading needs to know besides the bytes.
struct FieldContext
{
    const std::string& table;
    Layout layout;
    const FieldInfo& info;

    std::string Field() const { return cp1252::ToUtf8(info.name); }

    Error Unsupported() const
    {
        return Error("La tabla " + table + " tiene el campo " + Field() + " de un tipo no soportado (" +
                     Quoted(std::string(1, info.type)) + ")");
    }

    Error BadValue(const char* what, std::string_view raw) const
    {
        return Error("La tabla " + table + " tiene en el campo " + Field() + " " + what + ": " + Quoted(raw));
    }
};

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

std::string ReadString(const FieldContext& ctx, std::string_view raw)
{
    const bool level7 = ctx.layout == Layout::Level7;
    switch (ctx.info.type) {
    case 'C':
        return std::string(TrimRight(raw));
    case 'N':
    case 'F': {
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
    case 'L':
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
    case 'T': {
        // Julian day and milliseconds since midnight, both little-endian; day 0 means empty.
        const auto day = static_cast<std::int64_t>(GetLe(raw.data(), 4));
        if (day == 0 || AllOf(raw, " ")) {
            return {};
        }
        return DateTimeText(day - kJulianDayOfEpoch, static_cast<std::int64_t>(GetLe(raw.data() + 4, 4)));
    }
    case '@': {
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
    default:
        throw ctx.Unsupported();
    }
}

// The text that AsInteger and AsFloat convert: numbers as stored, texts without surrounding blanks.
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

// 'T', 'F' or ' ' for the texts a logical field accepts; 0 for anything else.
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
    return std::all_of(name.begin(), name.end(),
                       [](char ch) { return (ch >= 'A' && ch <= 'Z') || IsDigit(ch) || ch == '_'; });
}

// Header byte 28 and byte 31 of each key field's descriptor, in a copy of the header.
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

// The file in `directory` named `fileName` in any letter case: Windows programs, also under Wine,
// may have written "proft.dbf" for PROFT. The exact name when there is none.
std::filesystem::path FindFile(const std::filesystem::path& directory, const std::string& fileName)
{
    std::filesystem::path exact = directory / fileName;
    std::error_code ec;
    if (std::filesystem::exists(exact, ec)) {
        return exact;
    }
    for (auto it = std::filesystem::directory_iterator(directory, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (cp1252::EqualsNoCase(it->path().filename().string(), fileName)) {
            return it->path();
        }
    }
    return exact;
}

} // namespace

// ---- Table ----------------------------------------------------------------------------------

struct Table::Impl
{
    explicit Impl(const Table& owner)
        : owner(owner)
    {
    }

    const Table& owner;
    LockedFile file;
    bool exclusive = false;
    bool dirty = false; // something was written since Open
    Contents c;
    State state = State::Inactive;
    std::size_t pos = 0; // index into c.live; c.live.size() at Eof
    bool bof = true;
    std::string buffer;      // the record being appended or edited
    std::size_t editing = 0; // number of the record being edited
    // The production index's tags, which every change of the records keeps current.
    std::vector<mdx::Tag> tags;
    // Why the index that the header announces cannot be kept current; writes are refused then.
    std::string indexProblem;
    // Records changed since the index was written. The header stops announcing the index before
    // the first such change and announces it again once a fresh one has replaced the old, so
    // that a table killed in between claims no index rather than a stale one.
    bool indexStale = false;

    const std::string& Name() const { return owner.m_tableName; }

    Error NotOpen() const { return Error("La tabla " + Name() + " no está abierta"); }

    void RequireBrowse() const
    {
        if (state == State::Inactive) {
            throw NotOpen();
        }
        if (state != State::Browse) {
            throw Error("La tabla " + Name() + " tiene cambios sin guardar");
        }
    }

    void RequireWritable() const
    {
        if (!c.writable) {
            throw Error("No se puede modificar la tabla " + Name() + ": su formato solo se puede leer");
        }
        if (!indexProblem.empty()) {
            throw Error("No se puede modificar la tabla " + Name() + ": su índice " + Name() +
                        ".MDX no se puede mantener al día (" + indexProblem + ")");
        }
    }

    // Takes the tags from the index that the header announces. Reading needs no index, so a
    // missing or foreign one only stops writes.
    void LoadIndex()
    {
        tags.clear();
        indexProblem.clear();
        indexStale = false;
        if (!c.indexFlag || !c.writable) {
            return;
        }
        const std::filesystem::path path = owner.IndexPath();
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) {
            indexProblem = "no existe el archivo " + path.string();
            return;
        }
        try {
            tags = mdx::ReadTags(ReadWholeFile(path), c.fields);
        } catch (const Error& e) {
            indexProblem = e.what();
        }
    }

    // True when posting the pending record changes what some tag holds.
    bool ChangesIndex() const
    {
        if (tags.empty()) {
            return false;
        }
        if (state == State::Insert) {
            return true;
        }
        const char* old = c.records.data() + editing * c.recordLength;
        return std::any_of(tags.begin(), tags.end(), [&](const mdx::Tag& t) {
            return std::memcmp(old + t.keyOffset, buffer.data() + t.keyOffset, t.keyLength) != 0;
        });
    }

    // Sets or clears the header bytes that announce the index, the table's and its key fields',
    // in one write so that they change together. Returns 0 or the errno.
    int WriteIndexFlags(bool on)
    {
        const std::size_t end = kHeaderSize + kDescriptorSize * c.fields.size();
        std::string header;
        try {
            header = ReadAt(file.fd(), 0, end, Name());
        } catch (const Error&) {
            return EIO;
        }
        if (header.size() < end) {
            return EIO;
        }
        SetIndexFlags(header, tags, on);
        const int err = WriteAt(file.fd(), kIndexFlagAt, header.data() + kIndexFlagAt, end - kIndexFlagAt);
        c.indexFlag = on && err == 0;
        return err;
    }

    // Before the first change of an indexed record: the header stops announcing the index (and
    // that reaches the disk before any record does), then the old index goes.
    void MarkIndexStale()
    {
        indexStale = true;
        dirty = true;
        int err = WriteIndexFlags(false);
        if (err == 0 && ::fdatasync(file.fd()) != 0) {
            err = errno;
        }
        if (err != 0) {
            throw Error("No se puede guardar el registro en la tabla " + Name() + ": " + SystemReason(err));
        }
        ::unlink(owner.IndexPath().c_str());
    }

    // Writes the whole index afresh from the records, replaces the file atomically and only then
    // announces it in the header again.
    void RebuildIndex()
    {
        const auto failed = [&](int err) {
            return Error("No se puede guardar el índice de la tabla " + Name() + ": " + SystemReason(err));
        };
        // The records the index lists are on disk before the header points at it.
        if (::fdatasync(file.fd()) != 0) {
            throw failed(errno);
        }
        char today[3];
        PutToday(today);
        mdx::Date date;
        std::memcpy(date.data(), today, date.size());
        WriteFileAtomically(owner.IndexPath(),
                            mdx::Build(Name(), tags, c.fields, c.records, c.recordLength, date));
        if (const int err = WriteIndexFlags(true); err != 0) {
            throw failed(err);
        }
        indexStale = false;
    }

    // On Close: the index that changes left behind is written now.
    void FinishIndex()
    {
        if (state == State::Inactive || !indexStale) {
            return;
        }
        if (!exclusive && !file.Relock(LockedFile::Mode::Exclusive)) {
            throw Error("No se puede guardar el índice de la tabla " + Name() +
                        ": está en uso por otro programa");
        }
        RebuildIndex();
    }

    const FieldInfo& Info(int index) const
    {
        if (state == State::Inactive || index < 0 || static_cast<std::size_t>(index) >= c.fields.size()) {
            throw NotOpen();
        }
        return c.fields[static_cast<std::size_t>(index)];
    }

    FieldContext Context(int index) const { return {Name(), c.layout, Info(index)}; }

    std::string_view Raw(int index) const
    {
        const FieldInfo& f = Info(index);
        const char* record = nullptr;
        if (state == State::Edit || state == State::Insert) {
            record = buffer.data();
        } else if (pos < c.live.size()) {
            record = c.records.data() + c.live[pos] * c.recordLength;
        } else {
            throw Error("La tabla " + Name() + " no tiene registro actual");
        }
        return {record + f.offset, static_cast<std::size_t>(f.width)};
    }

    // Replaces the field in the record being appended or edited with `text`, blank-padded.
    void Store(int index, std::string_view text, bool rightAligned = false)
    {
        const FieldInfo& f = Info(index);
        if (state != State::Edit && state != State::Insert) {
            throw Error("La tabla " + Name() + " no está en modo de edición");
        }
        const auto width = static_cast<std::size_t>(f.width);
        text = text.substr(0, width);
        char* field = buffer.data() + f.offset;
        std::memset(field, ' ', width);
        std::copy(text.begin(), text.end(), field + (rightAligned ? width - text.size() : 0));
    }

    void StoreNumber(int index, const Decimal& value)
    {
        const FieldInfo& f = Info(index);
        const std::string text = FixedText(value, static_cast<std::size_t>(f.decimals));
        if (text.size() > static_cast<std::size_t>(f.width)) {
            // dBase would fill the field with asterisks; refuse instead of losing the number.
            throw Error("El valor " + text + " no cabe en el campo " + cp1252::ToUtf8(f.name) +
                        " de la tabla " + Name() + " (ancho " + std::to_string(f.width) + ")");
        }
        Store(index, text, true);
    }

    // Text into a text field where cutting would change its meaning (numbers, logicals).
    void StoreWhole(int index, const std::string& text)
    {
        const FieldInfo& f = Info(index);
        if (text.size() > static_cast<std::size_t>(f.width)) {
            throw Error("El valor " + Quoted(text) + " no cabe en el campo " + cp1252::ToUtf8(f.name) +
                        " de la tabla " + Name() + " (ancho " + std::to_string(f.width) + ")");
        }
        Store(index, text);
    }

    Error ReadOnlyType(int index) const
    {
        const FieldInfo& f = Info(index);
        return Error("No se puede escribir en el campo " + cp1252::ToUtf8(f.name) + " de la tabla " + Name() +
                     ": su tipo (" + Quoted(std::string(1, f.type)) + ") solo se puede leer");
    }

    // Releases the file and forgets the contents; returns the errno of a failed flush, or 0.
    int Release() noexcept
    {
        int err = 0;
        if (file.isOpen() && dirty && ::fsync(file.fd()) != 0) {
            err = errno;
        }
        file.close();
        c = Contents();
        state = State::Inactive;
        pos = 0;
        bof = true;
        dirty = false;
        buffer.clear();
        tags.clear();
        indexProblem.clear();
        indexStale = false;
        return err;
    }
};

Table::Table(std::string objectName, std::filesystem::path directory, std::string tableName)
    : m_objectName(std::move(objectName))
    , m_directory(std::move(directory))
    , m_tableName(std::move(tableName))
    , m_impl(std::make_unique<Impl>(*this))
{
}

Table::~Table()
{
    try {
        m_impl->FinishIndex();
    } catch (...) {
        // The header already withdrew the index; the table stays valid without it.
    }
    m_impl->Release();
}

void Table::ClearFieldDefs() { m_fieldDefs.clear(); }

void Table::AddFieldDef(std::string name, FieldType type, int size)
{
    const std::string prefix = "La tabla " + m_tableName + " no admite el campo " + Quoted(name) + ": ";
    if (!IsValidName(name)) {
        throw Error(prefix +
                    "el nombre debe tener de 1 a 10 letras mayúsculas, cifras o '_', empezando por letra");
    }
    if (type == FieldType::String && (size < 1 || size > kMaxStringWidth)) {
        throw Error(prefix + "el ancho de un texto debe estar entre 1 y 254 (se pidió " +
                    std::to_string(size) + ")");
    }
    if (std::any_of(m_fieldDefs.begin(), m_fieldDefs.end(),
                    [&](const FieldDef& f) { return f.name == name; })) {
        throw Error(prefix + "ya hay otro con ese nombre");
    }
    m_fieldDefs.push_back({std::move(name), type, size});
}

void Table::AddIndexDef(std::string name, std::string fields, int options)
{
    const std::string prefix = "La tabla " + m_tableName + " no admite el índice " + Quoted(name) + ": ";
    if (!IsValidName(name)) {
        throw Error(prefix +
                    "el nombre debe tener de 1 a 10 letras mayúsculas, cifras o '_', empezando por letra");
    }
    if (options != 0) {
        throw Error(prefix + "solo se admiten índices ascendentes, con claves repetidas y que distinguen "
                             "mayúsculas de minúsculas");
    }
    if (std::any_of(m_indexDefs.begin(), m_indexDefs.end(),
                    [&](const IndexDef& d) { return d.name == name; })) {
        throw Error(prefix + "ya hay otro con ese nombre");
    }
    if (m_indexDefs.size() >= mdx::kMaxTags) {
        throw Error(prefix + "una tabla admite como mucho " + std::to_string(mdx::kMaxTags) + " índices");
    }
    m_indexDefs.push_back({std::move(name), std::move(fields), options});
}

void Table::CreateTable()
{
    const std::string prefix = "No se puede crear la tabla " + m_tableName + ": ";
    if (Active()) {
        throw Error(prefix + "está abierta");
    }
    if (m_fieldDefs.empty()) {
        throw Error(prefix + "no tiene campos");
    }
    if (m_fieldDefs.size() > kMaxFields) {
        throw Error(prefix + "tiene " + std::to_string(m_fieldDefs.size()) + " campos (como mucho " +
                    std::to_string(kMaxFields) + ")");
    }

    const std::size_t headerLength = kHeaderSize + kDescriptorSize * m_fieldDefs.size() + 1;
    std::string bytes(headerLength, '\0');
    std::size_t recordLength = 1;
    std::vector<FieldInfo> fields;
    for (std::size_t i = 0; i < m_fieldDefs.size(); ++i) {
        FieldInfo& f = fields.emplace_back(InfoFor(m_fieldDefs[i]));
        f.offset = static_cast<int>(recordLength);
        char* d = bytes.data() + kHeaderSize + kDescriptorSize * i;
        std::memcpy(d, f.name.data(), f.name.size());
        d[11] = f.type;
        d[16] = static_cast<char>(f.width);
        d[17] = static_cast<char>(f.decimals);
        recordLength += static_cast<std::size_t>(f.width);
    }
    if (recordLength > kMaxRecordLength) {
        throw Error(prefix + "sus registros ocuparían " + std::to_string(recordLength) +
                    " bytes (como mucho " + std::to_string(kMaxRecordLength) + ")");
    }
    std::vector<mdx::Tag> tags;
    for (const IndexDef& def : m_indexDefs) {
        try {
            tags.push_back(mdx::TagFor(def, fields));
        } catch (const Error& e) {
            throw Error(prefix + e.what());
        }
    }
    bytes[0] = static_cast<char>(kVersion);
    PutToday(bytes.data() + 1);
    PutLe(bytes.data() + 8, headerLength, 2);
    PutLe(bytes.data() + 10, recordLength, 2);
    bytes[29] = static_cast<char>(kLanguageDriver);
    bytes[headerLength - 1] = kTerminator;
    bytes += kEndOfFile;

    // Never delete a table from under another program that has it open.
    const std::filesystem::path old = FilePath();
    std::error_code ec;
    if (std::filesystem::exists(old, ec)) {
        const LockedFile held = LockedFile::Open(old, LockedFile::Mode::Exclusive);
        if (!held.isOpen()) {
            throw Error("La tabla " + m_tableName + " está en uso por otro programa");
        }
        ::unlink(old.c_str());
    }
    const std::filesystem::path index = m_directory / (m_tableName + ".MDX");
    ::unlink(IndexPath().c_str());
    ::unlink((index.string() + ".tmp").c_str()); // left by a write that was killed

    const std::filesystem::path path = m_directory / (m_tableName + ".DBF");
    const LockedFile file = LockedFile::Open(path, LockedFile::Mode::Exclusive, true);
    if (!file.isOpen()) {
        throw Error("La tabla " + m_tableName + " está en uso por otro programa");
    }
    if (const int err = WriteAt(file.fd(), 0, bytes.data(), bytes.size()); err != 0) {
        throw Error(prefix + SystemReason(err));
    }
    if (tags.empty()) {
        return;
    }
    // The table exists without announcing an index until its empty index is in place.
    mdx::Date date;
    std::memcpy(date.data(), bytes.data() + 1, date.size());
    WriteFileAtomically(index, mdx::Build(m_tableName, tags, fields, {}, recordLength, date));
    SetIndexFlags(bytes, tags, true);
    if (const int err =
            WriteAt(file.fd(), kIndexFlagAt, bytes.data() + kIndexFlagAt, headerLength - 1 - kIndexFlagAt);
        err != 0) {
        throw Error(prefix + SystemReason(err));
    }
}

void Table::Open(bool exclusive)
{
    if (Active()) {
        return;
    }
    const std::string prefix = "No se puede abrir la tabla " + m_tableName + ": ";
    const std::filesystem::path path = FilePath();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        throw Error(prefix + "no existe el archivo " + path.string());
    }
    LockedFile file =
        LockedFile::Open(path, exclusive ? LockedFile::Mode::Exclusive : LockedFile::Mode::Shared);
    if (!file.isOpen()) {
        throw Error(prefix + "está en uso por otro programa");
    }
    Contents c = ReadContents(file.fd(), m_tableName);

    Impl& d = *m_impl;
    d.file = std::move(file);
    d.c = std::move(c);
    d.exclusive = exclusive;
    d.dirty = false;
    d.state = State::Browse;
    d.pos = 0;
    d.bof = true;
    d.LoadIndex();
}

void Table::Close()
{
    std::optional<Error> indexFailure;
    try {
        m_impl->FinishIndex();
    } catch (const Error& e) {
        indexFailure = e;
    }
    const int err = m_impl->Release();
    if (indexFailure) {
        throw *indexFailure;
    }
    if (err != 0) {
        throw Error("No se puede guardar la tabla " + m_tableName + ": " + SystemReason(err));
    }
}

bool Table::Active() const { return m_impl->state != State::Inactive; }

void Table::SetActive(bool active)
{
    if (active) {
        Open();
    } else {
        Close();
    }
}

Table::State Table::state() const { return m_impl->state; }

void Table::First()
{
    m_impl->RequireBrowse();
    m_impl->pos = 0;
    m_impl->bof = true;
}

void Table::Next() { MoveBy(1); }

void Table::Prior() { MoveBy(-1); }

void Table::Last()
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    d.pos = d.c.live.empty() ? 0 : d.c.live.size() - 1;
    d.bof = d.c.live.empty();
}

void Table::MoveBy(long count)
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    const std::size_t n = d.c.live.size();
    if (count > 0) {
        const auto forward = static_cast<unsigned long>(count);
        d.pos += std::min<std::size_t>(forward, n - d.pos);
        d.bof = false;
    } else if (count < 0) {
        // -(count + 1) + 1 avoids negating LONG_MIN.
        const auto back = static_cast<unsigned long>(-(count + 1)) + 1;
        if (back > d.pos) {
            d.pos = 0;
            d.bof = true;
        } else {
            d.pos -= back;
            d.bof = false;
        }
    }
}

bool Table::Eof() const
{
    const Impl& d = *m_impl;
    switch (d.state) {
    case State::Inactive:
        return true;
    case State::Insert:
        return false;
    default:
        return d.pos >= d.c.live.size();
    }
}

bool Table::Bof() const { return m_impl->state == State::Inactive || m_impl->bof; }

std::size_t Table::RecordCount() const
{
    if (!Active()) {
        throw m_impl->NotOpen();
    }
    return m_impl->c.live.size();
}

std::size_t Table::Position() const
{
    const Impl& d = *m_impl;
    if (!Active()) {
        throw d.NotOpen();
    }
    return d.state == State::Insert ? d.c.live.size() : d.pos;
}

Field Table::FieldByName(std::string_view name)
{
    const Impl& d = *m_impl;
    if (!Active()) {
        throw d.NotOpen();
    }
    for (std::size_t i = 0; i < d.c.fields.size(); ++i) {
        if (cp1252::EqualsNoCase(d.c.fields[i].name, name)) {
            return Field(*this, static_cast<int>(i));
        }
    }
    throw Error(m_objectName + ": No se encuentra el campo '" + std::string(name) + "'");
}

const std::vector<FieldInfo>& Table::Fields() const { return m_impl->c.fields; }

void Table::Append()
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    d.RequireWritable();
    d.buffer.assign(d.c.recordLength, ' ');
    d.state = State::Insert;
}

void Table::Edit()
{
    Impl& d = *m_impl;
    if (d.state == State::Edit) {
        return;
    }
    d.RequireBrowse();
    d.RequireWritable();
    if (d.pos >= d.c.live.size()) {
        throw Error("La tabla " + m_tableName + " no tiene registro actual");
    }
    d.editing = d.c.live[d.pos];
    d.buffer = d.c.records.substr(d.editing * d.c.recordLength, d.c.recordLength);
    d.state = State::Edit;
}

void Table::Post()
{
    Impl& d = *m_impl;
    if (d.state != State::Edit && d.state != State::Insert) {
        throw Error("La tabla " + m_tableName + " no está en modo de edición");
    }
    // A table opened shared is written only while nobody else has it open: its lock turns
    // exclusive for the write and back to shared afterwards (a downgrade cannot conflict).
    struct SharedAgain
    {
        LockedFile* file = nullptr;
        ~SharedAgain()
        {
            if (file != nullptr) {
                try {
                    file->Relock(LockedFile::Mode::Shared);
                } catch (const Error&) {
                }
            }
        }
    } sharedAgain;
    if (!d.exclusive) {
        if (!d.file.Relock(LockedFile::Mode::Exclusive)) {
            throw Error("No se puede guardar el registro en la tabla " + m_tableName +
                        ": está en uso por otro programa");
        }
        sharedAgain.file = &d.file;
    }
    const bool changesIndex = d.ChangesIndex();
    if (changesIndex && !d.indexStale) {
        d.MarkIndexStale();
    }
    const int fd = d.file.fd();
    const std::size_t recordLength = d.c.recordLength;
    const auto failed = [&](int err) {
        return Error("No se puede guardar el registro en la tabla " + m_tableName + ": " + SystemReason(err));
    };
    // Header bytes 1-7: date of the last update and record count.
    char stamp[7];
    PutToday(stamp);
    d.dirty = true;

    if (d.state == State::Edit) {
        const std::uint64_t at = d.c.headerLength + std::uint64_t{d.editing} * recordLength;
        int err = WriteAt(fd, at, d.buffer.data(), recordLength);
        if (err == 0) {
            err = WriteAt(fd, 1, stamp, 3);
        }
        if (err != 0) {
            throw failed(err);
        }
        d.c.records.replace(d.editing * recordLength, recordLength, d.buffer);
    } else {
        const std::size_t number = d.c.RecordCount();
        if (number >= 0xFFFFFFFFu) {
            throw Error("La tabla " + m_tableName + " no admite más registros");
        }
        const std::uint64_t at = d.c.headerLength + std::uint64_t{number} * recordLength;
        PutLe(stamp + 3, number + 1, 4);
        // The record goes in with its deletion flag last. Until that byte lands the previous
        // end-of-file marker stays at `at`, so readers that stop at the marker never meet a part
        // of a record; the header count, which other readers trust, is raised only after that.
        std::string tail = d.buffer.substr(1);
        tail += kEndOfFile;
        int err = d.c.endMarked ? 0 : WriteAt(fd, at, &kEndOfFile, 1);
        if (err == 0) {
            err = WriteAt(fd, at + 1, tail.data(), tail.size());
        }
        if (err == 0) {
            err = WriteAt(fd, at, d.buffer.data(), 1);
        }
        if (err == 0) {
            err = WriteAt(fd, 1, stamp, sizeof stamp);
        }
        if (err != 0) {
            // Hide whatever part of the record reached the file behind a fresh marker.
            d.c.endMarked = WriteAt(fd, at, &kEndOfFile, 1) == 0;
            throw failed(err);
        }
        d.c.endMarked = true;
        d.c.records += d.buffer;
        d.c.live.push_back(number);
        d.pos = d.c.live.size() - 1;
        d.bof = false;
    }
    d.state = State::Browse;
    d.buffer.clear();
    // A shared table is written only under the exclusive lock taken for this Post: its index is
    // brought up to date before others may open it again.
    if (changesIndex && !d.exclusive) {
        d.RebuildIndex();
    }
}

void Table::Cancel()
{
    Impl& d = *m_impl;
    if (d.state == State::Edit || d.state == State::Insert) {
        d.state = State::Browse;
        d.buffer.clear();
    }
}

void Table::Refresh()
{
    Impl& d = *m_impl;
    d.RequireBrowse();
    const std::size_t current =
        d.pos < d.c.live.size() ? d.c.live[d.pos] : std::numeric_limits<std::size_t>::max();
    d.c = ReadContents(d.file.fd(), m_tableName);
    // A stale index keeps the tags it had: Close still has to write it.
    if (!d.indexStale) {
        d.LoadIndex();
    }
    // The same record when it is still there, else the one that followed it.
    d.pos = static_cast<std::size_t>(std::lower_bound(d.c.live.begin(), d.c.live.end(), current) -
                                     d.c.live.begin());
    d.bof = d.bof && d.pos == 0;
}

std::filesystem::path Table::FilePath() const { return FindFile(m_directory, m_tableName + ".DBF"); }

std::filesystem::path Table::IndexPath() const { return FindFile(m_directory, m_tableName + ".MDX"); }

// ---- Field ----------------------------------------------------------------------------------

std::string Field::AsString() const
{
    const auto& d = *m_table->m_impl;
    return ReadString(d.Context(m_index), d.Raw(m_index));
}

std::int32_t Field::AsInteger() const
{
    const auto& d = *m_table->m_impl;
    const std::string text = NumberText(d.Context(m_index), d.Raw(m_index));
    if (text.empty()) {
        return 0;
    }
    const auto value = ParseDecimal(text);
    if (!value) {
        throw Error(Quoted(text) + " no es un valor entero válido");
    }
    const Decimal rounded = Round(*value, 0, true);
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    if (rounded.whole.size() <= 10) {
        std::from_chars(rounded.whole.data(), rounded.whole.data() + rounded.whole.size(), magnitude);
    }
    if (rounded.whole.size() > 10 || magnitude > kLimit || (magnitude == kLimit && !rounded.negative)) {
        throw Error(Quoted(text) + " no cabe en un entero (campo " + d.Context(m_index).Field() +
                    " de la tabla " + d.Name() + ")");
    }
    return static_cast<std::int32_t>(rounded.negative ? -magnitude : magnitude);
}

double Field::AsFloat() const
{
    const auto& d = *m_table->m_impl;
    const std::string text = NumberText(d.Context(m_index), d.Raw(m_index));
    if (text.empty()) {
        return 0;
    }
    const auto value = ParseDecimal(text);
    double result = 0;
    if (value) {
        const std::string plain = ShortestText(*value);
        const auto parsed = std::from_chars(plain.data(), plain.data() + plain.size(), result);
        if (parsed.ec == std::errc()) {
            return result;
        }
    }
    throw Error(Quoted(text) + " no es un valor de coma flotante válido");
}

bool Field::AsBoolean() const
{
    const auto& d = *m_table->m_impl;
    const FieldContext ctx = d.Context(m_index);
    const std::string_view raw = d.Raw(m_index);
    if (ctx.info.type == 'L') {
        return ReadString(ctx, raw) == "T";
    }
    if (ctx.info.type == 'C') {
        const std::string_view text = Trim(raw);
        return !text.empty() && std::string_view("TtYy").find(text[0]) != std::string_view::npos;
    }
    throw Error("El campo " + ctx.Field() + " de la tabla " + d.Name() + " no es lógico");
}

bool Field::IsNull() const
{
    const auto& d = *m_table->m_impl;
    return ReadIsNull(d.Context(m_index), d.Raw(m_index));
}

void Field::SetAsString(std::string_view ansi)
{
    auto& d = *m_table->m_impl;
    const FieldInfo& f = d.Info(m_index);
    switch (f.type) {
    case 'C':
        d.Store(m_index, ansi);
        return;
    case 'N':
    case 'F': {
        const std::string_view text = Trim(ansi);
        if (text.empty()) {
            d.Store(m_index, {});
            return;
        }
        const auto value = ParseDecimal(text);
        if (!value) {
            throw Error(Quoted(text) + " no es un valor numérico válido para el campo " +
                        cp1252::ToUtf8(f.name) + " de la tabla " + d.Name());
        }
        d.StoreNumber(m_index, *value);
        return;
    }
    case 'L': {
        const char value = ParseLogical(ansi);
        if (value == 0) {
            throw Error(Quoted(ansi) + " no es un valor lógico válido para el campo " +
                        cp1252::ToUtf8(f.name) + " de la tabla " + d.Name());
        }
        d.Store(m_index, std::string_view(&value, 1));
        return;
    }
    default:
        throw d.ReadOnlyType(m_index);
    }
}

void Field::SetAsInteger(std::int64_t value)
{
    auto& d = *m_table->m_impl;
    switch (d.Info(m_index).type) {
    case 'N':
    case 'F':
        d.StoreNumber(m_index, FromInteger(value));
        return;
    case 'C':
        d.StoreWhole(m_index, std::to_string(value));
        return;
    default:
        SetAsString(std::to_string(value));
    }
}

void Field::SetAsFloat(double value)
{
    auto& d = *m_table->m_impl;
    const auto decimal = FromDouble(value);
    const std::string text = decimal ? ShortestText(*decimal) : std::to_string(value);
    switch (d.Info(m_index).type) {
    case 'N':
    case 'F':
        if (!decimal) {
            throw Error(Quoted(text) + " no es un valor numérico válido para el campo " +
                        cp1252::ToUtf8(d.Info(m_index).name) + " de la tabla " + d.Name());
        }
        d.StoreNumber(m_index, *decimal);
        return;
    case 'C':
        d.StoreWhole(m_index, text);
        return;
    default:
        SetAsString(text);
    }
}

void Field::SetAsBoolean(bool value)
{
    auto& d = *m_table->m_impl;
    const char type = d.Info(m_index).type;
    if (type != 'L' && type != 'C') {
        throw Error("El campo " + cp1252::ToUtf8(d.Info(m_index).name) + " de la tabla " + d.Name() +
                    " no es lógico");
    }
    d.Store(m_index, value ? "T" : "F");
}

void Field::Clear()
{
    auto& d = *m_table->m_impl;
    if (std::string_view("CNFLD").find(d.Info(m_index).type) == std::string_view::npos) {
        throw d.ReadOnlyType(m_index);
    }
    d.Store(m_index, {});
}

const FieldInfo& Field::Info() const { return m_table->m_impl->Info(m_index); }

} // namespace zendral::dbf
