// The block of lines written at the top of every run's output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lnk {

// Title, run time, host and the command line, each ending in a newline.
std::string build_run_header(const std::vector<std::string>& args, const std::string& version_text);

// "mm/dd/yyyy hh:mm:ss" of a Unix second count, UTC.
std::string run_time_text(uint64_t unix_seconds);

// The arguments joined by blanks, single-quoted where they hold a blank,
// double-quoted as a whole; a -pipe run shows where its names came from.
std::string header_command_line(const std::vector<std::string>& args);

}  // namespace lnk
