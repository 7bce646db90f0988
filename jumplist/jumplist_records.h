// The jump-list carver with its records handed to a sink instead of the
// record writer.
#pragma once

#include <cstdint>

#include "carve/signature_search.h"
#include "cmdline/useropts.h"

namespace lnk {

// True when at least one record parsed and went to the sink.
bool carve_jump_list_records(uint8_t* buffer, uint64_t size, useropts& options, bool progress,
                             const RecordSink& sink);

}  // namespace lnk
