// What `rook --version` prints: the version line of the run header, the
// source revision the program was built from, and the optional libraries
// it carries.
#pragma once

#include <string>

namespace lnk {

// Set by the build from `git describe`; "unknown" outside a git checkout.
const char* source_revision();

std::string version_text();

}  // namespace lnk
