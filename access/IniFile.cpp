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
    std::string_view commonEnd = "\r\n";
    for (const auto& l : lines) {
        if (!l.end.empty()) {
            commonEnd = l.end;
            break;
        }
    }
    const std::string fresh = std::string(key) + "=" + std::string(value);

    std::string out(bom);
    const auto mustCopy = [&](const Line& l) {
        out += l.text;
        out += l.end;
    };
    // A line that had no break gets one when something follows it.
    const auto copyFollows = [&](const Line& l) {
        out += l.text;
        out += l.end.empty() ? commonEnd : l.end;
    };

    std::size_t i = 0;
    for (; i < lines.size(); ++i) {
        const auto name = Section(lines[i].text);
        if (name && cp1252::EqualsNoCase(*name, section)) {
            break;
        }
        mustCopy(lines[i]);
    }
    if (i == lines.size()) {
        if (out.size() > bom.size() && out.back() != '\n') {
            out += commonEnd;
        }
        out += "[" + std::string(section) + "]";
        out += commonEnd;
        out += fresh;
        out += commonEnd;
        return out;
    }

    // The section runs from its header to the next header or the end of the file.
    const std::size_t header = i;
    std::size_t end = header + 1;
    while (end < lines.size() && !Section(lines[end].text)) {
        ++end;
    }
    for (std::size_t k = header + 1; k < end; ++k) {
        const std::size_t equal = Equal(lines[k].text);
        if (equal == std::string_view::npos) {
            continue;
        }
        if (cp1252::EqualsNoCase(Trim(lines[k].text.substr(0, equal)), key)) {
            for (std::size_t j = header; j < k; ++j) {
                mustCopy(lines[j]);
            }
            out += lines[k].text.substr(0, equal + 1);
            out += value;
            out += lines[k].end;
            for (std::size_t j = k + 1; j < lines.size(); ++j) {
                mustCopy(lines[j]);
            }
            return out;
        }
    }

    std::size_t last = header;
    for (std::size_t k = header + 1; k < end; ++k) {
        if (!Trim(lines[k].text).empty()) {
            last = k;
        }
    }
    for (std::size_t j = header; j < last; ++j) {
        mustCopy(lines[j]);
    }
    copyFollows(lines[last]);
    out += fresh;
    out += lines[last].end.empty() ? commonEnd : lines[last].end;
    for (std::size_t j = last + 1; j < lines.size(); ++j) {
        mustCopy(lines[j]);
    }
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
