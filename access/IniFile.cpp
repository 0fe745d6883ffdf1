#include "IniFile.h"

#include "AtomicFile.h"
#include "BoundedRead.h"
#include "CodePage.h"
#include "Error.h"
#include "System.h"

#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

namespace zendral::ini
{
namespace
{

// One line of the file: its text and the line break that follows it ("" on a last line without).
struct Line
{
    std::string_view text;
    std::string_view end;
};

std::vector<Line> Split(std::string_view contents)
{
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < contents.size()) {
        const std::size_t newline = contents.find('\n', start);
        if (newline == std::string_view::npos) {
            lines.push_back({contents.substr(start), {}});
            break;
        }
        const bool cr = newline > start && contents[newline - 1] == '\r';
        const std::size_t textEnd = cr ? newline - 1 : newline;
        lines.push_back(
            {contents.substr(start, textEnd - start), contents.substr(textEnd, newline + 1 - textEnd)});
        start = newline + 1;
    }
    return lines;
}

std::string_view Trim(std::string_view s)
{
    // Only blanks and tabs: a line's other control characters belong to its text.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> Section(std::string_view line)
{
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[') {
        return std::nullopt;
    }
    const std::size_t closing = line.find(']');
    if (closing == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, closing - 1));
}

// Where the key name of a "key=value" line ends (the '='), or npos for comments and other lines.
std::size_t Equal(std::string_view line)
{
    const std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';') {
        return std::string_view::npos;
    }
    return line.find('=');
}

} // namespace

namespace
{

// Lines [from, to) as they stood, each with its own break.
void AppendLines(std::string& out, const std::vector<Line>& lines, std::size_t from, std::size_t to)
{
    for (std::size_t j = from; j < to; ++j) {
        out += lines[j].text;
        out += lines[j].end;
    }
}

// The line break the file uses: that of its first line that has one, else CR LF.
std::string_view CommonEnd(const std::vector<Line>& lines)
{
    for (const auto& l : lines) {
        if (!l.end.empty()) {
            return l.end;
        }
    }
    return "\r\n";
}

// The line of `key` among lines (header, end) of a section, or npos.
std::size_t FindKey(const std::vector<Line>& lines, std::size_t header, std::size_t end, std::string_view key)
{
    for (std::size_t k = header + 1; k < end; ++k) {
        const std::size_t equal = Equal(lines[k].text);
        if (equal != std::string_view::npos &&
            cp1252::EqualsNoCase(Trim(lines[k].text.substr(0, equal)), key)) {
            return k;
        }
    }
    return std::string_view::npos;
}

} // namespace

std::string SetValue(std::string_view contents, std::string_view section, std::string_view key,
                     std::string_view value)
{
    // A UTF-8 byte order mark is kept in front and takes no part in the first line.
    std::string_view bom;
    if (contents.substr(0, 3) == "\xEF\xBB\xBF") {
        bom = contents.substr(0, 3);
        contents.remove_prefix(3);
    }
    const std::vector<Line> lines = Split(contents);
    const std::string_view lineEnd = CommonEnd(lines);
    const std::string entry = std::string(key) + "=" + std::string(value);
    std::string out(bom);

    std::size_t header = 0;
    while (header < lines.size()) {
        const auto name = Section(lines[header].text);
        if (name && cp1252::EqualsNoCase(*name, section)) {
            break;
        }
        ++header;
    }
    AppendLines(out, lines, 0, header);
    if (header == lines.size()) {
        // No such section: it is added at the end, after a break the last line may lack.
        if (out.size() > bom.size() && out.back() != '\n') {
            out += lineEnd;
        }
        out += "[" + std::string(section) + "]";
        out += lineEnd;
        out += entry;
        out += lineEnd;
        return out;
    }

    // The section runs from its header to the next header or the end of the file.
    std::size_t end = header + 1;
    while (end < lines.size() && !Section(lines[end].text)) {
        ++end;
    }
    if (const std::size_t k = FindKey(lines, header, end, key); k != std::string_view::npos) {
        // The key's value is replaced; its name, spacing and break stay as they were.
        AppendLines(out, lines, header, k);
        out += lines[k].text.substr(0, Equal(lines[k].text) + 1);
        out += value;
        out += lines[k].end;
        AppendLines(out, lines, k + 1, lines.size());
        return out;
    }

    // A new key goes after the section's last line that is not blank; a line that had no break
    // gets one, since something now follows it.
    std::size_t last = header;
    for (std::size_t k = header + 1; k < end; ++k) {
        if (!Trim(lines[k].text).empty()) {
            last = k;
        }
    }
    const std::string_view lastEnd = lines[last].end.empty() ? lineEnd : lines[last].end;
    AppendLines(out, lines, header, last);
    out += lines[last].text;
    out += lastEnd;
    out += entry;
    out += lastEnd;
    AppendLines(out, lines, last + 1, lines.size());
    return out;
}

