#include "storage/vss_guard.h"

#include <algorithm>
#include <array>
#include <set>

namespace lnk {
namespace {

constexpr uint32_t kCatalogRecord = 2;
constexpr uint32_t kBlockListRecord = 3;
constexpr uint32_t kStoreHeaderRecord = 4;
constexpr uint32_t kBlockRangeRecord = 5;
constexpr uint32_t kBitmapRecord = 6;
constexpr uint32_t kBlockVersion = 1;
// Identifiers, type, provider and attribute flags, before the machine names.
constexpr uint64_t kStoreInformationSize = 64;
// A bitmap block maps one 16 KiB block of the volume per bit after its header.
constexpr uint64_t kBlocksPerBitmapBlock = (kShadowBlockSize - kShadowBlockHeaderSize) * 8;
// libvshadow keeps one range per run of set bits; a bitmap of alternating
// bits would cost it about 100 bytes per bit. Real bitmaps follow the
// volume's allocation and hold far fewer runs.
constexpr uint64_t kBitmapRunBudget = uint64_t{1} << 21;

enum class ChainKind { list, bitmap };
enum class ChainEnd { whole, cut, refused };

struct Walk {
  ByteSource& volume;
  ShadowGuardPlan& plan;
  uint64_t list_budget = 0;        // block list and range list blocks, all stores
  uint64_t bitmap_chain_cap = 0;   // blocks in one bitmap chain
  uint64_t bitmap_runs_left = kBitmapRunBudget;
  bool entries_hidden = false;  // in the store being walked
};

bool block_fits(const ByteSource& volume, uint64_t offset) {
  return offset != 0 && fits(offset, kShadowBlockSize, volume.size());
}

// libvshadow reads only blocks that fit, carry the identifier, version 1
// and the record type it expects; it errs on any other, on some paths
// leaking the block it read, so it is never shown one.
bool read_block(ByteSource& volume, uint64_t offset, uint32_t record_type, std::vector<uint8_t>& bytes) {
  if (!block_fits(volume, offset) || !read_exact(volume, offset, bytes) || !is_shadow_block(bytes)) return false;
  const ByteReader block(bytes);
  return block.u32(kShadowBlockVersionField) == kBlockVersion && block.u32(kShadowRecordTypeField) == record_type;
}

uint64_t count_runs(const ByteReader& block) {
  uint64_t runs = 0;
  bool previous = false;
  for (uint64_t at = kShadowBlockHeaderSize; at < block.size(); ++at) {
    const uint8_t bits = block.u8(at);
    for (int bit = 0; bit < 8; ++bit) {
      const bool set = ((bits >> bit) & 1) != 0;
      if (set && !previous) ++runs;
      previous = set;
    }
  }
  return runs;
}

// True when the block can join its chain: not seen before in it, within
// the budgets, and one libvshadow reads.
bool take_block(Walk& walk, uint64_t block, uint32_t record_type, ChainKind kind, uint64_t length,
                std::set<uint64_t>& visited, std::vector<uint8_t>& bytes) {
  if (!visited.insert(block).second) return false;
  if (kind == ChainKind::list && walk.list_budget == 0) return false;
  if (kind == ChainKind::bitmap && length >= walk.bitmap_chain_cap) return false;
  if (!read_block(walk.volume, block, record_type, bytes)) return false;
  if (kind == ChainKind::bitmap) {
    const uint64_t runs = count_runs(ByteReader(bytes));
    if (runs > walk.bitmap_runs_left) return false;
    walk.bitmap_runs_left -= runs;
  } else {
    --walk.list_budget;
  }
  return true;
}

// libvshadow files a block-list entry that is both a forwarder and an
// overlay in two places that each free it; Windows writes none. It reads
// as an empty entry, which libvshadow skips.
void hide_forwarding_overlays(Walk& walk, uint64_t block, const std::vector<uint8_t>& bytes) {
  const ByteReader list(bytes);
  for (uint64_t at = kShadowBlockHeaderSize; at + kShadowDescriptorSize <= list.size(); at += kShadowDescriptorSize) {
    const uint32_t flags = list.u32(at + kShadowDescriptorFlagsField);
    const uint32_t both = kShadowDescriptorForwarder | kShadowDescriptorOverlay;
    if ((flags & kShadowDescriptorNotUsed) != 0 || (flags & both) != both) continue;
    for (uint64_t field = 0; field < kShadowDescriptorSize; field += 8) walk.plan.cut_fields.push_back(block + at + field);
    walk.entries_hidden = true;
  }
}

// Follows one chain from the field that names its first block. A chain
// that goes wrong after its first block is cut there; one whose first
// block is wrong cannot be read at all.
ChainEnd walk_chain(Walk& walk, uint64_t start_field, uint64_t start, uint32_t record_type, ChainKind kind) {
  std::set<uint64_t> visited;
  const bool whole_blocks = kind == ChainKind::bitmap || record_type == kBlockListRecord;
  std::vector<uint8_t> bytes(whole_blocks ? kShadowBlockSize : kShadowBlockHeaderSize);
  uint64_t pointing_field = start_field;
  uint64_t length = 0;
  for (uint64_t block = start; block != 0; block = ByteReader(bytes).u64(kShadowNextOffsetField)) {
    if (!take_block(walk, block, record_type, kind, length, visited, bytes)) {
      if (length == 0) return ChainEnd::refused;
      walk.plan.cut_fields.push_back(pointing_field);
      return ChainEnd::cut;
    }
    if (record_type == kBlockListRecord) hide_forwarding_overlays(walk, block, bytes);
    ++length;
    pointing_field = block + kShadowNextOffsetField;
  }
  return ChainEnd::whole;
}

// A store header libvshadow would mishandle: besides the checks every
// block gets, its two machine names must lie inside the block (libvshadow's
// own check forgets the 128-byte header and reads past the block).
bool safe_store_header(ByteSource& volume, uint64_t offset) {
  std::vector<uint8_t> bytes(kShadowBlockSize);
  if (!read_block(volume, offset, kStoreHeaderRecord, bytes)) return false;
  const ByteReader header(bytes);
  uint64_t at = kShadowBlockHeaderSize + kStoreInformationSize;
  for (int name = 0; name < 2; ++name) {
    const uint64_t length = header.u16(at);
    if (header.failed() || !header.has(at + 2, length)) return false;
    at += 2 + length;
  }
  return true;
}

// A store that cannot be read is hidden from libvshadow by reading its
// location entry's type as zero, an empty entry.
void walk_store_entry(Walk& walk, const ByteReader& entry, uint64_t entry_offset) {
  const Guid store = entry.guid(kCatalogStoreGuidField);
  const struct {
    uint64_t field;
    uint32_t record_type;
    ChainKind kind;
  } chains[] = {{kCatalogBitmapField, kBitmapRecord, ChainKind::bitmap},
                {kCatalogPreviousBitmapField, kBitmapRecord, ChainKind::bitmap},
                {kCatalogBlockListField, kBlockListRecord, ChainKind::list},
                {kCatalogBlockRangeListField, kBlockRangeRecord, ChainKind::list}};
  bool refused = !safe_store_header(walk.volume, entry.u64(kCatalogStoreHeaderField));
  bool cut = false;
  walk.entries_hidden = false;
  for (const auto& chain : chains) {
    if (refused) break;
    const ChainEnd end =
        walk_chain(walk, entry_offset + chain.field, entry.u64(chain.field), chain.record_type, chain.kind);
    refused = end == ChainEnd::refused;
    cut = cut || end == ChainEnd::cut;
  }
  if (refused) {
    walk.plan.cut_fields.push_back(entry_offset + kCatalogEntryTypeField);
    walk.plan.refused_stores.push_back(store);
  } else if (cut || walk.entries_hidden) {
    walk.plan.cut_stores.push_back(store);
  }
}

}  // namespace

bool is_shadow_block(std::span<const uint8_t> bytes) {
  return ByteReader(bytes).matches(0, kShadowCopyIdentifier);
}

ShadowGuardPlan plan_shadow_guard(ByteSource& volume) {
  ShadowGuardPlan plan;
  std::array<uint8_t, kShadowBlockHeaderSize> header{};
  if (!read_exact(volume, kShadowVolumeHeaderOffset, header) || !is_shadow_block(header)) return plan;
  const uint64_t volume_blocks = volume.size() / kShadowBlockSize;
  Walk walk{volume, plan};
  walk.list_budget = volume_blocks / 256 + 64;
  walk.bitmap_chain_cap = volume_blocks / kBlocksPerBitmapBlock + 2;

  std::set<uint64_t> visited;
  std::vector<uint8_t> catalog_block(kShadowBlockSize);
  uint64_t pointing_field = kShadowVolumeHeaderOffset + kShadowCatalogOffsetField;
  uint64_t block = ByteReader(header).u64(kShadowCatalogOffsetField);
  while (block != 0) {
    const bool taken = visited.insert(block).second && visited.size() <= kShadowCatalogBlockLimit &&
                       read_block(volume, block, kCatalogRecord, catalog_block);
    if (!taken) {
      if (pointing_field == kShadowVolumeHeaderOffset + kShadowCatalogOffsetField) {
        plan.catalog_refused = true;
      } else {
        plan.cut_fields.push_back(pointing_field);
        plan.catalog_cut = true;
      }
      break;
    }
    const ByteReader reader(catalog_block);
    for (uint64_t at = kShadowBlockHeaderSize; at + kShadowCatalogEntrySize <= reader.size();
         at += kShadowCatalogEntrySize) {
      const ByteReader entry = reader.sub(at, kShadowCatalogEntrySize);
      if (entry.u64(kCatalogEntryTypeField) == kCatalogStoreLocation) walk_store_entry(walk, entry, block + at);
    }
    pointing_field = block + kShadowNextOffsetField;
    block = reader.u64(kShadowNextOffsetField);
  }
  std::sort(plan.cut_fields.begin(), plan.cut_fields.end());
  plan.cut_fields.erase(std::unique(plan.cut_fields.begin(), plan.cut_fields.end()), plan.cut_fields.end());
  return plan;
}

GuardedShadowVolume::GuardedShadowVolume(ByteSource& volume, const std::vector<uint64_t>& cut_fields)
    : volume_(volume), cut_fields_(cut_fields) {
  std::sort(cut_fields_.begin(), cut_fields_.end());
}

int64_t GuardedShadowVolume::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  const int64_t got = volume_.read_at(offset, buffer);
  if (got <= 0) return got;
  const uint64_t end = offset + static_cast<uint64_t>(got);
  // Fields are 8 bytes long, so one that starts up to 7 bytes before the
  // read still reaches into it.
  auto field = std::lower_bound(cut_fields_.begin(), cut_fields_.end(), offset < 8 ? 0 : offset - 7);
  for (; field != cut_fields_.end() && *field < end; ++field) {
    const uint64_t from = std::max(*field, offset);
    const uint64_t to = std::min(*field + 8, end);
    if (from < to) std::fill(buffer.begin() + (from - offset), buffer.begin() + (to - offset), 0);
  }
  return got;
}

}  // namespace lnk
