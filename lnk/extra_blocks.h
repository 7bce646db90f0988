// Recognising and decoding the ExtraData blocks of a shortcut.
#pragma once

#include <cstdint>

#include "cmdline/useropts.h"
#include "lnk/lnk_record.h"
#include "platform/byte_reader.h"

namespace lnk {

// block covers the bytes from the block's BlockSize field to the end of the
// record (its rest); block_position is that field's position in the record.
// True when a decoder took the block (its slot of block_offsets is set).
bool decode_extra_block(LnkRecord& record, ByteReader block, uint32_t block_position,
                        useropts& options);

}  // namespace lnk
