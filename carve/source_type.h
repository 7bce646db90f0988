// How a record names the way it was found.
#pragma once

#include <cstdint>
#include <string>

namespace lnk {

// A record in a file: "Shortcut LNK (file)" at its start, "Shortcut LNK
// (carved - 0x00000400)" further in. A file found on a volume stands in its
// own name for "Shortcut LNK": "[root]\x.lnk", "[root]\x.lnk (carved -
// 0x00000400)". The hexadecimal number is the record's offset in the file.
std::string shortcut_source_type(uint64_t hit, const std::string& found_file_name);

// A record carved from raw bytes: "Shortcut LNK (carved - 0x...)" with its
// position in the source, behind "[label] " when the pass has a label.
std::string carved_source_type(uint64_t position, const std::string& label);

}  // namespace lnk
