// The optional container libraries this build was linked with, for
// `rook --version`: an examiner must be able to say which code read the
// evidence.
#pragma once

#include <string>
#include <vector>

namespace lnk {

struct OptionalLibrary {
  std::string name;     // "libewf"
  std::string version;  // as the library reports it at run time; empty when not in this build
  std::string reads;    // the inputs it serves, "E01 evidence files"
};

// Every optional library rook can use, in a fixed order, present or not.
std::vector<OptionalLibrary> optional_libraries();

}  // namespace lnk
