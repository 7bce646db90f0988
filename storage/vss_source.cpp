#include "storage/vss_source.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "storage/read_ahead.h"
#include "storage/shadow_layout.h"
#include "storage/vss_store_map.h"

namespace lnk {

// What every view of a volume reads through: the stores' maps, oldest
// first, and the newest store's bitmaps.
struct ShadowStoreSource::Shared {
  ByteSource* volume = nullptr;
  uint64_t volume_size = 0;
  std::vector<ShadowStoreMap> maps;
  // The store's header or a chain's first block is unusable: its view, and
  // those that read through it, cannot be rebuilt.
  std::vector<bool> unusable;
  ShadowBitmap current, previous;
  bool has_previous = false;
};

namespace {

// A catalog's type 2 and type 3 entries for one store.
struct CatalogStore {
  ByteReader information;
  ByteReader location;
  bool located = false;
};

// Whether the block at offset is a usable store header; fills info from it.
bool read_store_header(ByteSource& volume, uint64_t offset, ShadowStoreInfo& info) {
  std::array<uint8_t, kShadowBlockHeaderSize + 64> bytes{};
  if (!fits(offset, kShadowBlockSize, volume.size()) || !read_exact(volume, offset, bytes) || !is_shadow_block(bytes))
    return false;
  const ByteReader header(bytes);
  if (header.u32(kShadowBlockVersionField) != kShadowBlockVersion ||
      header.u32(kShadowRecordTypeField) != kShadowStoreHeaderRecord)
    return false;
  info.copy_identifier = header.guid(kShadowBlockHeaderSize + kStoreCopyIdentifierField);
  info.copy_set_identifier = header.guid(kShadowBlockHeaderSize + kStoreCopySetIdentifierField);
  info.attribute_flags = header.u32(kShadowBlockHeaderSize + kStoreAttributeFlagsField);
  return true;
}

// Walks the chains a store-location entry names into map (and bitmaps,
// when given); false when the store cannot be read, damaged set when a
// chain was cut.
bool read_store_chains(ByteSource& volume, const ByteReader& location, ShadowBudget& budget, ShadowStoreMap& map,
                       ShadowBitmap* current, ShadowBitmap* previous, bool& damaged) {
  const uint64_t volume_size = volume.size();
  const auto list = [&](const ByteReader& block) { map.add_list_block(block, volume_size); };
  const auto skip = [](const ByteReader&) {};
  const auto bits = [](ShadowBitmap* bitmap) {
    return [bitmap](const ByteReader& block) {
      if (bitmap != nullptr) bitmap->add_block(block);
    };
  };
  uint64_t current_budget = budget.bitmap_blocks, previous_budget = budget.bitmap_blocks;
  const ChainEnd ends[] = {
      walk_shadow_chain(volume, location.u64(kCatalogBitmapField), kShadowBitmapRecord, current_budget,
                        kShadowBlockSize, bits(current)),
      walk_shadow_chain(volume, location.u64(kCatalogPreviousBitmapField), kShadowBitmapRecord, previous_budget,
                        kShadowBlockSize, bits(previous)),
      walk_shadow_chain(volume, location.u64(kCatalogBlockListField), kShadowBlockListRecord, budget.list_blocks,
                        kShadowBlockSize, list),
      walk_shadow_chain(volume, location.u64(kCatalogBlockRangeListField), kShadowRangeListRecord, budget.list_blocks,
                        kShadowBlockHeaderSize, skip),
  };
  damaged = map.damaged();
  for (ChainEnd end : ends) {
    if (end == ChainEnd::refused) return false;
    damaged = damaged || end == ChainEnd::cut;
  }
  return true;
}

}  // namespace

std::string shadow_error_text(const ShadowStatus& status) {
  switch (status.error) {
    case ShadowError::none:
      return {};
    case ShadowError::unreadable: {
      const std::string what = status.store_number == 0 ? "the shadow copies of this volume"
                                                        : "shadow copy " + std::to_string(status.store_number);
      return what + " cannot be read" + (status.detail.empty() ? "" : ": " + status.detail);
    }
    case ShadowError::no_such_store:
      if (status.store_count == 0) return "this volume holds no shadow copies";
      return "no shadow copy " + std::to_string(status.store_number) + ": this volume holds " +
             std::to_string(status.store_count) + (status.store_count == 1 ? " (number 1)" : "") +
             (status.store_count > 1 ? " (numbers 1 to " + std::to_string(status.store_count) + ")" : "");
    case ShadowError::data_elsewhere:
      return "shadow copy " + std::to_string(status.store_number) +
             " keeps its saved blocks on another volume, which cannot be read with this one";
  }
  return {};
}

ShadowStoreSource::ShadowStoreSource(std::shared_ptr<const Shared> shared, size_t index, const ShadowStoreInfo& info,
                                     uint64_t size, uint32_t sector_size)
    : shared_(std::move(shared)), index_(index), info_(info), size_(size), sector_size_(sector_size) {}

ShadowStoreSource::~ShadowStoreSource() = default;

// The format's rule for reading a copy: the store's own saved block (an
// overlay's sectors only in the store read), a forwarder's block as the
// next store shows it, else the next store's view; past the newest store,
// the live volume, but zeros for a block the newest store marks unused
// (in its previous bitmap too, when it has one) unless a forwarder moved it.
ShadowStoreSource::Piece ShadowStoreSource::locate(uint64_t offset) const {
  const Shared& shared = *shared_;
  const size_t newest = shared.maps.size() - 1;
  uint64_t at = offset;
  uint64_t length = UINT64_MAX;
  for (size_t store = index_;; ++store) {
    const uint64_t block = at & ~(kShadowBlockSize - 1);
    const uint64_t within = at - block;
    length = std::min(length, kShadowBlockSize - within);
    if (const ShadowBlockEntry* entry = shared.maps[store].find(block)) {
      if (store == index_ && entry->overlay_sectors != 0) {
        const uint64_t sector = within / kShadowOverlaySector;
        const bool held = ((entry->overlay_sectors >> sector) & 1) != 0;
        uint64_t end = sector + 1;
        while (end < kShadowBlockSize / kShadowOverlaySector && (((entry->overlay_sectors >> end) & 1) != 0) == held)
          ++end;
        length = std::min(length, end * kShadowOverlaySector - within);
        if (held) return {false, entry->overlay_offset + within, length};
      }
      if (entry->has_target && !entry->forwarder) return {false, entry->target + within, length};
      if (entry->has_target) {
        if (store == newest) return {false, entry->target + within, length};
        at = entry->target + within;
        continue;
      }
    }
    if (store < newest) continue;
    const uint64_t index = block / kShadowBlockSize;
    const bool unused = shared.current.test(index) && (!shared.has_previous || shared.previous.test(index));
    if (index_ == newest && unused && !shared.maps[store].forwarded_from(block)) return {true, 0, length};
    return {false, at, length};
  }
}

int64_t ShadowStoreSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (offset >= size_ || buffer.empty()) return 0;
  const uint64_t wanted = std::min<uint64_t>(buffer.size(), size_ - offset);
  uint64_t done = 0;
  while (done < wanted) {
    const Piece piece = locate(offset + done);
    uint64_t run = std::min(piece.length, wanted - done);
    if (piece.zeros) {
      std::memset(buffer.data() + done, 0, run);
      done += run;
      continue;
    }
    // Blocks that lie one after another on the volume are read at once.
    while (done + run < wanted) {
      const Piece next = locate(offset + done + run);
      if (next.zeros || next.volume_offset != piece.volume_offset + run) break;
      run += std::min(next.length, wanted - done - run);
    }
    if (!read_exact(*shared_->volume, piece.volume_offset, buffer.subspan(done, run))) return -1;
    done += run;
  }
  return static_cast<int64_t>(done);
}

