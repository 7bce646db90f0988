#include <string>
#include <vector>

#include "cmdline/driver.h"

int main(int argc, char** argv) {
  // POSIX hands the arguments over as bytes already in UTF-8.
  std::vector<std::string> args(argv, argv + argc);
  return lnk::run_rook(std::move(args));
}
