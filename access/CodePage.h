#pragma once

#include <string>
#include <string_view>

// Table texts are windows-1252 bytes held in std::string. Text only becomes UTF-8 again where it
// leaves for XML, the terminal or the screen.
namespace zendral::cp1252
{

// Converts UTF-8 to windows-1252, as iconv does, but never failing: a code point that
// windows-1252 lacks becomes one '?', the C1 controls U+0080-U+009F included (U+0081, U+008D,
// U+008F, U+0090 and U+009D too, though ToUtf8 gives them for the five undefined bytes); so does
// each byte of a malformed UTF-8 sequence.
std::string FromUtf8(std::string_view utf8);

// The same for text that goes into a table, where every byte must be a character that any
// windows-1252 reader decodes and that a text field can carry: every control character as well
// (U+0000-U+001F, such as tab, line feed and carriage return, and U+007F) becomes one '?'.
std::string FromUtf8ForTable(std::string_view utf8);

// Decodes the UTF-8 sequence at s[i] into `cp`; returns its length, or 0 when it is malformed,
// overlong, a surrogate or past U+10FFFF.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp);

// Converts windows-1252 to UTF-8. The five bytes that windows-1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, so every byte round-trips.
std::string ToUtf8(std::string_view ansi);

// Upper-case form of a windows-1252 character: ASCII letters, accented Latin-1 letters, and
// Š, Œ, Ž, Ÿ. Characters without an upper-case partner come back unchanged.
unsigned char Upper(unsigned char c);
std::string Upper(std::string_view ansi);
bool EqualsNoCase(std::string_view a, std::string_view b);

// Removes leading and trailing characters up to and including the blank (bytes 0x00-0x20).
std::string_view Trim(std::string_view s);
// Removes trailing blanks only, as a table gives a text field back.
std::string_view TrimRightBlanks(std::string_view s);

// First or last n characters; a shorter text gives all of it.
std::string_view Left(std::string_view s, std::size_t n);
std::string_view Right(std::string_view s, std::size_t n);

} // namespace zendral::cp1252
