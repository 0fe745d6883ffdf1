// Runs a fuzz target over files without libFuzzer: every file named on the command line, and
// every file inside each directory named there, once each, in name order. An exception that
// escapes the target is a failure; the program names the file and exits with 1.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace
{

namespace fs = std::filesystem;

bool Replay(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot be read\n", file.c_str());
        return false;
    }
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    try {
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: unexpected exception: %s\n", file.c_str(), e.what());
        return false;
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected exception\n", file.c_str());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            std::vector<fs::path> inside;
            for (const auto& entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) {
                    inside.push_back(entry.path());
                }
            }
            std::sort(inside.begin(), inside.end());
            files.insert(files.end(), inside.begin(), inside.end());
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argc > 0 ? argv[0] : "replay");
        return 2;
    }
    int failed = 0;
    for (const auto& file : files) {
        if (!Replay(file)) {
            ++failed;
        }
    }
    std::printf("%zu inputs replayed, %d failed\n", files.size(), failed);
    return failed == 0 ? 0 : 1;
}
