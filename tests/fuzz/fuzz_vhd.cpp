// One VHD file from any bytes, read alone: the footer (at the end, and its
// copy at the start), the dynamic header, block table and sector bitmaps.
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_layer_reads.h"
#include "storage/vhd_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  auto file = std::make_shared<lnk::OwnedMemorySource>(std::vector<uint8_t>(data, data + size));
  lnk::ContainerProblem problem;
  if (auto layer = lnk::open_vhd_layer(file, "fuzz.vhd", problem)) lnk::fuzz::read_layer(std::move(layer));
  return 0;
}
