// Program and tool output cut into lines.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace lnk::test {

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace lnk::test
