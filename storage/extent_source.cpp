#include "storage/extent_source.h"

#include <algorithm>

namespace lnk {

ExtentSource::ExtentSource(ByteSource& parent, std::vector<Extent> extents, uint64_t size, uint64_t valid_size)
    : parent_(parent), size_(size), valid_size_(std::min(valid_size, size)) {
  uint64_t next_free = 0;
  for (const Extent& e : extents) {
    const bool wraps = e.length > UINT64_MAX - e.file_offset ||
                       (!e.sparse && e.length > UINT64_MAX - e.source_offset);
    if (e.length == 0 || wraps || e.file_offset < next_free) {
      well_formed_ = false;
      break;
    }
    extents_.push_back(e);
    next_free = e.file_offset + e.length;
  }
}

size_t ExtentSource::find(uint64_t offset) const {
  auto after = std::upper_bound(extents_.begin(), extents_.end(), offset,
                                [](uint64_t value, const Extent& e) { return value < e.file_offset; });
  if (after == extents_.begin()) return extents_.size();
  const size_t index = static_cast<size_t>(after - extents_.begin()) - 1;
  const Extent& e = extents_[index];
  return offset - e.file_offset < e.length ? index : extents_.size();
}

bool ExtentSource::map(uint64_t offset, uint64_t& source_offset) const {
  if (offset >= size_) return false;
  const size_t index = find(offset);
  if (index == extents_.size() || extents_[index].sparse) return false;
  source_offset = extents_[index].source_offset + (offset - extents_[index].file_offset);
  return true;
}

int64_t ExtentSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  // A pass that reads nothing means the lookup went wrong: without the
  // guard it would ask for the same piece forever.
  return read_in_passes(
      offset, buffer, size_, [this](uint64_t at, std::span<uint8_t> rest) { return read_piece(at, rest); },
      StalledPass::fails_read);
}

int64_t ExtentSource::read_piece(uint64_t at, std::span<uint8_t> rest) {
  if (at >= valid_size_) {
    std::fill(rest.begin(), rest.end(), uint8_t{0});
    return static_cast<int64_t>(rest.size());
  }
  const size_t index = find(at);
  if (index == extents_.size()) return -1;
  const Extent& e = extents_[index];
  const uint64_t within = at - e.file_offset;
  const uint64_t piece = std::min({rest.size(), e.length - within, valid_size_ - at});
  std::span<uint8_t> target = rest.first(piece);
  if (e.sparse) {
    std::fill(target.begin(), target.end(), uint8_t{0});
  } else if (!read_exact(parent_, e.source_offset + within, target)) {
    return -1;
  }
  return static_cast<int64_t>(piece);
}

HoldingRun ExtentSource::holding_at(uint64_t offset) {
  if (offset >= size_) return {Holding::data, offset};
  if (offset >= valid_size_) return {Holding::zeros, size_};
  const size_t index = find(offset);
  if (index == extents_.size()) {
    const auto next = std::upper_bound(extents_.begin(), extents_.end(), offset,
                                       [](uint64_t value, const Extent& e) { return value < e.file_offset; });
    const uint64_t hole_end = next == extents_.end() ? size_ : next->file_offset;
    return {Holding::not_stored, std::min(hole_end, valid_size_)};
  }
  const Extent& e = extents_[index];
  const uint64_t extent_end = std::min(e.file_offset + e.length, valid_size_);
  if (e.sparse) return {Holding::zeros, extent_end};
  const uint64_t within = offset - e.file_offset;
  const uint64_t at = e.source_offset + within;
  if (at >= parent_.size()) return {Holding::not_stored, extent_end};
  HoldingRun run = parent_.holding_at(at);
  run.end = run.end > at ? offset + std::min(run.end - at, extent_end - offset) : offset + 1;
  return run;
}

void ExtentSource::will_read(uint64_t offset, uint64_t length) {
  const uint64_t end = std::min({size_, valid_size_, offset + std::min(length, UINT64_MAX - offset)});
  // From the extent holding offset, else the first one after it.
  size_t index = find(offset);
  if (index == extents_.size()) {
    const auto after = std::upper_bound(extents_.begin(), extents_.end(), offset,
                                        [](uint64_t value, const Extent& e) { return value < e.file_offset; });
    index = static_cast<size_t>(after - extents_.begin());
  }
  for (; index < extents_.size() && extents_[index].file_offset < end; ++index) {
    const Extent& e = extents_[index];
    if (e.sparse) continue;
    const uint64_t from = std::max(offset, e.file_offset);
    const uint64_t to = std::min(end, e.file_offset + e.length);
    if (from < to) parent_.will_read(e.source_offset + (from - e.file_offset), to - from);
  }
}

}  // namespace lnk
