#include "carve/status_line.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace lnk {

namespace {
constexpr int kFormatLimit = 255;
constexpr int kWidthLimit = 256;
}  // namespace

void status_line(int width, const char* format, ...) {
  char formatted[kFormatLimit + 1];
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(formatted, sizeof formatted, format, args);
  va_end(args);
  if (written < 0) formatted[0] = '\0';

  size_t keep = static_cast<size_t>(std::clamp(width, 0, kWidthLimit));
  std::string line(formatted);
  if (line.size() > keep) line.resize(keep);
  line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
  line.append(keep - line.size(), ' ');
  line.push_back('\r');
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

}  // namespace lnk
