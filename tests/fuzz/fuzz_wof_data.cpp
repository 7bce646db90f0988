// Any bytes as a WofCompressedData stream: the first byte picks the
// algorithm, the next four the file's size (up to 1 MiB), the rest are the
// chunk table and chunks. Every byte is read; reads stay within the size.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ntfs/wof_data.h"
#include "storage/memory_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  const std::vector<uint8_t> header(data, data + 5);
  static const lnk::WofInfo kInfos[] = {{lnk::WofAlgorithm::xpress4k, 4096},
                                        {lnk::WofAlgorithm::lzx, 32768},
                                        {lnk::WofAlgorithm::xpress8k, 8192},
                                        {lnk::WofAlgorithm::xpress16k, 16384}};
  const lnk::WofInfo info = kInfos[header[0] % 4];
  const uint64_t file_size = (uint64_t{header[1]} | uint64_t{header[2]} << 8 | uint64_t{header[3]} << 16 |
                              uint64_t{header[4]} << 24) % ((1u << 20) + 1);
  auto stream = std::make_unique<lnk::OwnedMemorySource>(std::vector<uint8_t>(data + 5, data + size));
  lnk::WofDataSource source(std::move(stream), nullptr, file_size, info);
  std::vector<uint8_t> out(file_size + 16);
  const int64_t read = source.read_at(0, out);
  if (read < 0 || static_cast<uint64_t>(read) > file_size || source.good_end() > file_size) std::abort();
  uint64_t mapped = 0;
  if (source.map(0, mapped)) std::abort();  // a resident stream has no place
  return 0;
}
