// Volume shadow copies of an NTFS volume held in an image or any other byte
// source: the stores the volume's catalog lists, oldest first, and each
// store's view of the whole volume as it was when the copy was taken.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "storage/byte_source.h"

namespace lnk {

enum class ShadowError {
  none,
  unreadable,      // the catalog or the store is damaged; detail says how
  no_such_store,   // a store number of 0 or beyond the last
  data_elsewhere,  // the store keeps its saved blocks on another volume
};

struct ShadowStatus {
  ShadowError error = ShadowError::none;
  uint32_t store_number = 0;  // the store asked for
  uint32_t store_count = 0;   // the stores the volume has
  std::string detail;
  bool ok() const { return error == ShadowError::none; }
};

// One line of English for a failed status (no trailing newline).
std::string shadow_error_text(const ShadowStatus& status);

struct ShadowStoreInfo {
  uint32_t number = 0;  // 1 for the oldest, in creation order
  // GUIDs as their 16 stored bytes; the copy and copy set identifiers are
  // zero when the store does not say.
  Guid identifier{};
  Guid copy_identifier{};
  Guid copy_set_identifier{};
  uint64_t creation_time = 0;  // FILETIME
  uint64_t volume_size = 0;    // the volume's size when the copy was taken
  uint32_t attribute_flags = 0;
  // False when the store's saved blocks lie on another volume: the store is
  // listed but its view cannot be read from this volume alone.
  bool data_in_volume = true;
  // A chain of this store's blocks, or of a later store's (which its view
  // builds on), was damaged: cut short or holding entries that were
  // dropped, so that blocks it lost read as a later copy or the live volume
  // holds them; or unusable, so that the view cannot be opened.
  bool damaged = false;
};

// A store's view of the volume: as large as the volume was when the copy
// was taken, but never larger than the volume it is rebuilt from. Each
// block comes from the store's saved blocks, a later store's, or the live
// volume; blocks no copy saved that the newest store marks unused read as
// zeros.
class ShadowStoreSource : public ByteSource {
 public:
  ~ShadowStoreSource() override;
  ShadowStoreSource(const ShadowStoreSource&) = delete;
  ShadowStoreSource& operator=(const ShadowStoreSource&) = delete;

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  uint32_t sector_size() const override { return sector_size_; }
  bool reads_ahead() override;
  void will_read(uint64_t offset, uint64_t length) override;
  const ShadowStoreInfo& info() const { return info_; }
  // Volume offsets of the blocks the store saved, where its view may
  // differ from the live volume; at most limit of them, in the store's order.
  std::vector<uint64_t> saved_block_offsets(size_t limit) const;

 private:
  friend class ShadowVolume;
  struct Shared;
  // Where the view's bytes at offset come from, and for how many bytes on.
  struct Piece {
    bool zeros = false;
    uint64_t volume_offset = 0;
    uint64_t length = 0;
  };
  ShadowStoreSource(std::shared_ptr<const Shared> shared, size_t index, const ShadowStoreInfo& info, uint64_t size,
                    uint32_t sector_size);
  Piece locate(uint64_t offset) const;

  std::shared_ptr<const Shared> shared_;
  size_t index_ = 0;
  ShadowStoreInfo info_;
  uint64_t size_ = 0;
  uint32_t sector_size_ = 512;
};

// The shadow copies of one volume. The volume source must outlive this
// object and every store source opened from it; a store source keeps the
// rest of what it needs alive by itself.
class ShadowVolume {
 public:
  ShadowVolume();
  ~ShadowVolume();
  ShadowVolume(const ShadowVolume&) = delete;
  ShadowVolume& operator=(const ShadowVolume&) = delete;

  // Reads the catalog and every store's lists. A volume without shadow
  // copies (or that is not NTFS) opens with no stores and no error. A chain
  // of blocks that loops, runs longer than the volume could fill or reaches
  // an unusable block is cut there.
  ShadowStatus open(ByteSource& volume);
  const std::vector<ShadowStoreInfo>& stores() const { return stores_; }
  // The catalog itself was cut short: stores listed after the cut are missing.
  bool catalog_damaged() const { return catalog_damaged_; }
  // number counts from 1 as stores() does; null with status set on failure.
  std::unique_ptr<ShadowStoreSource> open_store(uint32_t number, ShadowStatus& status);

 private:
  std::shared_ptr<ShadowStoreSource::Shared> shared_;
  std::vector<ShadowStoreInfo> stores_;
  uint32_t sector_size_ = 512;
  bool catalog_damaged_ = false;
};

// The same in one call each, for callers that need no more.
std::vector<ShadowStoreInfo> list_shadow_stores(ByteSource& volume, ShadowStatus& status);
std::unique_ptr<ShadowStoreSource> open_shadow_store(ByteSource& volume, uint32_t number, ShadowStatus& status);

}  // namespace lnk
