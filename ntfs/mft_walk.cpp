#include "ntfs/mft_walk.h"

#include <algorithm>

#include "platform/text.h"

namespace lnk {

MftWalk::MftWalk(NtfsVolume& volume, uint64_t first, uint64_t count, uint32_t block_bytes) : volume_(volume) {
  if (!volume.validate()) return;
  record_size_ = volume.record_size();
  records_per_block_ = std::max<uint64_t>(1, block_bytes / record_size_);
  const uint64_t records = volume.record_count();
  end_ = count == 0 || count > records - std::min(first, records) ? records : first + count;
  block_first_ = std::min(first, end_);
}

bool MftWalk::load_block() {
  block_first_ += block_count_;
  slot_ = 0;
  block_count_ = std::min(records_per_block_, end_ - block_first_);
  if (block_count_ == 0) return false;
  ByteSource& mft = *volume_.mft_bytes();
  buffer_.resize(block_count_ * record_size_);
  std::vector<bool> readable(block_count_, true);
  if (!read_exact(mft, block_first_ * record_size_, buffer_)) {
    // One bad sector must not cost the whole block: read it record by record.
    for (uint64_t i = 0; i < block_count_; ++i) {
      auto record = std::span(buffer_).subspan(i * record_size_, record_size_);
      readable[i] = read_exact(mft, (block_first_ + i) * record_size_, record);
    }
  }
  ++blocks_read_;
  // The next block's bytes are decoded while this one's records are handled.
  const uint64_t next_count = std::min(records_per_block_, end_ - (block_first_ + block_count_));
  if (next_count != 0) mft.will_read((block_first_ + block_count_) * record_size_, next_count * record_size_);
  slots_.assign(block_count_, Slot::skipped);
  for (uint64_t i = 0; i < block_count_; ++i) {
    if (!readable[i]) continue;
    auto record = std::span(buffer_).subspan(i * record_size_, record_size_);
    const RecordKind kind = record_kind(record);
    bool torn = false;
    if (kind == RecordKind::bad) slots_[i] = Slot::bad;
    else if (kind != RecordKind::other && apply_fixups(record, volume_.sector_size(), &torn))
      slots_[i] = torn ? Slot::torn : Slot::record;
  }
  return true;
}

MftRecordView MftWalk::view(uint64_t slot) const {
  MftRecordView out;
  out.entry = block_first_ + slot;
  out.volume_offset = volume_.record_offset(out.entry);
  out.bytes = std::span(buffer_).subspan(slot * record_size_, record_size_);
  out.bad = slots_[slot] == Slot::bad;
  out.torn = slots_[slot] == Slot::torn;
  return out;
}

bool MftWalk::next(MftRecordView& out) {
  if (record_size_ == 0) return false;
  while (true) {
    if (slot_ >= block_count_ && !load_block()) return false;
    const uint64_t i = slot_++;
    if (slots_[i] == Slot::skipped) continue;
    if (slots_[i] == Slot::bad) volume_.diag("err: fixup_mft type: BAAD");
    if (slots_[i] == Slot::torn)
      volume_.diag("err: damaged record 0x" + hex_lower(block_first_ + i, 1) +
                   ": a sector end does not hold the update sequence number; read as it is");
    out = view(i);
    return true;
  }
}

void MftWalk::visit_block(const std::function<void(const MftRecordView&)>& visit) const {
  for (uint64_t i = slot_ == 0 ? 0 : slot_ - 1; i < block_count_; ++i)
    if (slots_[i] != Slot::skipped) visit(view(i));
}

}  // namespace lnk
