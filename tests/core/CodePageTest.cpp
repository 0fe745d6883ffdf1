#include "CodePage.h"

#include <gtest/gtest.h>
#include <string>

namespace zendral::cp1252
{
namespace
{

TEST(CodePageTest, FromUtf8)
{
    const struct
    {
        const char* label;
        std::string utf8;
        std::string ansi;
    } cases[] = {
        {"ascii", "CODI 12-b", "CODI 12-b"},
        {"accents", "Àvila ñandú Çç ü",
         "\xC0vila \xF1"
         "and\xFA \xC7\xE7 \xFC"},
        {"latin-1 signs", "\xC2\xA0¿¡ºª·", "\xA0\xBF\xA1\xBA\xAA\xB7"},
        {"0x80-0x9F", "€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ",
         "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E"
         "\x91\x92\x93\x94\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F"},
        // ToUtf8 gives these five for the undefined bytes, but windows-1252 has no character for
        // them (iconv refuses them): one "?" each, never the raw byte.
        {"undefined bytes as C1", "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D", "?????"},
        {"C1 without a byte", "\xC2\x80\xC2\x85", "??"},
        {"unmappable", "Łódź",
         "?\xF3"
         "d?"},
        {"emoji", "a😀b", "a?b"},
        {"cjk", "中文", "??"},
        {"truncated", "a\xC3", "a?"},
        {"bad continuation", "\xC3(", "?("},
        {"lone continuation", "\x80\xBF", "??"},
        {"overlong", "\xC0\xAF", "??"},
        {"surrogate", "\xED\xA0\x80", "???"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", "????"},
        {"invalid lead", "\xFF\xFE", "??"},
        {"embedded nul", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(FromUtf8(c.utf8), c.ansi);
    }
}

TEST(CodePageTest, ToUtf8)
{
    EXPECT_EQ(ToUtf8("\xC0vila \x80 \x93x\x94 \x8A\x9F"), "Àvila € “x” ŠŸ");
    EXPECT_EQ(ToUtf8("\x81\x9D"), "\xC2\x81\xC2\x9D");
    EXPECT_EQ(ToUtf8("\xA0\xFF"), "\xC2\xA0ÿ");
}

// Every defined byte comes back from its UTF-8 form; the five undefined ones come back as "?".
TEST(CodePageTest, EveryByteRoundTrips)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const std::string ansi(1, static_cast<char>(b));
        const std::string utf8 = ToUtf8(ansi);
        EXPECT_EQ(utf8.size(), b < 0x80 ? 1u : (b >= 0x80 && b < 0xA0 && utf8[0] == '\xE2') ? 3u : 2u);
        const bool undefined = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        EXPECT_EQ(FromUtf8(utf8), undefined ? "?" : ansi);
        EXPECT_EQ(FromUtf8ForTable(utf8), undefined || b < 0x20 || b == 0x7F ? "?" : ansi);
    }
}

// Text for a table: what FromUtf8 gives, and every control character as one "?" too.
TEST(CodePageTest, FromUtf8ForTable)
{
    const struct
    {
        const char* label;
        std::string utf8;
        std::string ansi;
    } cases[] = {
        {"plain", "Àvila € “x”", "\xC0vila \x80 \x93x\x94"},
        {"line breaks and tab", "a\nb\r\nc\td", "a?b??c?d"},
        {"other C0 controls and DEL", std::string("\0\x01\x1B\x1F\x7F", 5), "?????"},
        {"C1 controls", "\xC2\x80\xC2\x85\xC2\x9F", "???"},
        {"undefined code points", "x\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9Dy", "x?????y"},
        {"one per code point", "a😀\n", "a??"},
        {"malformed", "a\xC3", "a?"},
        {"blank and no-break space stay", " \xC2\xA0 ", " \xA0 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(FromUtf8ForTable(c.utf8), c.ansi);
    }
    // FromUtf8 keeps the C0 controls, which windows-1252 has (as iconv does).
    EXPECT_EQ(FromUtf8("a\nb\tc\x7F"), "a\nb\tc\x7F");
}

TEST(CodePageTest, UpperAndEqualsNoCase)
{
    const struct
    {
        const char* label;
        unsigned char lower;
        unsigned char upper;
    } pairs[] = {
        {"a", 'a', 'A'},   {"z", 'z', 'Z'},   {"é", 0xE9, 0xC9}, {"ñ", 0xF1, 0xD1},
        {"ç", 0xE7, 0xC7}, {"à", 0xE0, 0xC0}, {"þ", 0xFE, 0xDE}, {"š", 0x9A, 0x8A},
        {"ÿ", 0xFF, 0x9F}, {"œ", 0x9C, 0x8C}, {"ž", 0x9E, 0x8E},
    };
    for (const auto& p : pairs) {
        SCOPED_TRACE(p.label);
        EXPECT_EQ(Upper(p.lower), p.upper);
        EXPECT_EQ(Upper(p.upper), p.upper);
        const std::string lower(1, static_cast<char>(p.lower));
        const std::string upper(1, static_cast<char>(p.upper));
        EXPECT_TRUE(EqualsNoCase("x" + lower, "X" + upper));
        EXPECT_TRUE(EqualsNoCase(upper, lower));
    }
    const struct
    {
        const char* label;
        unsigned char c;
    } unchanged[] = {
        {"ß", 0xDF}, {"×", 0xD7}, {"÷", 0xF7}, {"µ", 0xB5}, {"€", 0x80}, {"ª", 0xAA}, {"@", '@'}, {"[", '['},
    };
    for (const auto& u : unchanged) {
        SCOPED_TRACE(u.label);
        EXPECT_EQ(Upper(u.c), u.c);
    }
    EXPECT_EQ(Upper("cami\xF1o \xE0 \xDF"), "CAMI\xD1O \xC0 \xDF");
    EXPECT_FALSE(EqualsNoCase("\xD7", "\xF7"));
    EXPECT_FALSE(EqualsNoCase("\xDF", "SS"));
    EXPECT_FALSE(EqualsNoCase("ab", "abc"));
    EXPECT_FALSE(EqualsNoCase("\xB5", "\x9C"));
}

TEST(CodePageTest, Trim)
{
    const struct
    {
        std::string in;
        std::string out;
    } cases[] = {
        {"  abc  ", "abc"},
        {"\x01\t\n abc \r\x1F", "abc"},
        {std::string("\0x\0", 3), "x"},
        {" a b ", "a b"},
        {"\xA0"
         "abc\xA0",
         "\xA0"
         "abc\xA0"},
        {" \x7F ", "\x7F"},
        {" \t\r\n", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(Trim(c.in), c.out);
    }
    EXPECT_EQ(TrimRightBlanks(" a\t  "), " a\t");
}

TEST(CodePageTest, LeftAndRight)
{
    const struct
    {
        std::string text;
        std::size_t n;
        std::string left;
        std::string right;
    } cases[] = {
        {"abcdef", 2, "ab", "ef"}, {"abc", 3, "abc", "abc"}, {"abc", 5, "abc", "abc"},
        {"abc", 0, "", ""},        {"", 4, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + "/" + std::to_string(c.n));
        EXPECT_EQ(Left(c.text, c.n), c.left);
        EXPECT_EQ(Right(c.text, c.n), c.right);
    }
}

} // namespace
} // namespace zendral::cp1252
