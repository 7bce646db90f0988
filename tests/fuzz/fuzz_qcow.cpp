// One QCOW file (versions 1 to 3) from any bytes, read alone: headers, L1
// and L2 tables, compressed and subcluster entries pointing anywhere.
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_layer_reads.h"
#include "storage/qcow_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  auto file = std::make_shared<lnk::OwnedMemorySource>(std::vector<uint8_t>(data, data + size));
  lnk::ContainerProblem problem;
  if (auto layer = lnk::open_qcow_layer(file, "fuzz.qcow2", problem)) lnk::fuzz::read_layer(std::move(layer));
  return 0;
}
