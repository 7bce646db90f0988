// Carving the shortcut records out of a jump list held in memory.
#pragma once

#include <cstdint>
#include <ostream>

#include "cmdline/useropts.h"

namespace lnk {

// True when the buffer was read as a jump list.
bool carve_jump_list(std::ostream& out, uint8_t* buffer, uint64_t size, useropts& options,
                     bool progress);

}  // namespace lnk
