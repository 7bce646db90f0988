// Compressed grains of a stream-optimized extent: a fixed header, one grain
// table whose 64 entries come from the input, and the rest of the input as
// grain markers and deflate data.
#include <cstdint>
#include <vector>

#include "storage/memory_source.h"
#include "storage/vmdk_chain.h"

namespace {

void put(std::vector<uint8_t>& b, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  constexpr uint64_t kGrains = 64, kGrainSectors = 8;
  const std::string descriptor = "# Disk DescriptorFile\nCID=00000001\nparentCID=ffffffff\n";
  std::vector<uint8_t> file(4 * 512, 0);
  const char magic[] = "KDMV";
  std::copy(magic, magic + 4, file.begin());
  put(file, 4, 3, 4);
  put(file, 8, (1u << 16) | (1u << 17), 4);
  put(file, 12, kGrains * kGrainSectors, 8);
  put(file, 20, kGrainSectors, 8);
  put(file, 28, 3, 8);  // descriptor in sector 3
  put(file, 36, 1, 8);
  put(file, 44, kGrains, 4);
  put(file, 56, 1, 8);  // directory in sector 1, table in sector 2
  put(file, 77, 1, 2);
  put(file, 512, 2, 4);
  std::copy(descriptor.begin(), descriptor.end(), file.begin() + 3 * 512);
  for (size_t i = 0; i < kGrains * 4 && i < size; ++i) file[2 * 512 + i] = data[i];
  if (size > kGrains * 4) file.insert(file.end(), data + kGrains * 4, data + size);

  const lnk::VmdkOpener opener = [&](const std::string&) -> std::unique_ptr<lnk::ByteSource> {
    return std::make_unique<lnk::MemorySource>(file);
  };
  lnk::VmdkChain chain;
  lnk::VmdkProblem problem;
  if (!chain.open({"s.vmdk"}, problem, opener)) return 0;
  std::vector<uint8_t> buffer(3000);
  // Odd-sized reads cross grains and hit the decompressed-grain cache.
  for (uint64_t offset = 0; offset < chain.size(); offset += buffer.size()) chain.read_at(offset, buffer);
  return 0;
}
