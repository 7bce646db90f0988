// Reading the shortcut records out of a jump list held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "lnk/record_sink.h"

namespace lnk {

enum class JumpListFormat { automatic, custom, none };

// automatic: a compound file whose streams are a DestList and shortcut
// streams named in hex (or that has none yet); custom: a custom-destinations
// header; none: anything else, other compound files (.feed-ms) included.
JumpListFormat classify_jump_list(std::span<const uint8_t> bytes);

// How the records of one jump list are labelled and placed.
struct JumpListPlacement {
  // Stands for "JMPLIST" in the allocated records' source type.
  std::string label;
  // When not 0, the offset every allocated record is reported at (the place
  // of the jump-list file's data on its volume).
  uint64_t record_offset = 0;
  // Told of each item looked at (index, count), for a progress line.
  std::function<void(uint64_t, uint64_t)> progress;
};

// An automatic-destinations list: the records of its shortcut streams, each
// read through its own chain and joined to its DestList entry, the DestList
// entries whose stream is gone, then what signatures turn up in its slack.
// True when at least one record went to the sink; false also for fewer than
// 4,096 bytes and for compound files that are no jump list.
bool carve_jump_list_records(std::span<const uint8_t> bytes, const JumpListPlacement& placement,
                             const RecordSink& sink);

inline constexpr const char* kCustomDestinationsSource = "JMPLIST (custom destinations)";

// A custom-destinations list: every signature in it, each record parsed up
// to the next one. True when at least one record went to the sink.
bool carve_custom_destinations(std::span<const uint8_t> bytes, const JumpListPlacement& placement,
                               const RecordSink& sink,
                               const std::string& source_type = kCustomDestinationsSource);

}  // namespace lnk
