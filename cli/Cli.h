#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zendral::cli
{

// zendral-cli without the process around it: `args` excludes the program name. Returns the exit
// code: 0 success, 1 failure (message on `err`), 2 usage error, 3 warnings under --estricto.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace zendral::cli
