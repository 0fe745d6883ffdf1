#include "ExternalTool.h"

#include <cstdio>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace zendral::test
{
namespace
{

std::string ShellQuoted(const std::string& s)
{
#ifdef _WIN32
    // cmd.exe: double quotes (paths hold no quotes of their own).
    return "\"" + s + "\"";
#else
    std::string out = "'";
    for (const char ch : s) {
        out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return out + "'";
#endif
}

} // namespace

std::string ToolOutput::Text() const
{
    std::string text;
    for (const std::string& line : lines) {
        text.append(line).append("\n");
    }
    return text;
}

ToolOutput RunTool(const std::vector<std::string>& arguments)
{
    std::string command;
    for (const std::string& argument : arguments) {
        command += ShellQuoted(argument) + " ";
    }
    command += "2>&1";
#ifdef _WIN32
    // cmd.exe /c drops the first and the last quote of a line that starts with one.
    command = "\"" + command + "\"";
#endif
    ToolOutput result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        result.lines.push_back("cannot run " + command);
        return result;
    }
    std::string output;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
#ifdef _WIN32
    result.ok = status == 0;
#else
    result.ok = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        result.lines.emplace_back(output, start, end - start);
        start = end + 1;
    }
    return result;
}

} // namespace zendral::test
