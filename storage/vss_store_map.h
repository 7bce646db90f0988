// One shadow-copy store's structures as a reader needs them: the chains of
// 16 KiB blocks its lists and bitmaps fill, walked within caps the volume's
// size sets; its block list folded into a map from the volume blocks it
// saved to where their old bytes are; and its bitmaps.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "platform/byte_reader.h"
#include "storage/byte_source.h"
#include "storage/shadow_layout.h"

namespace lnk {

// True when the bytes start with the shadow-copy identifier.
bool is_shadow_block(std::span<const uint8_t> bytes);

// How far a volume's stores may make a reader walk. Real lists and bitmaps
// follow the volume's blocks; a damaged store can claim any length.
struct ShadowBudget {
  uint64_t list_blocks = 0;    // block-list and range-list blocks, all stores together
  uint64_t bitmap_blocks = 0;  // blocks of one bitmap chain
  static ShadowBudget for_volume(uint64_t volume_size);
};

// The catalog of a volume with the most copies Windows keeps (512) fills
// nine blocks.
constexpr uint64_t kShadowCatalogBlockLimit = 16;

enum class ChainEnd {
  whole,    // to a next offset of zero (a start of zero is an empty chain)
  cut,      // a block after the first loops, runs past the budget or is unusable
  refused,  // the first block is unusable
};

// Follows a chain from start: every block must fit in the volume, carry the
// identifier, version 1 and the record type, and not come round again; each
// takes one from budget. visit sees the first `length` bytes of each block.
ChainEnd walk_shadow_chain(ByteSource& volume, uint64_t start, uint32_t record_type, uint64_t& budget,
                           uint64_t length, const std::function<void(const ByteReader&)>& visit);

// What a store's block list says of one volume block.
struct ShadowBlockEntry {
  // The saved block's volume offset; for a forwarder, the offset the next
  // store's view holds the block at.
  uint64_t target = 0;
  uint64_t overlay_offset = 0;  // the overlay's saved block
  uint32_t overlay_sectors = 0;  // 512-byte sectors the overlay holds, lowest bit first
  bool has_target = false;
  bool forwarder = false;
};

class ShadowStoreMap {
 public:
  // Folds one block-list block's entries in, in order. Entries whose saved
  // bytes would lie past the volume are dropped, and so are entries both
  // forwarder and overlay (Windows writes none); either marks the map damaged.
  void add_list_block(const ByteReader& block, uint64_t volume_size);
  const ShadowBlockEntry* find(uint64_t block_offset) const;
  // A forwarder of this store moved the block at this offset elsewhere.
  bool forwarded_from(uint64_t block_offset) const { return reverse_.contains(block_offset); }
  // Volume offsets of the blocks the list names, in its order.
  const std::vector<uint64_t>& saved_offsets() const { return order_; }
  bool damaged() const { return damaged_; }

 private:
  void add(uint64_t original, uint64_t relative, uint64_t stored, uint32_t flags, uint32_t sectors,
           uint64_t volume_size);

  std::unordered_map<uint64_t, ShadowBlockEntry> blocks_;
  std::unordered_map<uint64_t, uint64_t> reverse_;  // a forwarder's target → its original offset
  std::vector<uint64_t> order_;
  bool damaged_ = false;
};

// A store bitmap: one bit per 16 KiB block of the volume, set for blocks
// not in use.
class ShadowBitmap {
 public:
  void add_block(const ByteReader& block);
  bool empty() const { return bits_.empty(); }
  bool test(uint64_t block_index) const {
    return block_index / 8 < bits_.size() && ((bits_[block_index / 8] >> (block_index % 8)) & 1) != 0;
  }

 private:
  std::vector<uint8_t> bits_;
};

}  // namespace lnk
