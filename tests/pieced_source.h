// A source that claims a size but holds data only in the pieces it is
// given; between them it holds zeros or stores nothing. It counts the bytes
// read outside its pieces: a reader that trusts holding_at reads none.
#pragma once

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

#include "storage/byte_source.h"

namespace lnk::test {

class PiecedSource : public ByteSource {
 public:
  PiecedSource(uint64_t size, Holding between) : size_(size), between_(between) {}

  void put(uint64_t offset, std::vector<uint8_t> bytes) { pieces_[offset] = std::move(bytes); }
  uint64_t size() const override { return size_; }
  uint64_t read_outside() const { return read_outside_; }

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override {
    if (offset >= size_) return 0;
    const uint64_t count = std::min<uint64_t>(buffer.size(), size_ - offset);
    for (uint64_t done = 0; done < count;) {
      const HoldingRun run = holding_at(offset + done);
      const uint64_t piece = std::min(run.end - (offset + done), count - done);
      const auto target = buffer.subspan(done, piece);
      if (run.holding == Holding::data) {
        const auto& [start, bytes] = *std::prev(pieces_.upper_bound(offset + done));
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset + done - start), piece, target.begin());
      } else {
        read_outside_ += piece;
        if (between_ == Holding::not_stored) return -1;
        std::fill(target.begin(), target.end(), uint8_t{0});
      }
      done += piece;
    }
    return static_cast<int64_t>(count);
  }

  HoldingRun holding_at(uint64_t offset) override {
    const auto after = pieces_.upper_bound(offset);
    if (after != pieces_.begin()) {
      const auto& [start, bytes] = *std::prev(after);
      if (offset - start < bytes.size()) return {Holding::data, start + bytes.size()};
    }
    return {between_, after == pieces_.end() ? size_ : after->first};
  }

 private:
  uint64_t size_;
  Holding between_;
  std::map<uint64_t, std::vector<uint8_t>> pieces_;
  uint64_t read_outside_ = 0;
};

}  // namespace lnk::test
