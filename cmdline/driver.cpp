#include "cmdline/driver.h"

namespace lnk {

int run_rook(std::vector<std::string>) { return -1; }

}  // namespace lnk
