// Decoding one Shell Link record into a LnkRecord.
#pragma once

#include <cstdint>

#include "cmdline/useropts.h"
#include "lnk/lnk_record.h"

namespace lnk {

// Fills a cleared record from the bytes of one record (which may be cut short
// or followed by unrelated bytes). False only when the header or the IDList
// size rejects the candidate. The buffer is writable because the IDList walk
// repairs short root-folder items in place.
bool parse_lnk_record(LnkRecord& record, uint8_t* bytes, uint32_t length, useropts& options,
                      uint64_t record_offset);

}  // namespace lnk
