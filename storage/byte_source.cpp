#include "storage/byte_source.h"

namespace lnk {

bool read_available(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer, uint64_t& count) {
  count = 0;
  // Each pass either moves on or ends the loop.
  while (count < buffer.size()) {
    const int64_t got = source.read_at(offset + count, buffer.subspan(count));
    if (got < 0) return false;
    if (got == 0) break;
    count += static_cast<uint64_t>(got);
  }
  return true;
}

bool read_exact(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer) {
  uint64_t count = 0;
  return read_available(source, offset, buffer, count) && count == buffer.size();
}

}  // namespace lnk