namespace
{

// Sets the key in `file` from its own contents (none when it is missing).
void WriteKey(const std::filesystem::path& file, std::string_view section, std::string_view key,
              std::string_view value)
{
    std::error_code ec;
    const bool present = std::filesystem::exists(file, ec);
    // Velorin.ini takes a few hundred bytes: a file that is not a regular one, or one of more
    // than 16 MB, is refused rather than read without end.
    const std::string before = present ? ReadBoundedFile(file, 16 * kMegabyte, file.string()) : std::string();
    WriteFileAtomically(file, SetValue(before, section, key, value));
}

// 0 when this program may write `file`, or the errno of the refusal: an open of the file for
// writing or, when it is missing, its creation, undone at once. What Windows tries before it
// sends a legacy program to its own copy.
int Refusal(const std::filesystem::path& file)
{
    std::error_code ec;
    const bool present = std::filesystem::exists(file, ec);
    const int fd = sys::Open(file, sys::OpenMode::ReadWriteCreate);
    if (fd < 0) {
        return errno;
    }
    sys::Close(fd);
    if (!present) {
        sys::Remove(file);
    }
    return 0;
}

void CreateFolders(const std::filesystem::path& folder)
{
    std::error_code ec;
    if (folder.empty() || folder == folder.parent_path() || std::filesystem::is_directory(folder, ec)) {
        return;
    }
    CreateFolders(folder.parent_path());
    if (sys::MakeDirectory(folder) != 0) {
        throw Error("No se puede crear la carpeta " + folder.string() + ": " + SystemReason(errno));
    }
}

} // namespace

void WriteString(const std::filesystem::path& file, const std::filesystem::path& copy,
                 std::string_view section, std::string_view key, std::string_view value)
{
    if (copy.empty()) {
        WriteKey(file, section, key, value);
        return;
    }
    std::error_code ec;
    const bool hasCopy = std::filesystem::exists(copy, ec);
    const int refusal = Refusal(file);
    if (refusal == EACCES || refusal == EPERM) {
        try {
            if (hasCopy) {
                WriteKey(copy, section, key, value);
            } else {
                std::string before;
                if (std::filesystem::exists(file, ec)) {
                    before = ReadBoundedFile(file, 16 * kMegabyte, file.string());
                }
                CreateFolders(copy.parent_path());
                WriteFileAtomically(copy, SetValue(before, section, key, value));
            }
        } catch (const Error& e) {
            throw Error("No se puede escribir el archivo " + file.string() + ": " + SystemReason(refusal) +
                        ". Tampoco su copia del almacén virtual de Windows: " + e.what());
        }
        return;
    }
    if (hasCopy) {
        WriteKey(copy, section, key, value);
    }
    WriteKey(file, section, key, value);
}

void WriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::string_view value)
{
    WriteString(file, sys::VirtualStoreCopy(file), section, key, value);
}

void WriteInteger(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  long long value)
{
    WriteString(file, section, key, std::to_string(value));
}

} // namespace zendral::ini
