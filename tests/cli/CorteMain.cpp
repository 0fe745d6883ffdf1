// zendral-cli with a kill point, for the crash tests: "zendral_corte N ARGS…" runs zendral-cli
// ARGS and ends the process at once, as a crash or a power cut would (no destructors, nothing
// flushed), just before its N-th call that changes a file. With N = 0 it runs to the end and
// prints "llamadas=K" on standard error, K being how many such calls the run made.
#include "Cli.h"
#include "System.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace
{

long g_corte = 0;
long g_llamadas = 0;

int Contar(const char* llamada, const std::filesystem::path& /*archivo*/)
{
    if (++g_llamadas == g_corte) {
        std::fprintf(stderr, "corte antes de %s (%ld)\n", llamada, g_llamadas);
        std::fflush(stderr);
        std::_Exit(86);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = zendral::sys::Arguments(argc, argv);
    if (args.empty()) {
        std::cerr << "Uso: zendral_corte N ARGUMENTOS…\n";
        return 2;
    }
    g_corte = std::atol(args.front().c_str());
    args.erase(args.begin());
    zendral::sys::SetFaultHook(&Contar);
    const int codigo = zendral::cli::RunCli(args, std::cout, std::cerr);
    std::cerr << "llamadas=" << g_llamadas << "\n";
    return codigo;
}
