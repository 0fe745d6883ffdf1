#pragma once

#include <filesystem>
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
// The programs are Linux ones (the independent readers); a Windows test under Wine starts them
// through Wine, with Windows paths among the arguments turned into their Linux names.
ToolOutput RunTool(const std::vector<std::string>& arguments);

// A helper process: this test program started again as `<program> --helper NAME ARGUMENTS…`,
// which runs the function registered under NAME instead of the tests. It stands in for fork(),
// which Windows lacks, so tests that kill a writer or hold a lock from outside run on both
// systems alike.
using HelperFunction = int (*)(const std::vector<std::string>& arguments);

// Registers a helper; returns true so that a namespace-scope constant can do it at start-up.
bool RegisterHelper(const char* name, HelperFunction function);

// The test program's main calls this first: when the command line names a helper, it runs it
// and returns true with its exit code in `code`.
bool RunHelperIfAsked(int argc, char** argv, int& code);

// A UTF-8 argument as a path, on both systems.
std::filesystem::path PathArgument(const std::string& argument);
std::string ArgumentOf(const std::filesystem::path& path);

class HelperProcess
{
public:
    // Starts the helper; fails the current test when it cannot.
    HelperProcess(const std::string& name, const std::vector<std::string>& arguments);
    // Kills the helper if it still runs.
    ~HelperProcess();
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Kills it at once, as a crash would: no destructor, no buffer flushed, no file closed.
    void Kill();
    // Waits for it to end. Returns its exit code, or -1 when Kill ended it.
    int Wait();

private:
#ifdef _WIN32
    void* m_process = nullptr;
#else
    int m_pid = -1;
#endif
    bool m_ended = false;
    int m_status = 0;
};

// Waits until `file` exists and holds at least one byte (a helper's way of saying it is ready),
// at most `seconds`. Returns its contents, or nothing on time-out.
std::string WaitForFile(const std::filesystem::path& file, int seconds = 20);

} // namespace zendral::test
