// How a reader that parses records itself (a jump list, say) hands them on.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "lnk/lnk_record.h"

namespace lnk {

// The bytes a record was parsed from (its first parsed_size bytes) and the
// offset the parse counted positions from.
struct ParsedBytes {
  std::span<const uint8_t> bytes;
  uint64_t offset = 0;
};

using RecordSink = std::function<void(const LnkRecord& record, const ParsedBytes& bytes)>;

}  // namespace lnk
