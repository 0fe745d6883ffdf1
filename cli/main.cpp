#include "Cli.h"
#include "Error.h"
#include "System.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    zendral::sys::Utf8Console();
    const std::vector<std::string> args = zendral::sys::Arguments(argc, argv);
    try {
        return zendral::cli::RunCli(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << zendral::ExceptionMessage(e) << "\n";
        return 1;
    }
}
