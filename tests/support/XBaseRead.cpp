#include "tests/support/XBaseRead.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string_view>
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

} // namespace

XBaseRead XBaseReadIndex(const std::filesystem::path& table, const std::filesystem::path& index,
                         const std::string& tag, const std::vector<std::string>& keys)
{
    std::string command =
        ShellQuoted(ZENDRAL_PERL) + " " + ShellQuoted(ZENDRAL_SOURCE_DIR "/tests/support/xbase_dump.pl") +
        " " + ShellQuoted(table.string()) + " " + ShellQuoted(index.string()) + " " + ShellQuoted(tag);
    for (const std::string& key : keys) {
        command += " " + ShellQuoted(key);
    }
    command += " 2>&1";
    XBaseRead result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return result;
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);

    std::string other;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const std::string_view line(output.data() + start, end - start);
        start = end + 1;
        if (line.starts_with("R ")) {
            const std::size_t space = line.find(' ', 2);
            result.records.emplace_back(std::stoul(std::string(line.substr(2, space - 2))),
                                        std::string(line.substr(space + 1)));
        } else if (line.starts_with("S ")) {
            result.seeks.push_back(line == "S -" ? 0 : std::stoul(std::string(line.substr(2))));
        } else {
            other.append(line).append("\n");
        }
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "XBase could not read " << table << " by " << index << ":\n" << other;
    }
    return result;
}

} // namespace zendral::test
