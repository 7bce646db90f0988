// Every record of the MFT in entry order, read in large blocks that follow
// the $MFT's runs, so a volume of millions of records costs a few thousand
// reads and one buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "ntfs/ntfs_volume.h"

namespace lnk {

struct MftRecordView {
  uint64_t entry = 0;
  uint64_t volume_offset = 0;  // where the record lies in the volume
  std::span<const uint8_t> bytes;  // fixups applied, except for "BAAD"
  bool bad = false;            // a "BAAD" record, handed on unfixed
  // A torn write: a sector end did not hold the update sequence number.
  // Fixed all the same; its fields may mix two versions of the record.
  bool torn = false;
};

class MftWalk {
 public:
  static constexpr uint32_t kDefaultBlockBytes = 1u << 20;

  // Entries [first, first + count) (count 0: to the end of the MFT).
  explicit MftWalk(NtfsVolume& volume, uint64_t first = 0, uint64_t count = 0,
                   uint32_t block_bytes = kDefaultBlockBytes);
  // The next "FILE", "INDX" or "BAAD" record; records with any other
  // signature (unused, zeroed) and unreadable ones are skipped. The view
  // lasts until the next call.
  bool next(MftRecordView& out);
  // The entry the walk will look at next, and the end; for progress.
  uint64_t position() const { return block_first_ + slot_; }
  uint64_t end() const { return end_; }
  // Counts the blocks read: it changes when next() moved into a new block.
  uint64_t blocks_read() const { return blocks_read_; }
  // The records next() gives from the current block, the one it gave last
  // included; for looking ahead of the walk. No diagnostics.
  void visit_block(const std::function<void(const MftRecordView&)>& visit) const;

 private:
  enum class Slot : uint8_t { skipped, record, bad, torn };
  bool load_block();
  MftRecordView view(uint64_t slot) const;

  NtfsVolume& volume_;
  uint32_t record_size_ = 0;
  uint64_t records_per_block_ = 0;
  uint64_t end_ = 0;
  uint64_t block_first_ = 0;
  uint64_t block_count_ = 0;
  uint64_t slot_ = 0;
  std::vector<uint8_t> buffer_;
  std::vector<Slot> slots_;  // fixups are applied as the block is read
  uint64_t blocks_read_ = 0;
};

}  // namespace lnk
