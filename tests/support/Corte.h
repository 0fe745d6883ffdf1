#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace zendral::test
{

// Makes the system layer's file-changing calls named in `llamadas` ("write", "pwrite", "rename",
// …; empty: all of them) fail with `err` while it lives, from the `desde`-th such call on
// (counting from 1), `veces` times (all of them when negative). Counts every file-changing call it
// saw.
class FalloInyectado
{
public:
    FalloInyectado(int err, std::vector<std::string> llamadas = {}, long desde = 1, long veces = -1);
    ~FalloInyectado();
    FalloInyectado(const FalloInyectado&) = delete;
    FalloInyectado& operator=(const FalloInyectado&) = delete;

    // From now on only the calls on this file count (the case of its name's letters aside): a
    // point named by what it changes, not by how many calls come before it, which differ between
    // systems.
    void SoloPara(const std::filesystem::path& archivo);

    long Vistas() const;
    long Fallidas() const;
};

// Lists the file names in `dir` that end in ".tmp" (temporary files left behind).
std::vector<std::string> Temporales(const std::string& dir);

} // namespace zendral::test
