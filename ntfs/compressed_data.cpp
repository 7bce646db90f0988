#include "ntfs/compressed_data.h"

#include <algorithm>

#include "ntfs/lznt1.h"

namespace lnk {

CompressedDataSource::CompressedDataSource(std::unique_ptr<ExtentSource> stored, uint64_t unit_bytes, uint64_t size,
                                           uint64_t initialized_size)
    : stored_(std::move(stored)),
      unit_bytes_(unit_bytes),
      size_(size),
      initialized_(std::min(initialized_size, size)),
      end_(size) {}

void CompressedDataSource::load_unit(uint64_t index) {
  cached_unit_ = index;
  const uint64_t start = index * unit_bytes_;
  unit_.assign(unit_bytes_, 0);
  if (start >= initialized_) return;
  // Which of the unit's clusters the runs store, and which they leave
  // sparse or unmapped.
  const uint64_t stop = std::min(start + unit_bytes_, stored_->size());
  uint64_t stored_bytes = 0, sparse_bytes = 0;
  input_.clear();
  bool readable = true;
  const std::vector<Extent>& extents = stored_->extents();
  auto first = std::upper_bound(extents.begin(), extents.end(), start,
                                [](uint64_t value, const Extent& e) { return value < e.file_offset; });
  if (first != extents.begin()) --first;
  for (auto e = first; e != extents.end() && e->file_offset < stop; ++e) {
    const uint64_t from = std::max(start, e->file_offset);
    const uint64_t to = std::min(stop, e->file_offset + e->length);
    if (from >= to) continue;
    if (e->sparse) {
      sparse_bytes += to - from;
      continue;
    }
    stored_bytes += to - from;
    const size_t at = input_.size();
    input_.resize(at + (to - from));
    readable = readable && read_exact(*stored_, from, std::span(input_).subspan(at));
  }
  const bool unmapped = stored_bytes + sparse_bytes < stop - start;
  uint64_t good = unit_bytes_;
  if (!readable || unmapped) {
    good = 0;
  } else if (sparse_bytes == 0 && stored_bytes != 0) {
    std::copy(input_.begin(), input_.end(), unit_.begin());
  } else if (stored_bytes != 0) {
    const Lznt1Result result = decode_lznt1(input_, unit_);
    if (!result.complete) good = result.decoded;
  }
  // Past the initialized size the file holds zeros, whatever the clusters say.
  if (initialized_ - start < unit_bytes_)
    std::fill(unit_.begin() + static_cast<std::ptrdiff_t>(initialized_ - start), unit_.end(), uint8_t{0});
  if (good < unit_bytes_ && start + good < initialized_) end_ = std::min(end_, start + good);
}

bool CompressedDataSource::map(uint64_t offset, uint64_t& source_offset) const {
  if (offset >= size_) return false;
  const uint64_t start = offset - offset % unit_bytes_;
  const uint64_t stop = std::min(start + unit_bytes_, stored_->size());
  // A compressed unit ends in a sparse stretch.
  uint64_t last = 0;
  if (stop > start && stored_->map(stop - 1, last)) return stored_->map(offset, source_offset);
  return stored_->map(start, source_offset);
}

int64_t CompressedDataSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  uint64_t done = 0;
  // Each pass copies at least one byte or ends the loop.
  while (done < buffer.size()) {
    const uint64_t at = offset + done;
    if (at >= end_) break;
    const uint64_t unit = at / unit_bytes_;
    if (unit != cached_unit_) {
      load_unit(unit);
      if (at >= end_) break;
    }
    const uint64_t within = at - unit * unit_bytes_;
    const uint64_t piece = std::min({buffer.size() - done, unit_bytes_ - within, end_ - at});
    std::copy_n(unit_.begin() + static_cast<std::ptrdiff_t>(within), piece,
                buffer.begin() + static_cast<std::ptrdiff_t>(done));
    done += piece;
  }
  return static_cast<int64_t>(done);
}

}  // namespace lnk
