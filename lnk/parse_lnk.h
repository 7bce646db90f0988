// Decoding one Shell Link record into a LnkRecord.
#pragma once

#include <cstdint>
#include <span>

#include "lnk/lnk_record.h"

namespace lnk {

// Fills a cleared record from the bytes of one record (which may be cut short
// or followed by unrelated bytes). False only when the header or the IDList
// size rejects the candidate. record_offset is where the record starts in its
// source; the positions of shell items are counted from it.
bool parse_lnk_record(LnkRecord& record, std::span<const uint8_t> bytes, uint64_t record_offset);

}  // namespace lnk
