// The parent names of a differencing VHD or VHDX from any bytes. The input
// stands at the start of the file and again where a VHDX keeps its region
// table, so both layouts, and offsets pointing anywhere, are reached.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "storage/memory_source.h"
#include "storage/vhd_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kRegionTable = 0x30000;
  if (size > (1u << 18)) return 0;
  std::vector<uint8_t> file(kRegionTable + size, 0);
  std::copy(data, data + size, file.begin());
  std::copy(data, data + size, file.begin() + kRegionTable);
  lnk::MemorySource source(file);
  const lnk::ParentNames names = lnk::read_vhd_parent_names(source);
  for (const auto* list : {&names.relative, &names.others})
    for (const std::string& name : *list)
      if (name.empty()) __builtin_trap();
  lnk::is_vhd_footer(std::span<const uint8_t>(data, size));
  return 0;
}
