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

uint64_t bytes_holding_data(ByteSource& source, uint64_t start, uint64_t end) {
  end = std::min(end, source.size());
  uint64_t total = 0;
  // Every run ends past its start, so each pass moves on.
  for (uint64_t at = start; at < end;) {
    const HoldingRun run = source.holding_at(at);
    const uint64_t run_end = std::min(std::max(run.end, at + 1), end);
    if (run.holding == Holding::data) total += run_end - at;
    at = run_end;
  }
  return total;
}

bool read_exact(ByteSource& source, uint64_t offset, std::span<uint8_t> buffer) {
  uint64_t count = 0;
  return read_available(source, offset, buffer, count) && count == buffer.size();
}

}  // namespace lnk
