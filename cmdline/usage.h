// The usage text, printed to standard error.
#pragma once

#include <string>

namespace lnk {

inline constexpr const char* kRookVersion = "ver: 0.85";

std::string usage_text();
// The text names the program rook whatever path it was started from.
void print_usage(const std::string& program_path);

}  // namespace lnk
