// Any bytes as a directory index: an $INDEX_ROOT value (length in the first
// two bytes) followed by index allocation blocks, each fixed up and walked.
#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/path_lookup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 20)) return 0;
  const size_t root_length = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  const std::span<const uint8_t> root(data + 2, root_length);
  std::set<uint64_t> children;
  if (root.size() > 16) lnk::walk_index_node(root.subspan(16), children);
  const std::span<const uint8_t> allocation(data + 2 + root_length, size - 2 - root_length);
  for (size_t block_size : {size_t{4096}, size_t{1024}}) {
    for (size_t at = 0; at < allocation.size(); at += block_size) {
      const auto piece = allocation.subspan(at, std::min(block_size, allocation.size() - at));
      std::vector<uint8_t> block(piece.begin(), piece.end());
      if (!lnk::apply_fixups(block, 512) || block.size() <= 24) continue;
      lnk::walk_index_node(std::span<const uint8_t>(block).subspan(24), children);
    }
  }
  return 0;
}
