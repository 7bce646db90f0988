// Reading the shortcut records out of a jump list held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "lnk/record_sink.h"

namespace lnk {

// How the records of one jump list are labelled and placed.
struct JumpListPlacement {
  // Stands for "JMPLIST" in the allocated records' source type.
  std::string label;
  // When not 0, the offset every allocated record is reported at (the place
  // of the jump-list file's data on its volume).
  uint64_t record_offset = 0;
  // Told of each candidate looked at (index, count), for a progress line.
  std::function<void(uint64_t, uint64_t)> progress;
};

// True when at least one record parsed and went to the sink; false also
// when the bytes are not a jump list.
bool carve_jump_list_records(std::span<const uint8_t> bytes, const JumpListPlacement& placement,
                             const RecordSink& sink);

}  // namespace lnk