bool ShadowStoreSource::reads_ahead() { return shared_->volume->reads_ahead(); }

// The volume's pieces of the range are announced in turn, as far as read
// ahead can hold.
void ShadowStoreSource::will_read(uint64_t offset, uint64_t length) {
  const uint64_t end = offset + std::min({length, size_ - std::min(offset, size_), kReadAheadMemory});
  for (uint64_t at = offset; at < end;) {
    const Piece piece = locate(at);
    uint64_t run = std::min(piece.length, end - at);
    while (!piece.zeros && at + run < end) {
      const Piece next = locate(at + run);
      if (next.zeros || next.volume_offset != piece.volume_offset + run) break;
      run += std::min(next.length, end - at - run);
    }
    if (!piece.zeros) shared_->volume->will_read(piece.volume_offset, run);
    at += run;
  }
}

std::vector<uint64_t> ShadowStoreSource::saved_block_offsets(size_t limit) const {
  const std::vector<uint64_t>& saved = shared_->maps[index_].saved_offsets();
  return {saved.begin(), saved.begin() + static_cast<ptrdiff_t>(std::min(limit, saved.size()))};
}

ShadowVolume::ShadowVolume() = default;
ShadowVolume::~ShadowVolume() = default;

ShadowStatus ShadowVolume::open(ByteSource& volume) {
  shared_.reset();
  stores_.clear();
  catalog_damaged_ = false;
  sector_size_ = volume.sector_size();
  // No shadow-copy header: a volume that never had copies, one too short
  // to hold the header, or not NTFS at all.
  std::array<uint8_t, kShadowBlockHeaderSize> header{};
  if (!read_exact(volume, kShadowVolumeHeaderOffset, header) || !is_shadow_block(header)) return {};
  const uint64_t catalog_offset = ByteReader(header).u64(kShadowCatalogOffsetField);
  if (catalog_offset == 0) return {};

  // The catalog's blocks are kept whole: its entries are read from them.
  std::vector<std::vector<uint8_t>> catalog;
  uint64_t catalog_budget = kShadowCatalogBlockLimit;
  const ChainEnd catalog_end =
      walk_shadow_chain(volume, catalog_offset, kShadowCatalogRecord, catalog_budget, kShadowBlockSize,
                        [&](const ByteReader& block) { catalog.emplace_back(block.span().begin(), block.span().end()); });
  if (catalog_end == ChainEnd::refused) return {ShadowError::unreadable, 0, 0, "its catalog is damaged"};
  catalog_damaged_ = catalog_end == ChainEnd::cut;

  std::vector<CatalogStore> listed;
  for (const std::vector<uint8_t>& block : catalog) {
    const ByteReader reader(block);
    for (uint64_t at = kShadowBlockHeaderSize; reader.has(at, kShadowCatalogEntrySize); at += kShadowCatalogEntrySize) {
      const ByteReader entry = reader.sub(at, kShadowCatalogEntrySize);
      const uint64_t type = entry.u64(kCatalogEntryTypeField);
      if (type != kCatalogStoreInformation && type != kCatalogStoreLocation) continue;
      const Guid guid = entry.guid(kCatalogStoreGuidField);
      auto same = std::find_if(listed.begin(), listed.end(),
                               [&](const CatalogStore& s) { return s.information.guid(kCatalogStoreGuidField) == guid; });
      if (type == kCatalogStoreInformation && same == listed.end()) listed.push_back({entry, {}, false});
      // libvshadow gives a location entry to the information entry before it,
      // whatever GUID it names.
      if (type == kCatalogStoreLocation && !listed.empty()) {
        listed.back().location = entry;
        listed.back().located = true;
      }
    }
  }
  std::stable_sort(listed.begin(), listed.end(), [](const CatalogStore& a, const CatalogStore& b) {
    return a.information.u64(kCatalogCreationTimeField) < b.information.u64(kCatalogCreationTimeField);
  });

  auto shared = std::make_shared<ShadowStoreSource::Shared>();
  shared->volume = &volume;
  shared->volume_size = volume.size();
  shared->maps.resize(listed.size());
  shared->unusable.resize(listed.size());
  ShadowBudget budget = ShadowBudget::for_volume(volume.size());
  std::vector<uint8_t> damaged(listed.size());
  for (size_t index = 0; index < listed.size(); ++index) {
    const CatalogStore& store = listed[index];
    ShadowStoreInfo info;
    info.number = static_cast<uint32_t>(index + 1);
    info.identifier = store.information.guid(kCatalogStoreGuidField);
    info.volume_size = store.information.u64(kCatalogVolumeSizeField);
    info.creation_time = store.information.u64(kCatalogCreationTimeField);
    info.data_in_volume = store.located;
    if (store.located) {
      const bool newest = index + 1 == listed.size();
      bool cut = false;
      const bool usable =
          read_store_header(volume, store.location.u64(kCatalogStoreHeaderField), info) &&
          read_store_chains(volume, store.location, budget, shared->maps[index], newest ? &shared->current : nullptr,
                            newest ? &shared->previous : nullptr, cut);
      damaged[index] = cut;
      shared->unusable[index] = !usable;
      if (newest) shared->has_previous = store.location.u64(kCatalogPreviousBitmapField) != 0;
    }
    stores_.push_back(info);
  }
  // A view reads through every later store, so damage in one reaches all
  // the stores before it.
  bool later = false;
  for (size_t index = listed.size(); index-- > 0;) {
    later = later || damaged[index] || shared->unusable[index];
    stores_[index].damaged = later;
  }
  shared_ = shared;
  return {};
}

