#include "storage/window_source.h"

#include <algorithm>

namespace lnk {

WindowSource::WindowSource(ByteSource& parent, uint64_t offset, uint64_t length)
    : parent_(parent), offset_(offset), length_(0) {
  const uint64_t parent_size = parent.size();
  if (offset < parent_size) length_ = std::min(length, parent_size - offset);
}

int64_t WindowSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (offset >= length_) return 0;
  const uint64_t count = std::min<uint64_t>(buffer.size(), length_ - offset);
  return parent_.read_at(offset_ + offset, buffer.first(count));
}

HoldingRun WindowSource::holding_at(uint64_t offset) {
  if (offset >= length_) return {Holding::data, offset};
  HoldingRun run = parent_.holding_at(offset_ + offset);
  run.end = run.end > offset_ + offset ? std::min(run.end - offset_, length_) : offset + 1;
  return run;
}

void WindowSource::will_read(uint64_t offset, uint64_t length) {
  if (offset >= length_) return;
  parent_.will_read(offset_ + offset, std::min(length, length_ - offset));
}

}  // namespace lnk
