// Compressed grains of a stream-optimized extent: a fixed header, one grain
// table whose 64 entries come from the input, and the rest of the input as
// grain markers and deflate data.
#include <cstdint>
#include <vector>

#include "storage/vmdk_chain.h"
#include "tests/vmdk_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::test::SparseDisk disk;
  disk.capacity_sectors = 64 * disk.grain_sectors;
  disk.gtes = 64;
  disk.version = 3;
  disk.flags = lnk::kVmdkFlagCompressed | lnk::kVmdkFlagMarkers;
  disk.descriptor = "# Disk DescriptorFile\nCID=00000001\nparentCID=ffffffff\n";
  lnk::test::SparseLayout layout;
  lnk::test::MemoryFiles files;
  std::vector<uint8_t>& file = files.files["s.vmdk"] = lnk::test::build_sparse(disk, &layout);
  lnk::test::put_le(file, 77, 1, 2);  // deflate
  for (size_t i = 0; i < disk.gtes * 4 && i < size; ++i) file[layout.tables[0] * 512 + i] = data[i];
  if (size > disk.gtes * 4) file.insert(file.end(), data + disk.gtes * 4, data + size);

  lnk::VmdkChain chain;
  lnk::VmdkProblem problem;
  if (!chain.open({"s.vmdk"}, problem, files.opener())) return 0;
  std::vector<uint8_t> buffer(3000);
  // Odd-sized reads cross grains and hit the decompressed-grain cache.
  for (uint64_t offset = 0; offset < chain.size(); offset += buffer.size()) chain.read_at(offset, buffer);
  return 0;
}
