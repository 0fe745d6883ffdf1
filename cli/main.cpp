#include "Cli.h"
#include "Error.h"
#include "Sistema.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    zendral::sistema::ConsolaUtf8();
    const std::vector<std::string> args = zendral::sistema::Argumentos(argc, argv);
    try {
        return zendral::cli::RunCli(args, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << zendral::MensajeDeExcepcion(e) << "\n";
        return 1;
    }
}
