// Finding shortcut records in one file: a shortcut, a jump list, or any file
// that holds records somewhere.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cmdline/useropts.h"

namespace lnk {

// True when at least one record was parsed and written here.
bool process_shortcut_file(std::ostream& out, const std::string& path, useropts& options);

// Tests buffer at pos and then every step after it for the ShellLinkHeader
// signature; on success pos is left at the hit.
bool find_lnk_signature(uint64_t& pos, const uint8_t* buffer, uint64_t length, uint32_t step);

}  // namespace lnk
