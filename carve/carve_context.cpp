#include "carve/carve_context.h"

#include <algorithm>

#include "platform/byte_reader.h"

namespace lnk {
namespace {

constexpr uint32_t kChunkSize = 65536;
constexpr uint32_t kTailSize = 16384;
constexpr uint32_t kQuickRun = 64;
constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kShortcutPattern = 0;
constexpr uint32_t kMftRecordPattern = 1;
constexpr std::array<uint8_t, 4> kMftRecordSignature = {'F', 'I', 'L', 'E'};

// Appends the positions in [from, to) where pattern starts.
void find_in_window(const ByteReader& chunk, std::span<const uint8_t> bytes, uint64_t from,
                    uint64_t to, const std::vector<uint8_t>& pattern, uint32_t kind,
                    std::vector<CarveHit>& hits) {
  if (pattern.empty()) return;
  const auto window = bytes.subspan(from, to - from);
  auto at = window.begin();
  while ((at = std::find(at, window.end(), pattern.front())) != window.end()) {
    const uint64_t position = from + static_cast<uint64_t>(at - window.begin());
    if (chunk.matches(position, pattern)) hits.push_back({position, kind});
    ++at;
  }
}

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

void quick_pass(const CarveContext& context, std::span<const uint8_t> chunk, std::vector<CarveHit>& hits) {
  hits.clear();
  const ByteReader reader(chunk);
  const uint64_t sector = context.sector == 0 ? kSectorSize : context.sector;
  for (uint64_t start = 0; start < chunk.size(); start += sector) {
    const uint64_t end = std::min<uint64_t>(start + context.quick_run, chunk.size());
    const size_t first = hits.size();
    // Patterns start with different bytes, so one position matches at most
    // one of them; merging the per-pattern runs keeps position order.
    for (uint32_t kind = 0; kind < context.quick_patterns.size(); ++kind) {
      const size_t middle = hits.size();
      find_in_window(reader, chunk, start, end, context.quick_patterns[kind], kind, hits);
      std::inplace_merge(hits.begin() + static_cast<std::ptrdiff_t>(first),
                         hits.begin() + static_cast<std::ptrdiff_t>(middle), hits.end(),
                         [](const CarveHit& a, const CarveHit& b) { return a.position < b.position; });
    }
  }
}

bool needs_full_search(const CarveContext& context, const std::vector<CarveHit>& hits) {
  const uint64_t sector = context.sector == 0 ? kSectorSize : context.sector;
  for (const CarveHit& hit : hits) {
    const bool aligned = hit.position % sector == 0;
    if (hit.pattern == kShortcutPattern && !aligned) return true;
    if (hit.pattern == kMftRecordPattern && aligned) return true;
  }
  return false;
}

}  // namespace lnk
