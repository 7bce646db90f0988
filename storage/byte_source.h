// Bytes at 64-bit offsets: the one interface every storage layer offers
// (image file, device, memory, a window of another source, and the
// containers built on them).
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>

namespace lnk {

// What a stretch of a source holds, as far as the source knows without
// reading it.
enum class Holding : uint8_t {
  data,        // may hold data: read it
  zeros,       // reads as zeros: a grain never written, a ZERO extent, a sparse run
  not_stored,  // inside the size a header claims, but the container keeps no
               // bytes for it; reads fail or give zeros
  repeated,    // bytes the container also maps to an earlier offset: a table
               // that names the same stored bytes again claims more than it stores
};

struct HoldingRun {
  Holding holding = Holding::data;
  uint64_t end = 0;  // the holding lasts from the offset asked about up to here
  friend bool operator==(const HoldingRun&, const HoldingRun&) = default;
};

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
  // What the bytes from offset on hold; for an offset below the size, end
  // lies beyond it. A source that knows nothing more holds data to its end.
  virtual HoldingRun holding_at(uint64_t offset) { return {Holding::data, std::max(size(), offset)}; }
  // Whether will_read can make later reads faster: a container that decodes
  // its blocks on worker threads, or a window of one.
  virtual bool reads_ahead() { return false; }
  // [offset, offset + length) will be read soon, in the order of these
  // calls: its blocks may be decoded ahead, as far as the source's memory
  // bound lets them. Reads give the same bytes, and fail the same way,
  // whether they were announced or not.
  virtual void will_read(uint64_t offset, uint64_t length) {
    (void)offset;
    (void)length;
  }
};

// The bytes of [start, end) that may hold data: what a scan of it reads.
uint64_t bytes_holding_data(ByteSource& source, uint64_t start, uint64_t end);

// Fills the whole buffer or fails; a read cut by the end is a failure.
bool read_exact(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer);
// Reads as much of the buffer as the source holds; false only on an error.
// count is what was read.
bool read_available(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer, uint64_t& count);

// What a pass that reads nothing means: for a library's reader, that it has
// nothing more; for a reader that must always move forward (a lookup of
// the piece holding an offset), that it is broken.
enum class StalledPass { ends_read, fails_read };

// For sources read in pieces (a library's reads may stop short at a chunk
// or block boundary; a file's extents each cover a stretch): calls
// read_once(offset, buffer) until the part of buffer below size is filled,
// an error (negative, giving -1) or a pass that reads nothing, which ends
// the read or fails it as stalled says.
template <typename ReadOnce>
int64_t read_in_passes(uint64_t offset, std::span<uint8_t> buffer, uint64_t size, ReadOnce read_once,
                       StalledPass stalled = StalledPass::ends_read) {
  if (offset >= size || buffer.empty()) return 0;
  const uint64_t wanted = std::min<uint64_t>(buffer.size(), size - offset);
  uint64_t done = 0;
  while (done < wanted) {
    const int64_t got = read_once(offset + done, buffer.subspan(done, wanted - done));
    if (got < 0) return -1;
    if (got == 0) {
      if (stalled == StalledPass::fails_read) return -1;
      break;
    }
    done += static_cast<uint64_t>(got);
  }
  return static_cast<int64_t>(done);
}

}  // namespace lnk
