// The program's entry point: options, one mode, exit status.
#pragma once

#include <string>
#include <vector>

namespace lnk {

// args[0] is the program path; returns 0 or -1.
int run_rook(std::vector<std::string> args);

}  // namespace lnk
