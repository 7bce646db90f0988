#include <string>
#include <vector>

#include "cmdline/driver.h"

#ifdef _WIN32
#include "platform/platform.h"

// Built with -municode: Windows hands the arguments over as UTF-16, and they
// become UTF-8 here, once, for the rest of the program.
int wmain(int argc, wchar_t** argv) {
  lnk::platform::prepare_console_output();
  lnk::platform::keep_freed_memory();
  std::vector<std::string> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(lnk::platform::wide_to_utf8(argv[i]));
  return lnk::run_rook(std::move(args));
}
#else
#include "platform/platform.h"

int main(int argc, char** argv) {
  lnk::platform::guard_standard_streams();
  lnk::platform::keep_freed_memory();
  // POSIX hands the arguments over as bytes already in UTF-8.
  std::vector<std::string> args(argv, argv + argc);
  return lnk::run_rook(std::move(args));
}
#endif
