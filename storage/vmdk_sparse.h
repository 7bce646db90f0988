// One hosted sparse extent ("KDMV"): its header, grain directory and grain
// tables, and the grains themselves, plain or deflate-compressed with grain
// markers (stream-optimized).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "storage/claimed_ranges.h"
#include "storage/read_ahead.h"
#include "storage/vmdk_files.h"

namespace lnk {

constexpr uint64_t kVmdkSectorSize = 512;
// gd_offset of a stream-optimized disk whose directory follows the grains.
constexpr uint64_t kVmdkDirectoryAtEnd = ~uint64_t{0};

constexpr uint32_t kVmdkFlagNewlineTest = 1u << 0;
constexpr uint32_t kVmdkFlagZeroedGrains = 1u << 2;
constexpr uint32_t kVmdkFlagCompressed = 1u << 16;
constexpr uint32_t kVmdkFlagMarkers = 1u << 17;
constexpr uint16_t kVmdkCompressionDeflate = 1;

struct VmdkSparseHeader {
  uint32_t version = 0;
  uint32_t flags = 0;
  uint64_t capacity = 0;           // sectors
  uint64_t grain_size = 0;         // sectors
  uint64_t descriptor_offset = 0;  // sectors
  uint64_t descriptor_size = 0;    // sectors
  uint32_t gtes_per_gt = 0;
  uint64_t redundant_gd_offset = 0;  // sectors
  uint64_t gd_offset = 0;            // sectors
  uint64_t overhead = 0;             // sectors
  // The four line-end test characters arrived as written.
  bool newlines_intact = false;
  uint16_t compression = 0;
};

bool has_vmdk_sparse_magic(std::span<const uint8_t> head);
// The ESX sparse layout ("COWD"), which is not read.
bool has_vmdk_cowd_magic(std::span<const uint8_t> head);
// False when the magic is missing or the bytes are too short.
bool decode_vmdk_sparse_header(std::span<const uint8_t> bytes, VmdkSparseHeader& out);

// Where the bytes of one grain are.
enum class GrainState { absent, zero, data, compressed, unreadable };
struct GrainLocation {
  GrainState state = GrainState::absent;
  // Every byte of the grain in the file is an earlier grain's too: a table
  // that names them again claims more than the file stores.
  bool repeat = false;
  uint64_t file_offset = 0;  // data: of the byte asked for; compressed: of the marker
  uint64_t grain = 0;
};

class VmdkSparseExtent {
 public:
  // Reads the header (a stream-optimized disk's footer when the directory is
  // at the end) and the grain directory. Grain tables are read when first
  // needed, with every table before them, and kept.
  VmdkOpenStatus open(ByteSource& file);

  const VmdkSparseHeader& header() const { return header_; }
  uint64_t grain_bytes() const { return header_.grain_size * kVmdkSectorSize; }
  uint64_t capacity_bytes() const { return header_.capacity * kVmdkSectorSize; }

  // offset is within the extent.
  GrainLocation locate(ByteSource& file, uint64_t offset);

  // Where the grains from offset's on stop being like offset's (all not in
  // this extent, all zero, all with data, all repeats or all unreadable), or
  // somewhere before that on a very long run.
  uint64_t run_end(ByteSource& file, uint64_t offset);

  // Copies the bytes at offset (within one grain, already located) into
  // buffer. False when the grain cannot be read; a grain cut by the end of
  // the file is padded with zeros.
  bool read(ByteSource& file, const GrainLocation& where, uint64_t offset, std::span<uint8_t> buffer,
            VmdkFiles& files);
  // Queues a compressed grain (already located) for decoding ahead; false
  // when there is no room, or nothing decodes ahead.
  bool will_read(ByteSource& file, const GrainLocation& where, VmdkFiles& files);

 private:
  enum class TableState : uint8_t { unread, loaded, absent, unreadable };

  bool load_table(ByteSource& file, uint64_t table);
  void read_table(ByteSource& file, uint64_t table);
  // What entry index of a loaded table says: state, repeat, and the file
  // offset of the grain.
  void classify(uint64_t table, uint64_t index, GrainLocation& where) const;
  // Notes the file sectors [start, end) a grain uses; false when earlier
  // grains used every one of them already.
  bool claim_sectors(uint64_t start, uint64_t end);
  // Queues the compressed grains ahead of grain when reads move on grain by grain.
  void read_ahead(ByteSource& file, uint64_t grain, VmdkFiles& files, ReadAhead& ahead);
  // False when the grain is neither queued now nor known already.
  bool queue_grain(const std::shared_ptr<ByteSource>& file, const GrainLocation& where, ReadAhead& ahead);
  bool read_compressed(ByteSource& file, const GrainLocation& where, uint64_t offset, std::span<uint8_t> buffer,
                       VmdkFiles& files);

  VmdkSparseHeader header_;
  uint64_t file_size_ = 0;
  std::vector<uint32_t> directory_;
  std::vector<TableState> table_state_;
  std::vector<std::vector<uint32_t>> tables_;
  std::vector<std::vector<bool>> repeats_;  // per table; empty when it has none
  uint64_t tables_read_ = 0;                // tables before this one are read
  ClaimedRanges claimed_;                   // file sectors grains use
  // Overlapping tables could otherwise claim far more memory than the file holds.
  uint64_t table_bytes_budget_ = 0;
  // Compressed grain bytes, reused from grain to grain.
  std::vector<uint8_t> packed_;
  // The grain a reader moving on would ask for next, and the first grain
  // not queued for decoding ahead yet.
  uint64_t next_grain_ = UINT64_MAX;
  uint64_t queued_until_ = 0;
};

// The descriptor embedded in a sparse extent; empty when it has none.
bool read_embedded_descriptor(ByteSource& file, const VmdkSparseHeader& header, std::vector<uint8_t>& text);

// Inflates one zlib stream; false on any error. With whole, the stream must
// end within output; without, filling output is enough and the rest of the
// stream is not looked at (where the build can stop early: else the stream
// must end within output then too). produced is the count written.
bool vmdk_inflate(std::span<const uint8_t> input, std::span<uint8_t> output, uint64_t& produced, bool whole = true);
// Inflates a raw deflate stream (no zlib header, as QCOW stores clusters)
// that must fill output exactly; bytes after the stream are ignored.
bool inflate_raw_deflate(std::span<const uint8_t> input, std::span<uint8_t> output);
// True when an inflate stops once its output is full (zlib without libdeflate).
bool vmdk_partial_inflate_available();

}  // namespace lnk
