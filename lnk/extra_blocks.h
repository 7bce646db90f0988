// Recognising and decoding the ExtraData blocks of a shortcut.
#pragma once

#include <cstdint>

#include "lnk/lnk_record.h"
#include "platform/byte_reader.h"

namespace lnk {

// block covers the bytes from the block's BlockSize field to the end of the
// record (its rest); block_position is that field's position in the record.
// True when a decoder took the block (its slot of block_offsets is set).
bool decode_extra_block(LnkRecord& record, ByteReader block, uint32_t block_position);
// The same with the record's absolute position in its source, from which the
// positions of the shell items inside the blocks are counted. The form above
// takes it from record.lnk_offset.
bool decode_extra_block(LnkRecord& record, ByteReader block, uint32_t block_position,
                        uint64_t record_offset);

}  // namespace lnk
