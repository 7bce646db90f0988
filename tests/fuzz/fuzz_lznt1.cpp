// Any bytes as the stored clusters of one compression unit: the first byte
// picks the unit's size (2 KiB to 256 KiB), the rest are the chunks.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> unit(size_t{2048} << (data[0] % 8));
  const lnk::Lznt1Result result = lnk::decode_lznt1(std::span(data + 1, size - 1), unit);
  if (result.decoded > unit.size() || (result.complete && result.decoded != unit.size())) std::abort();
  return 0;
}
