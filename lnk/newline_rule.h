// Every decoded text is one report line: a text holding a line feed was
// damaged or crafted, so it is dropped rather than allowed to break a line.
#pragma once

#include <string>

namespace lnk {

inline std::string one_line_text(std::string text, const char* replacement = "") {
  if (text.find('\n') != std::string::npos) return replacement;
  return text;
}

}  // namespace lnk
