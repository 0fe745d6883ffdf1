#include "CodePage.h"

#include <array>
#include <cstdint>

namespace zendral::cp1252
{
namespace
{

// Code points of bytes 0x80-0x9F; the rest of windows-1252 equals Latin-1. The undefined bytes
// keep their C1 value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The byte of a code point, or -1 when windows-1252 has none: the C1 controls have none, the
// five that stand for the undefined bytes in ToUtf8 included (as iconv has it).
int ByteFor(char32_t cp)
{
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        return static_cast<int>(cp);
    }
    if (cp < 0x100) {
        return -1;
    }
    for (std::size_t i = 0; i < kHigh.size(); ++i) {
        if (kHigh[i] == cp) {
            return static_cast<int>(0x80 + i);
        }
    }
    return -1;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

namespace
{

bool IsControl(char32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

std::string Convert(std::string_view utf8, bool forTable)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(utf8, i, cp);
        if (len == 0) {
            out += '?';
            ++i;
            continue;
        }
        const int b = forTable && IsControl(cp) ? -1 : ByteFor(cp);
        out += b < 0 ? '?' : static_cast<char>(b);
        i += len;
    }
    return out;
}

} // namespace

std::string FromUtf8(std::string_view utf8) { return Convert(utf8, false); }

std::string FromUtf8ForTable(std::string_view utf8) { return Convert(utf8, true); }

std::string ToUtf8(std::string_view ansi)
{
    std::string out;
    out.reserve(ansi.size() + ansi.size() / 4);
    for (const char ch : ansi) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out += ch;
        } else if (b < 0xA0) {
            AppendUtf8(out, kHigh[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

unsigned char Upper(unsigned char c)
{
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned char>(c - 32);
    }
    // à-þ except ÷ pair with À-Þ except ×; ß has no upper-case form in this code page.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
        return static_cast<unsigned char>(c - 32);
    }
    switch (c) {
    case 0x9A: // š
    case 0x9C: // œ
    case 0x9E: // ž
        return static_cast<unsigned char>(c - 0x10);
    case 0xFF: // ÿ
        return 0x9F;
    default:
        return c;
    }
}

std::string Upper(std::string_view ansi)
{
    std::string out(ansi);
    for (char& ch : out) {
        ch = static_cast<char>(Upper(static_cast<unsigned char>(ch)));
    }
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Upper(static_cast<unsigned char>(a[i])) != Upper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view s)
{
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && static_cast<unsigned char>(s[begin]) <= ' ') {
        ++begin;
    }
    while (end > begin && static_cast<unsigned char>(s[end - 1]) <= ' ') {
        --end;
    }
    return s.substr(begin, end - begin);
}

std::string_view TrimRightBlanks(std::string_view s)
{
    std::size_t end = s.size();
    while (end > 0 && s[end - 1] == ' ') {
        --end;
    }
    return s.substr(0, end);
}

std::string_view Left(std::string_view s, std::size_t n) { return s.substr(0, n); }

std::string_view Right(std::string_view s, std::size_t n)
{
    return n >= s.size() ? s : s.substr(s.size() - n);
}

} // namespace zendral::cp1252
