// The source type a record found in a file is reported with.
#pragma once

#include <cstdint>
#include <string>

namespace lnk {

// "Shortcut LNK (carved - 0x00000400)" for a hit past the start; at 0 the
// file's own source type (or "Shortcut LNK (carved)" when it has none).
std::string shortcut_source_type(uint64_t hit, const std::string& file_source_type);

}  // namespace lnk
