// The bytes of an NTFS-compressed attribute. Its clusters are grouped in
// compression units of 2^n clusters: a unit whose runs fill it is stored as
// it is, one whose runs end in a sparse stretch holds LZNT1 chunks in its
// first clusters, and a wholly sparse unit is zeros.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/byte_source.h"
#include "storage/extent_source.h"

namespace lnk {

// The largest unit read: 16 clusters of 4 KiB are what NTFS writes; a
// larger claim is a damaged header and is refused rather than allocated.
constexpr uint64_t kMaxCompressionUnitBytes = 1u << 20;

class CompressedDataSource : public ByteSource {
 public:
  // stored: the attribute's clusters as its runs place them, sparse runs
  // included, over the whole allocation. Bytes from initialized_size on
  // read as zeros without being decoded.
  CompressedDataSource(std::unique_ptr<ExtentSource> stored, uint64_t unit_bytes, uint64_t size,
                       uint64_t initialized_size);

  // A unit that cannot be read, or whose chunks are damaged, ends the data
  // where its good bytes end: reads stop short there and give 0 after it.
  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  // Where the byte at offset lies in the runs' parent: itself for a unit
  // stored as it is; for a compressed unit, where its chunks begin, as no
  // cluster holds the byte as it reads. False for a wholly sparse unit.
  bool map(uint64_t offset, uint64_t& source_offset) const;

 private:
  void load_unit(uint64_t index);

  std::unique_ptr<ExtentSource> stored_;
  uint64_t unit_bytes_;
  uint64_t size_;
  uint64_t initialized_;
  uint64_t end_;  // size_, or where a damaged unit's good bytes end
  uint64_t cached_unit_ = UINT64_MAX;
  std::vector<uint8_t> unit_;
  std::vector<uint8_t> input_;
};

}  // namespace lnk
