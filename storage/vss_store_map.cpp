#include "storage/vss_store_map.h"

#include <unordered_set>

namespace lnk {
namespace {

constexpr uint64_t kBitsPerBitmapBlock = (kShadowBlockSize - kShadowBlockHeaderSize) * 8;

}  // namespace

bool is_shadow_block(std::span<const uint8_t> bytes) {
  return ByteReader(bytes).matches(0, kShadowCopyIdentifier);
}

ShadowBudget ShadowBudget::for_volume(uint64_t volume_size) {
  // A list block holds 508 entries: two per volume block over all stores,
  // and room for small volumes.
  const uint64_t volume_blocks = volume_size / kShadowBlockSize;
  return {volume_blocks / 256 + 64, volume_blocks / kBitsPerBitmapBlock + 2};
}

ChainEnd walk_shadow_chain(ByteSource& volume, uint64_t start, uint32_t record_type, uint64_t& budget,
                           uint64_t length, const std::function<void(const ByteReader&)>& visit) {
  std::unordered_set<uint64_t> visited;
  std::vector<uint8_t> bytes(std::max(length, kShadowBlockHeaderSize));
  uint64_t taken = 0;
  for (uint64_t block = start; block != 0;) {
    const bool usable = budget > 0 && visited.insert(block).second && fits(block, kShadowBlockSize, volume.size()) &&
                        read_exact(volume, block, bytes) && is_shadow_block(bytes) &&
                        ByteReader(bytes).u32(kShadowBlockVersionField) == kShadowBlockVersion &&
                        ByteReader(bytes).u32(kShadowRecordTypeField) == record_type;
    if (!usable) return taken == 0 ? ChainEnd::refused : ChainEnd::cut;
    --budget;
    ++taken;
    const ByteReader reader(bytes);
    visit(reader);
    block = reader.u64(kShadowNextOffsetField);
  }
  return ChainEnd::whole;
}

void ShadowStoreMap::add_list_block(const ByteReader& block, uint64_t volume_size) {
  for (uint64_t at = kShadowBlockHeaderSize; block.has(at, kShadowDescriptorSize); at += kShadowDescriptorSize)
    add(block.u64(at), block.u64(at + kShadowDescriptorRelativeField), block.u64(at + kShadowDescriptorStoreField),
        block.u32(at + kShadowDescriptorFlagsField), block.u32(at + kShadowDescriptorBitmapField), volume_size);
}

// The entries of one block are folded front to back as the format's
// description has it: a later entry replaces an earlier one for the same
// block, an overlay adds sectors to the block's overlay, and an entry for
// the block a forwarder points at takes the forwarder's place.
void ShadowStoreMap::add(uint64_t original, uint64_t relative, uint64_t stored, uint32_t flags, uint32_t sectors,
                         uint64_t volume_size) {
  // Unused room at the end of a list block is zeros.
  if ((flags & kShadowDescriptorNotUsed) != 0 || (original | relative | stored | flags) == 0) return;
  const bool forwarder = (flags & kShadowDescriptorForwarder) != 0;
  const bool overlay = (flags & kShadowDescriptorOverlay) != 0;
  const uint64_t target = forwarder ? relative : stored;
  if ((forwarder && overlay) || !fits(target, kShadowBlockSize, volume_size)) {
    damaged_ = true;
    return;
  }
  if (!overlay) {
    const auto moved = reverse_.find(original);
    if (moved != reverse_.end()) {
      original = moved->second;
      reverse_.erase(moved);
      if (forwarder && original == relative) return;
    }
  }
  const auto [found, added] = blocks_.try_emplace(original);
  if (added) order_.push_back(original);
  ShadowBlockEntry& entry = found->second;
  if (overlay) {
    if (entry.overlay_sectors == 0) entry.overlay_offset = stored;
    entry.overlay_sectors |= sectors;
  } else {
    entry.target = target;
    entry.has_target = true;
    entry.forwarder = forwarder;
  }
  if (forwarder) reverse_[relative] = original;
}

const ShadowBlockEntry* ShadowStoreMap::find(uint64_t block_offset) const {
  const auto found = blocks_.find(block_offset);
  return found == blocks_.end() ? nullptr : &found->second;
}

void ShadowBitmap::add_block(const ByteReader& block) {
  const std::span<const uint8_t> bits = block.span().subspan(kShadowBlockHeaderSize);
  bits_.insert(bits_.end(), bits.begin(), bits.end());
}

}  // namespace lnk
