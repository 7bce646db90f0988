// What bytes carried after a shortcut's TerminalBlock look like.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lnk {

// A short name for the kind of data the first bytes start: "PE", "ZIP",
// "CAB", "PDF", "OLE", "RAR", "7-Zip", "gzip", "shortcut", "script text",
// "text", "zeros" or "data".
std::string appended_data_kind(std::span<const uint8_t> head);

}  // namespace lnk
