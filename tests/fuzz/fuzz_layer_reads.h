// What every container fuzz target does with a file that opened: reads at
// a few places and walks what it holds, as a scan would.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "storage/layered_disk.h"
#include "storage/memory_source.h"

namespace lnk::fuzz {

inline void read_layer(std::unique_ptr<MappedLayer> layer) {
  LayeredDisk disk;
  disk.open_alone(std::move(layer));
  std::vector<uint8_t> buffer(64 << 10);
  const uint64_t size = disk.size();
  for (uint64_t offset : {uint64_t{0}, size / 2, size - std::min<uint64_t>(size, 100000)}) {
    disk.will_read(offset, 3 * buffer.size());
    for (int step = 0; step < 3 && offset < size; ++step, offset += buffer.size()) disk.read_at(offset, buffer);
  }
  // Each run ends past its start; a few hundred of them at most.
  uint64_t at = 0;
  for (int runs = 0; runs < 200 && at < size; ++runs) {
    const HoldingRun run = disk.holding_at(at);
    if (run.end <= at) __builtin_trap();
    at = run.end;
  }
}

}  // namespace lnk::fuzz
