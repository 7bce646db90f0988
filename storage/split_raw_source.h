// A raw image split into segment files (image.001, image.002, ...), read as
// the one image their concatenation is. Segments may differ in size; a
// segment that cannot be read makes the read fail, never reads as zeros.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "storage/byte_source.h"
#include "storage/container_problem.h"

namespace lnk {

// Opens one file read-only; null when it cannot be opened.
using SegmentOpener = std::function<std::unique_ptr<ByteSource>(const std::string& path)>;
// Files on disk, through the platform layer.
SegmentOpener segment_file_opener();

class SplitRawSource : public ByteSource {
 public:
  // Opens every segment once to learn its size; the first that cannot be
  // opened is named in the problem.
  ContainerProblem open(const std::vector<std::string>& segments, const SegmentOpener& opener = segment_file_opener());

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  size_t segment_count() const { return segments_.size(); }

 private:
  struct Segment {
    std::string path;
    uint64_t start = 0;
    uint64_t size = 0;
  };
  // The segment's file, opened again if it was closed to keep the count of
  // open files down.
  ByteSource* file(size_t index);

  SegmentOpener opener_;
  std::vector<Segment> segments_;
  std::vector<uint64_t> starts_;
  uint64_t size_ = 0;
  // Most recently used first.
  std::list<std::pair<size_t, std::unique_ptr<ByteSource>>> open_files_;
};

}  // namespace lnk