std::unique_ptr<ShadowStoreSource> ShadowVolume::open_store(uint32_t number, ShadowStatus& status) {
  status = {};
  status.store_number = number;
  status.store_count = static_cast<uint32_t>(stores_.size());
  if (number == 0 || number > stores_.size()) {
    status.error = ShadowError::no_such_store;
    return nullptr;
  }
  const size_t index = number - 1;
  const ShadowStoreInfo& info = stores_[index];
  if (!info.data_in_volume) {
    status.error = ShadowError::data_elsewhere;
    return nullptr;
  }
  const auto& unusable = shared_->unusable;
  if (unusable[index] || std::find(unusable.begin() + static_cast<ptrdiff_t>(index), unusable.end(), true) != unusable.end()) {
    status.error = ShadowError::unreadable;
    status.detail = unusable[index] ? "its header or block lists are damaged"
                                    : "a later copy it reads through has damaged header or block lists";
    return nullptr;
  }
  // The size comes from the catalog; a damaged one can claim any size, and
  // a view cannot hold more than the volume it is rebuilt from.
  const uint64_t size = std::min(info.volume_size, shared_->volume_size);
  return std::unique_ptr<ShadowStoreSource>(new ShadowStoreSource(shared_, index, info, size, sector_size_));
}

std::vector<ShadowStoreInfo> list_shadow_stores(ByteSource& volume, ShadowStatus& status) {
  ShadowVolume shadows;
  status = shadows.open(volume);
  return shadows.stores();
}

std::unique_ptr<ShadowStoreSource> open_shadow_store(ByteSource& volume, uint32_t number, ShadowStatus& status) {
  ShadowVolume shadows;
  status = shadows.open(volume);
  if (!status.ok()) return nullptr;
  return shadows.open_store(number, status);
}

}  // namespace lnk
