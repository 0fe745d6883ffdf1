#include "DbfRead.h"

#include "ExternalTool.h"

#include <gtest/gtest.h>

namespace zendral::test
{
namespace
{

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
    const ToolOutput output =
        RunTool({ZENDRAL_PYTHON, ZENDRAL_SOURCE_DIR "/tests/support/dbfread_dump.py", table.string()});
    DbfReadTable result;
    for (const std::string_view line : output.lines) {
        if (line.starts_with("F ")) {
            result.fields.emplace_back(line.substr(2));
        } else if (line.starts_with("R ")) {
            result.records.push_back(Unescaped(line.substr(2)));
        }
    }
    if (!output.ok) {
        ADD_FAILURE() << "dbfread could not read " << table << ":\n" << output.Text();
    }
    return result;
}

} // namespace zendral::test
