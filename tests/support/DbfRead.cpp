#include "tests/support/DbfRead.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace zendral::test
{
namespace
{

std::string ShellQuoted(const std::string& s)
{
    std::string out = "'";
    for (const char ch : s) {
        out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return out + "'";
}

// Undoes the script's escapes of backslash and line feed.
std::string Unescaped(std::string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i] == 'n' ? '\n' : s[i];
        } else {
            out += s[i];
        }
    }
    return out;
}

} // namespace

DbfReadTable DbfRead(const std::filesystem::path& table)
{
    const std::string command = ShellQuoted(ZENDRAL_PYTHON) + " " +
                                ShellQuoted(ZENDRAL_SOURCE_DIR "/tests/support/dbfread_dump.py") + " " +
                                ShellQuoted(table.string()) + " 2>&1";
    DbfReadTable result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return result;
    }
    std::string output;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);

    std::string other;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string_view line(output.data() + start, end - start);
        if (line.starts_with("F ")) {
            result.fields.emplace_back(line.substr(2));
        } else if (line.starts_with("R ")) {
            result.records.push_back(Unescaped(line.substr(2)));
        } else {
            other.append(line).append("\n");
        }
        start = end + 1;
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "dbfread could not read " << table << ":\n" << other;
    }
    return result;
}

} // namespace zendral::test
