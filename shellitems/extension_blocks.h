// Extension blocks (signature 0xBEEFxxxx) inside shell items: long and
// localized names, times, MFT references, recycle-bin paths, nested IDLists.
#pragma once

#include <cstdint>

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

constexpr uint16_t kExtensionSignatureHigh = 0xBEEF;
constexpr uint32_t kMaxExtensionBlockSize = 0x4000;

// Walks the blocks that start at the beginning of blocks (the bytes left in
// the item), merging each into item; the context position is expected at
// the first block and follows the walk. Returns the bytes walked, 0 when the
// first block was refused.
uint32_t walk_extension_blocks(ShellItem& item, ByteReader blocks, DecodeContext& context);

// Decodes the one block at the start of bytes into item; returns the bytes
// it accounts for, 0 when refused.
uint32_t decode_extension_block(ShellItem& item, ByteReader bytes, DecodeContext& context);

// True when a block header that the walk accepts starts at off.
bool extension_block_at(const ByteReader& bytes, uint64_t off);

}  // namespace lnk
