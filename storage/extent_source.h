// A file's bytes laid over another source in pieces: each extent maps a
// stretch of the file's offsets to the parent's offsets, or to nothing
// (sparse, read as zeros). Bytes from the valid size to the end read as
// zeros too, as a file system returns them past its initialized size.
#pragma once

#include <cstdint>
#include <vector>

#include "storage/byte_source.h"

namespace lnk {

struct Extent {
  uint64_t file_offset = 0;
  uint64_t length = 0;
  uint64_t source_offset = 0;  // ignored when sparse
  bool sparse = false;
};

class ExtentSource : public ByteSource {
 public:
  // Extents must be in file order and must not overlap; a stretch of
  // [0, size) that no extent covers cannot be read. valid_size is cut to size.
  ExtentSource(ByteSource& parent, std::vector<Extent> extents, uint64_t size, uint64_t valid_size);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  uint32_t sector_size() const override { return parent_.sector_size(); }
  // Sparse extents and bytes past the valid size hold zeros; a stretch no
  // extent covers is not stored.
  HoldingRun holding_at(uint64_t offset) override;
  bool reads_ahead() override { return parent_.reads_ahead(); }
  // Passes on the stretches of the parent the range maps to, in file order.
  void will_read(uint64_t offset, uint64_t length) override;

  // Where file offset lands in the parent; false for sparse stretches,
  // holes and offsets at or past the size.
  bool map(uint64_t offset, uint64_t& source_offset) const;
  const std::vector<Extent>& extents() const { return extents_; }
  // False when the extents were out of order or overlapped (they are then
  // cut at the first bad one).
  bool well_formed() const { return well_formed_; }

 private:
  // Index of the extent holding offset, or extents_.size().
  size_t find(uint64_t offset) const;
  // Reads from at as far as the extent holding it goes: zeros past the
  // valid size or in a sparse stretch; -1 in a hole or on a parent error.
  int64_t read_piece(uint64_t at, std::span<uint8_t> rest);

  ByteSource& parent_;
  std::vector<Extent> extents_;
  uint64_t size_;
  uint64_t valid_size_;
  bool well_formed_ = true;
};

}  // namespace lnk
