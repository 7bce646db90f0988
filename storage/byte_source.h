// Bytes at 64-bit offsets: the one interface every storage layer offers
// (image file, device, memory, a window of another source, and the
// containers built on them).
#pragma once

#include <cstdint>
#include <span>

namespace lnk {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to buffer.size() bytes at offset. Returns the count read, which
  // is short only at the end of the source (0 at or past it), or -1 when the
  // bytes cannot be read.
  virtual int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) = 0;
  virtual uint64_t size() const = 0;
  // The unit reads should be aligned to for speed; any read is allowed.
  virtual uint32_t sector_size() const { return 512; }
};

// Fills the whole buffer or fails; a read cut by the end is a failure.
bool read_exact(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer);
// Reads as much of the buffer as the source holds; false only on an error.
// count is what was read.
bool read_available(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer, uint64_t& count);

}  // namespace lnk
