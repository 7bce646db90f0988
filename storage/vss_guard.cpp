#include "storage/vss_guard.h"

#include <algorithm>
#include <array>
#include <set>

namespace lnk {
namespace {

constexpr std::array<uint8_t, 16> kShadowIdentifier = {0x6b, 0x87, 0x08, 0x38, 0x76, 0xc1, 0x48, 0x4e,
                                                       0xb7, 0xae, 0x04, 0x04, 0x6e, 0x6c, 0xc7, 0x52};
constexpr uint64_t kStoreLocationEntry = 3;
constexpr uint32_t kStoreHeaderRecord = 4;
constexpr uint64_t kRecordTypeField = 20;
// Identifiers, type, provider and attribute flags, before the machine names.
constexpr uint64_t kStoreInformationSize = 64;
// A bitmap block maps one 16 KiB block of the volume per bit after its header.
constexpr uint64_t kBlocksPerBitmapBlock = (kShadowBlockSize - kShadowBlockHeaderSize) * 8;
// libvshadow keeps one range per run of set bits; a bitmap of alternating
// bits would cost it about 100 bytes per bit. Real bitmaps follow the
// volume's allocation and hold far fewer runs.
constexpr uint64_t kBitmapRunBudget = uint64_t{1} << 21;

enum class ChainKind { list, bitmap };

struct Walk {
  ByteSource& volume;
  ShadowGuardPlan& plan;
  uint64_t list_budget = 0;        // block list and range list blocks, all stores
  uint64_t bitmap_chain_cap = 0;   // blocks in one bitmap chain
  uint64_t bitmap_runs_left = kBitmapRunBudget;
};

bool block_fits(const ByteSource& volume, uint64_t offset) {
  return offset != 0 && fits(offset, kShadowBlockSize, volume.size());
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

// Follows one chain from the field that names its first block. Returns
// true when it had to be cut.
bool walk_chain(Walk& walk, uint64_t start_field, uint64_t start, ChainKind kind) {
  std::set<uint64_t> visited;
  uint64_t pointing_field = start_field;
  uint64_t block = start;
  uint64_t length = 0;
  std::vector<uint8_t> bytes(kind == ChainKind::bitmap ? kShadowBlockSize : kShadowBlockHeaderSize);
  while (block != 0) {
    const bool first = pointing_field == start_field;
    bool cut = !visited.insert(block).second;
    if (!cut && kind == ChainKind::list) cut = walk.list_budget == 0;
    if (!cut && kind == ChainKind::bitmap) cut = length >= walk.bitmap_chain_cap;
    // A first block that cannot be read is left to libvshadow, which then
    // refuses the store instead of showing it without its saved blocks.
    if (!cut && !block_fits(walk.volume, block)) {
      if (first) return false;
      cut = true;
    }
    if (!cut && !read_exact(walk.volume, block, bytes)) {
      if (first) return false;
      cut = true;
    }
    const ByteReader reader(bytes);
    if (!cut && kind == ChainKind::bitmap) {
      const uint64_t runs = count_runs(reader);
      cut = runs > walk.bitmap_runs_left;
      if (!cut) walk.bitmap_runs_left -= runs;
    }
    if (cut) {
      walk.plan.cut_fields.push_back(pointing_field);
      return true;
    }
    if (kind == ChainKind::list) --walk.list_budget;
    ++length;
    pointing_field = block + kShadowNextOffsetField;
    block = reader.u64(kShadowNextOffsetField);
  }
  return false;
}

// A store header libvshadow would mishandle: one with the identifier but
// another record type (it leaks the block), or whose two machine names run
// past the block (its bounds check forgets the 128-byte header and it reads
// beyond the block). Without the identifier libvshadow refuses it cleanly.
bool unsafe_store_header(ByteSource& volume, uint64_t offset) {
  std::vector<uint8_t> bytes(kShadowBlockSize);
  if (!block_fits(volume, offset) || !read_exact(volume, offset, bytes) || !is_shadow_block(bytes)) return false;
  const ByteReader header(bytes);
  if (header.u32(kRecordTypeField) != kStoreHeaderRecord) return true;
  uint64_t at = kShadowBlockHeaderSize + kStoreInformationSize;
  for (int name = 0; name < 2; ++name) {
    const uint64_t length = header.u16(at);
    if (header.failed() || !header.has(at + 2, length)) return true;
    at += 2 + length;
  }
  return false;
}

void walk_store_entry(Walk& walk, const ByteReader& entry, uint64_t entry_offset) {
  if (unsafe_store_header(walk.volume, entry.u64(kCatalogStoreHeaderField))) walk.plan.store_header_refused = true;
  const struct {
    uint64_t field;
    ChainKind kind;
  } chains[] = {{kCatalogBitmapField, ChainKind::bitmap},
                {kCatalogPreviousBitmapField, ChainKind::bitmap},
                {kCatalogBlockListField, ChainKind::list},
                {kCatalogBlockRangeListField, ChainKind::list}};
  bool cut = false;
  for (const auto& chain : chains)
    cut = walk_chain(walk, entry_offset + chain.field, entry.u64(chain.field), chain.kind) || cut;
  if (cut) walk.plan.cut_stores.push_back(entry.guid(kCatalogStoreGuidField));
}

}  // namespace

bool is_shadow_block(std::span<const uint8_t> bytes) {
  return ByteReader(bytes).matches(0, kShadowIdentifier);
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
    const bool first = pointing_field == kShadowVolumeHeaderOffset + kShadowCatalogOffsetField;
    const bool cut = !visited.insert(block).second || visited.size() > kShadowCatalogBlockLimit;
    const bool readable = block_fits(volume, block) && read_exact(volume, block, catalog_block);
    if (cut || (!readable && !first)) {
      plan.cut_fields.push_back(pointing_field);
      plan.catalog_cut = true;
      break;
    }
    if (!readable) break;
    const ByteReader reader(catalog_block);
    for (uint64_t at = kShadowBlockHeaderSize; at + kShadowCatalogEntrySize <= reader.size();
         at += kShadowCatalogEntrySize) {
      const ByteReader entry = reader.sub(at, kShadowCatalogEntrySize);
      if (entry.u64(kCatalogEntryTypeField) == kStoreLocationEntry) walk_store_entry(walk, entry, block + at);
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
