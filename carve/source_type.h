// The source type a record found in a file is reported with.
#pragma once

#include <cstdint>
#include <string>

#include "cmdline/useropts.h"

namespace lnk {

// "Shortcut LNK (carved - 0x00000400)" for a hit past the start; at 0 the
// caller's source type (or "Shortcut LNK (carved)" when it set none).
std::string shortcut_source_type(uint64_t hit, const useropts& options);

}  // namespace lnk
