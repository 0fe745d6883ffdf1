#pragma once

#include "Cli.h"

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

// zendral-cli run in this process: its exit code and what it wrote to each stream.
namespace zendral::test
{

inline const std::filesystem::path kSamples = std::filesystem::path(ZENDRAL_SOURCE_DIR) / "samples";

struct Salida
{
    int codigo;
    std::string out;
    std::string err;
};

inline Salida Ejecutar(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    const int codigo = cli::RunCli(args, out, err);
    return {codigo, out.str(), err.str()};
}

} // namespace zendral::test
