#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zendral::test
{

// What an independent reader printed, standard error included, and whether it exited with 0.
struct ToolOutput
{
    std::vector<std::string> lines;
    bool ok = false;
    // The whole output, for a failure message.
    std::string Text() const;
};

// Runs `arguments` (the program first) without a shell's word splitting and collects its output.
ToolOutput RunTool(const std::vector<std::string>& arguments);

} // namespace zendral::test
