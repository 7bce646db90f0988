// A window (offset + length) of another source: a partition inside a disk,
// a volume inside an image. Reads never leave the window.
#pragma once

#include "storage/byte_source.h"

namespace lnk {

class WindowSource : public ByteSource {
 public:
  // The window is clipped to the parent's size.
  WindowSource(ByteSource& parent, uint64_t offset, uint64_t length);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return length_; }
  uint32_t sector_size() const override { return parent_.sector_size(); }
  HoldingRun holding_at(uint64_t offset) override;
  bool reads_ahead() override { return parent_.reads_ahead(); }
  void will_read(uint64_t offset, uint64_t length) override;
  uint64_t window_offset() const { return offset_; }

 private:
  ByteSource& parent_;
  uint64_t offset_;
  uint64_t length_;
};

}  // namespace lnk
