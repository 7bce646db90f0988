#include "storage/split_raw_source.h"

#include <algorithm>

#include "platform/byte_reader.h"
#include "storage/file_source.h"

namespace lnk {
namespace {

// Sets run to thousands of segments; the process may not hold that many
// descriptors, and a scan moves through them in order anyway.
constexpr size_t kMaxOpenSegments = 16;

}  // namespace

SegmentOpener segment_file_opener() {
  return [](const std::string& path) -> std::unique_ptr<ByteSource> { return FileSource::open(path); };
}

ContainerProblem SplitRawSource::open(const std::vector<std::string>& segments, const SegmentOpener& opener) {
  opener_ = opener;
  segments_.clear();
  starts_.clear();
  open_files_.clear();
  size_ = 0;
  for (const std::string& path : segments) {
    std::unique_ptr<ByteSource> file = opener_ ? opener_(path) : nullptr;
    uint64_t end = 0;
    if (!file || !checked_add(size_, file->size(), end)) {
      segments_.clear();
      starts_.clear();
      open_files_.clear();
      size_ = 0;
      return {.kind = ContainerProblemKind::unreadable, .file = path};
    }
    segments_.push_back({path, size_, file->size()});
    starts_.push_back(size_);
    size_ = end;
    open_files_.emplace_front(segments_.size() - 1, std::move(file));
    if (open_files_.size() > kMaxOpenSegments) open_files_.pop_back();
  }
  return {};
}

ByteSource* SplitRawSource::file(size_t index) {
  for (auto it = open_files_.begin(); it != open_files_.end(); ++it) {
    if (it->first != index) continue;
    open_files_.splice(open_files_.begin(), open_files_, it);
    return open_files_.front().second.get();
  }
  std::unique_ptr<ByteSource> file = opener_ ? opener_(segments_[index].path) : nullptr;
  if (!file) return nullptr;
  open_files_.emplace_front(index, std::move(file));
  if (open_files_.size() > kMaxOpenSegments) open_files_.pop_back();
  return open_files_.front().second.get();
}

int64_t SplitRawSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (offset >= size_ || buffer.empty()) return 0;
  const uint64_t total = std::min<uint64_t>(buffer.size(), size_ - offset);
  uint64_t done = 0;
  // Each pass fills at least one byte or fails: the segment found holds at.
  while (done < total) {
    const uint64_t at = offset + done;
    // The last segment starting at or before at; empty segments before it share its start.
    const size_t index =
        static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), at) - starts_.begin()) - 1;
    const Segment& segment = segments_[index];
    const uint64_t within = at - segment.start;
    const uint64_t piece = std::min(total - done, segment.size - within);
    ByteSource* source = file(index);
    // A segment that went away or shrank since the set was opened fails the read.
    if (source == nullptr || !read_exact(*source, within, buffer.subspan(done, piece))) return -1;
    done += piece;
  }
  return static_cast<int64_t>(total);
}

}  // namespace lnk
