#include "XBaseRead.h"

#include "ExternalTool.h"

#include <gtest/gtest.h>
#include <string_view>

namespace zendral::test
{

XBaseRead XBaseReadIndex(const std::filesystem::path& table, const std::filesystem::path& index,
                         const std::string& tag, const std::vector<std::string>& keys)
{
    std::vector<std::string> arguments{ZENDRAL_PERL, ZENDRAL_SOURCE_DIR "/tests/support/xbase_dump.pl",
                                       table.string(), index.string(), tag};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    const ToolOutput output = RunTool(arguments);
    XBaseRead result;
    for (const std::string_view line : output.lines) {
        if (line.starts_with("R ")) {
            const std::size_t space = line.find(' ', 2);
            result.records.emplace_back(std::stoul(std::string(line.substr(2, space - 2))),
                                        std::string(line.substr(space + 1)));
        } else if (line.starts_with("S ")) {
            result.seeks.push_back(line == "S -" ? 0 : std::stoul(std::string(line.substr(2))));
        }
    }
    if (!output.ok) {
        ADD_FAILURE() << "XBase could not read " << table << " by " << index << ":\n" << output.Text();
    }
    return result;
}

} // namespace zendral::test
