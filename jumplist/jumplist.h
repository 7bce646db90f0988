// Jump lists held in memory: telling the two kinds apart, and reporting
// every shortcut record in them.
#pragma once

#include <cstdint>
#include <ostream>

#include "cmdline/useropts.h"

namespace lnk {

enum class JumpListFormat { automatic, custom, none };

// automatic: a compound file whose streams are a DestList and shortcut
// streams named in hex (or that has none yet); custom: a custom-destinations
// header; none: anything else, other compound files (.feed-ms) included.
JumpListFormat classify_jump_list(const uint8_t* bytes, uint64_t size);

// True when the buffer was read as a jump list.
bool carve_jump_list(std::ostream& out, uint8_t* buffer, uint64_t size, useropts& options,
                     bool progress);

}  // namespace lnk
