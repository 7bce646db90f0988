// How a reader that parses records itself (a jump list, say) hands them on.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "lnk/lnk_record.h"

namespace lnk {

// Hands each piece of a run of bytes to put, in order; false when the bytes
// could not all be read or put refused one.
using ByteFeed = std::function<bool(const std::function<bool(std::span<const uint8_t>)>& put)>;

// The bytes a record was parsed from (its first parsed_size bytes) and the
// offset the parse counted positions from; for a shortcut file, the bytes it
// carries after its TerminalBlock (LnkRecord::appended).
struct ParsedBytes {
  std::span<const uint8_t> bytes;
  uint64_t offset = 0;
  ByteFeed appended;
};

using RecordSink = std::function<void(const LnkRecord& record, const ParsedBytes& bytes)>;

}  // namespace lnk
