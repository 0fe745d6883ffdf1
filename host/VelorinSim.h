#pragma once

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace zendral::host
{

// The velorin-sim program without its main: `args` leaves out the program name. Returns the exit
// code: 0 done, 1 failed (the reason on `err`), 2 usage error (the usage on `err`). `workDir` is
// the directory used when --dir is not given.
int EjecutarVelorinSim(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                       const std::filesystem::path& workDir);

} // namespace zendral::host
