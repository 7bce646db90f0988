// Files Windows compressed with WOF (the "compact" command, CompactOS): a
// reparse point with tag 0x80000017 names the algorithm, the unnamed $DATA
// is a sparse stand-in as long as the file, and the bytes sit in the
// "WofCompressedData" stream as a chunk table followed by the chunks. The
// layout followed is the one the ntfs-3g system-compression plugin
// describes: chunks of 4, 8 or 16 KiB (XPRESS) or 32 KiB (LZX); for every
// chunk but the first, the offset at which it starts, counted from the end
// of the table, 4 bytes wide (8 for a file of 4 GiB or more); a chunk as
// long as its output is stored as it is.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "storage/byte_source.h"
#include "storage/extent_source.h"
#include "storage/wof_codec.h"

namespace lnk {

constexpr uint32_t kReparseTagWof = 0x80000017;

struct WofInfo {
  WofAlgorithm algorithm = WofAlgorithm::xpress4k;
  uint32_t chunk_bytes = 0;
};
// A $REPARSE_POINT value: tag 0x80000017, version 1 of the WOF header with
// the file provider (2), version 1 of its header and a known algorithm.
bool decode_wof_reparse(std::span<const uint8_t> value, WofInfo& out);

class WofDataSource : public ByteSource {
 public:
  // stream: the WofCompressedData stream's bytes; mapped: its runs, to
  // place chunks (null when resident); size: the file's size.
  WofDataSource(std::unique_ptr<ByteSource> stream, const ExtentSource* mapped, uint64_t size, const WofInfo& info);

  // A chunk whose table entry, bounds or coding is damaged ends the data
  // where the good chunks end: reads stop short there.
  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  // Where the chunk holding offset starts in the volume; false when the
  // stream is resident or the chunk cannot be placed.
  bool map(uint64_t offset, uint64_t& in_volume) const;
  // Where the good data ends; size() when every chunk read so far decoded.
  uint64_t good_end() const { return end_; }

 private:
  bool chunk_bounds(uint64_t index, uint64_t& start, uint64_t& stop) const;
  bool load_chunk(uint64_t index);

  std::unique_ptr<ByteSource> stream_;
  const ExtentSource* mapped_;
  uint64_t size_;
  WofInfo info_;
  uint64_t chunks_;
  uint64_t entry_bytes_;
  uint64_t table_bytes_;
  uint64_t end_;
  WofChunkDecoder decoder_;
  uint64_t cached_ = UINT64_MAX;
  std::vector<uint8_t> chunk_;
  std::vector<uint8_t> input_;
};

}  // namespace lnk
