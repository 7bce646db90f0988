// Bytes already in memory, seen as a source (tests, files read whole).
#pragma once

#include <algorithm>
#include <vector>

#include "storage/byte_source.h"

namespace lnk {

class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override {
    if (offset >= bytes_.size()) return 0;
    const auto piece = bytes_.subspan(offset, std::min<uint64_t>(buffer.size(), bytes_.size() - offset));
    std::copy(piece.begin(), piece.end(), buffer.begin());
    return static_cast<int64_t>(piece.size());
  }
  uint64_t size() const override { return bytes_.size(); }

 private:
  std::span<const uint8_t> bytes_;
};

// The same, owning its bytes.
class OwnedMemorySource : public ByteSource {
 public:
  explicit OwnedMemorySource(std::vector<uint8_t> bytes) : owned_(std::move(bytes)) {}

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override {
    return MemorySource(owned_).read_at(offset, buffer);
  }
  uint64_t size() const override { return owned_.size(); }

 private:
  std::vector<uint8_t> owned_;
};

}  // namespace lnk
