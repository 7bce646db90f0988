// The jump-list readers with their records handed to a sink instead of the
// record writer.
#pragma once

#include <cstdint>
#include <string>

#include "carve/signature_search.h"
#include "cmdline/useropts.h"

namespace lnk {

// An automatic-destinations list: the records of its shortcut streams, each
// read through its own chain and joined to its DestList entry, the DestList
// entries whose stream is gone, then what signatures turn up in its slack.
// True when at least one record went to the sink.
bool carve_jump_list_records(uint8_t* buffer, uint64_t size, useropts& options, bool progress,
                             const RecordSink& sink);

inline constexpr const char* kCustomDestinationsSource = "JMPLIST (custom destinations)";

// A custom-destinations list: every signature in it, each record parsed up
// to the next one. True when at least one record went to the sink.
bool carve_custom_destinations(uint8_t* buffer, uint64_t size, useropts& options, bool progress,
                               const RecordSink& sink,
                               const std::string& source_type = kCustomDestinationsSource);

}  // namespace lnk
