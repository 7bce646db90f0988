#include "cmdline/run_header.h"

#include <chrono>
#include <cstdio>

#include "cmdline/options.h"
#include "platform/platform.h"

namespace lnk {

std::string run_time_text(uint64_t unix_seconds) {
  using namespace std::chrono;
  const sys_seconds instant{seconds{static_cast<int64_t>(unix_seconds)}};
  const sys_days day = floor<days>(instant);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{instant - day};
  char text[40];
  std::snprintf(text, sizeof text, "%02u/%02u/%04d %02d:%02d:%02d", static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), static_cast<int>(date.year()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::string header_command_line(const std::vector<std::string>& args) {
  std::string text = "\"";
  if (has_argument("-pipe", args)) text += "<filelist> ... | ";
  text += join_arguments(args, '\'');
  text += "\"";
  return text;
}

std::string build_run_header(const std::vector<std::string>& args, const std::string& version_text) {
  uint64_t seconds = 0;
  uint32_t milliseconds = 0;
  platform::clock_now(seconds, milliseconds);
  std::string header = "rook " + version_text + "\n";
  header += "run time:  " + run_time_text(seconds) + " [UTC]\n";
  header += "run host:  " + platform::host_description() + "\n";
  header += "command:   " + header_command_line(args) + "\n";
  return header;
}

}  // namespace lnk
