#include "System.h"
#include "VelorinSim.h"
#include "WorkDir.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    zendral::sys::Utf8Console();
    const std::vector<std::string> args = zendral::sys::Arguments(argc, argv);
    try {
        return zendral::host::EjecutarVelorinSim(args, std::cout, std::cerr, zendral::WorkingDirectory());
    } catch (const std::exception& e) {
        std::cerr << "Error inesperado: " << e.what() << "\n";
        return 1;
    }
}
