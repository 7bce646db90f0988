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

// How the records of one jump list are named and placed.
struct JumpListPlacement {
  // Stands for "JMPLIST" in the records' source types ("JMPLIST (carved
  // allocated)", "... (carved slack)", "... (DestList entry only)",
  // "... (custom destinations)"); a list found on a volume puts its path
  // there.
  std::string label;
  // For a list found on a volume: where the byte at a list offset lies in
  // the source scanned. Every record, slack ones too, is reported there.
  // Unset, records are reported at their offset in the list, and records
  // from slack at none.
  std::function<uint64_t(uint64_t)> place;
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

// A custom-destinations list: every signature in it, each record parsed up
// to the next one. True when at least one record went to the sink.
bool carve_custom_destinations(std::span<const uint8_t> bytes, const JumpListPlacement& placement,
                               const RecordSink& sink);

}  // namespace lnk
