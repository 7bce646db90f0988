// The LinkInfo section: volume, local path and network share of the target.
#pragma once

#include <cstdint>

#include "lnk/lnk_record.h"
#include "platform/byte_reader.h"

namespace lnk {

// Reads the LinkInfo at pos of the record bytes when its header is sane and
// moves pos past it; otherwise leaves pos where it was.
void read_link_info(LnkRecord& record, const ByteReader& bytes, uint64_t& pos);

}  // namespace lnk
