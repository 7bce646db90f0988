// Any bytes as a WofCompressedData stream: the first byte picks the
// algorithm, the next two the file's size in 16-byte steps (up to 1 MiB),
// the rest are the chunk table and chunks. Reads stay within the size.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ntfs/wof_data.h"
#include "storage/memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const lnk::WofAlgorithm algorithm = static_cast<lnk::WofAlgorithm>(data[0] % 4);
  const uint32_t chunk = algorithm == lnk::WofAlgorithm::lzx ? 32768 : 4096u << (data[0] % 4 == 0 ? 0 : data[0] % 4 - 1);
  const uint64_t file_size = (uint64_t{data[1]} | uint64_t{data[2]} << 8) * 16;
  lnk::WofDataSource source(std::make_unique<lnk::OwnedMemorySource>(std::vector<uint8_t>(data + 3, data + size)),
                            nullptr, file_size, lnk::WofInfo{algorithm, chunk});
  std::vector<uint8_t> out(file_size + 16);
  const int64_t read = source.read_at(0, out);
  uint64_t mapped = 0;
  if (read < 0 || static_cast<uint64_t>(read) > file_size || source.map(0, mapped)) std::abort();
  return 0;
}
