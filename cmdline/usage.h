// The usage text: on standard error, or on standard output when it was
// asked for.
#pragma once

#include <string>

namespace lnk {

inline constexpr const char* kRookVersion = "ver: 0.85";

std::string usage_text();
// The text names the program rook whatever path it was started from.
void print_usage(const std::string& program_path, bool to_standard_output = false);

}  // namespace lnk
