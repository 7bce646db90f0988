#include "carve/carve_context.h"

#include <algorithm>

namespace lnk {
namespace {

constexpr uint32_t kChunkSize = 65536;
constexpr uint32_t kTailSize = 16384;
constexpr uint32_t kQuickRun = 64;
constexpr uint32_t kSectorSize = 512;
constexpr std::array<uint8_t, 4> kMftRecordSignature = {'F', 'I', 'L', 'E'};

}  // namespace

bool bind_carve_context(CarveContext& context, ByteSource* source) {
  context.chunk_counter = 0;
  context.position = 0;
  context.hit_position = 0;
  context.quick_run = kQuickRun;
  context.sector = kSectorSize;
  context.label.clear();
  context.percent_display = true;
  context.ready = false;
  context.source = source;
  // A closed source reads as empty: nothing to carve.
  if (source == nullptr || source->size() == 0) return false;
  context.chunk_size = kChunkSize;
  context.tail_size = kTailSize;
  context.buffer.assign(std::max(kChunkSize, kTailSize), 0);
  context.source_size = source->size();
  context.range_end = static_cast<int64_t>(std::min<uint64_t>(context.source_size, INT64_MAX));
  context.record_pattern.assign(kLnkHeaderSignature.begin(), kLnkHeaderSignature.end());
  context.quick_patterns = {context.record_pattern,
                            std::vector<uint8_t>(kMftRecordSignature.begin(), kMftRecordSignature.end())};
  context.ready = true;
  return true;
}

}  // namespace lnk
