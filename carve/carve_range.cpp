#include <algorithm>
#include <array>

#include "carve/carve_context.h"
#include "carve/quick_pass.h"
#include "carve/source_type.h"
#include "carve/status_line.h"
#include "lnk/parse_lnk.h"
#include "ntfs/mft_record.h"
#include "lnk/signature_search.h"

namespace lnk {
namespace {

constexpr int kStatusWidth = 45;
constexpr uint64_t kShortestRecord = 76;
constexpr uint64_t kMftSectorStride = 512;
constexpr uint64_t kLongestMftRecord = 4096;
constexpr std::array<uint8_t, 4> kFileRecordMagic = {'F', 'I', 'L', 'E'};
constexpr int64_t kStatusEverySize = 16385;
constexpr uint64_t kStatusEveryChunks = 5;

void show_progress(const CarveContext& context, int& shown_percent) {
  const bool periodic = context.chunk_counter % kStatusEveryChunks == 0 && context.range_end >= kStatusEverySize;
  if (!context.percent_display) {
    if (periodic) status_line(kStatusWidth, "offset 0x%llx", static_cast<unsigned long long>(context.position));
    return;
  }
  const uint64_t position = std::min(context.bytes_read, context.bytes_to_read);
  const uint64_t end = context.bytes_to_read;
  int percent = 0;
  if (end >= 100) percent = static_cast<int>(position <= UINT64_MAX / 100 ? position * 100 / end : position / (end / 100));
  else if (end > 0) percent = static_cast<int>(position * 100 / end);
  if (percent != shown_percent || periodic) {
    status_line(kStatusWidth, "percent done: %lld [offset 0x%llx]", static_cast<long long>(percent),
                static_cast<unsigned long long>(context.position));
    shown_percent = percent;
  }
}

// A shortcut small enough to live inside its MFT record carries the
// record's update sequence value in the last two bytes of every sector. When
// the nearest record header before the hit is a "FILE" record that covers
// it, the bytes are taken from a copy of that record with its fixups applied.
bool bytes_from_file_record(CarveContext& context, uint64_t hit, std::span<const uint8_t>& out) {
  const uint64_t sector_start = hit - hit % kMftSectorStride;
  for (uint64_t back = 0; back < kLongestMftRecord / kMftSectorStride; ++back) {
    if (back * kMftSectorStride > sector_start) return false;
    const uint64_t at = sector_start - back * kMftSectorStride;
    if (at == hit) continue;  // the shortcut itself starts there
    std::array<uint8_t, 4> magic{};
    if (!read_exact(*context.source, at, magic) || magic != kFileRecordMagic) continue;
    uint64_t count = 0;
    std::span<uint8_t> window = std::span<uint8_t>(context.record_window).first(kLongestMftRecord);
    if (!read_available(*context.source, at, window, count) ||
        !fixed_file_record(window.first(count), kMftSectorStride, context.fixed_record) ||
        hit - at >= context.fixed_record.size())
      return false;
    out = std::span<const uint8_t>(context.fixed_record).subspan(hit - at);
    return true;
  }
  return false;
}

// The signature a shortcut starts with: header size and class identifier.
constexpr uint64_t kSignatureBytes = 20;

// A shortcut header across a sector end of an MFT record holds, raw, the
// update sequence number in place of two of its bytes, so no signature
// search over the raw bytes finds it. Each "FILE" record the chunk holds
// whole is searched again with its fixups applied, for the headers that
// cross a sector end and differ there from the raw bytes.
bool carve_across_fixups(CarveContext& context, std::span<const uint8_t> chunk, const SourceInfo& source,
                         RecordOutlet& outlet) {
  bool found = false;
  std::vector<uint64_t>& hits = context.full_hits;
  for (uint64_t at = 0; at + kMftSectorStride <= chunk.size(); at += kMftSectorStride) {
    if (!std::equal(kFileRecordMagic.begin(), kFileRecordMagic.end(), chunk.begin() + static_cast<std::ptrdiff_t>(at)) ||
        !fixed_file_record(chunk.subspan(at), kMftSectorStride, context.fixed_record))
      continue;
    const std::span<const uint8_t> fixed(context.fixed_record);
    hits.clear();
    context.search.find_all(fixed, hits);
    for (uint64_t hit : hits) {
      const uint64_t sector_end = hit - hit % kMftSectorStride + kMftSectorStride;
      if (hit + kSignatureBytes <= sector_end - 2 || sector_end > fixed.size() ||
          std::equal(fixed.begin() + static_cast<std::ptrdiff_t>(hit),
                     fixed.begin() + static_cast<std::ptrdiff_t>(hit + kSignatureBytes),
                     chunk.begin() + static_cast<std::ptrdiff_t>(at + hit)))
        continue;
      const uint64_t position = static_cast<uint64_t>(context.position) + at + hit;
      LnkRecord& record = context.record;
      record = LnkRecord{};
      record.artifact = "LNK";
      record.source_type = carved_source_type(position, context.label);
      const std::span<const uint8_t> bytes = fixed.subspan(hit);
      if (!parse_lnk_record(record, bytes, position)) continue;
      record.lnk_offset = position;
      outlet.put(record, source, ParsedBytes{bytes.first(record.parsed_size), position, {}});
      found = true;
    }
    at += context.fixed_record.size() - kMftSectorStride;
  }
  return found;
}

// Parses the record at hit index i of the chunk; the last hit near the
// chunk's end is re-read from its sector so the record is not cut.
bool carve_hit(CarveContext& context, std::span<uint8_t> chunk, size_t i, const SourceInfo& source,
               RecordOutlet& outlet) {
  const uint64_t pos = context.hits[i].position;
  std::span<const uint8_t> bytes;
  if (i + 1 < context.hits.size()) {
    // A record cut to its header or less is refused by the parser anyway;
    // data thick with signatures is mostly such hits.
    if (context.hits[i + 1].position - pos <= kShortestRecord) return false;
    bytes = chunk.subspan(pos, context.hits[i + 1].position - pos);
    context.hit_position = context.position + static_cast<int64_t>(pos);
  } else if (chunk.size() - pos < context.tail_size) {
    const uint64_t in_sector = pos % context.sector;
    const uint64_t base = static_cast<uint64_t>(context.position) + pos - in_sector;
    const uint64_t range_end = static_cast<uint64_t>(context.range_end);
    uint64_t count = std::min<uint64_t>(context.tail_size, range_end > base ? range_end - base : 0);
    if (count == 0 ||
        !read_available(*context.source, base, std::span<uint8_t>(context.buffer).first(count), count) ||
        count <= in_sector)
      return false;
    bytes = std::span<uint8_t>(context.buffer).subspan(in_sector, count - in_sector);
    context.hit_position = static_cast<int64_t>(base + in_sector);
  } else {
    bytes = chunk.subspan(pos);
    context.hit_position = context.position + static_cast<int64_t>(pos);
  }

  const auto hit_position = static_cast<uint64_t>(context.hit_position);
  std::span<const uint8_t> fixed;
  if (bytes_from_file_record(context, hit_position, fixed)) bytes = fixed.first(std::min(fixed.size(), bytes.size()));

  LnkRecord& record = context.record;
  record = LnkRecord{};
  record.artifact = "LNK";
  record.source_type = carved_source_type(hit_position, context.label);
  record.lnk_offset = hit_position;
  if (!parse_lnk_record(record, bytes, hit_position)) return false;
  record.lnk_offset = hit_position;
  outlet.put(record, source, ParsedBytes{bytes.first(record.parsed_size), hit_position, {}});
  return true;
}

// Up to 16 stretches without stored data are named; a damaged container
// could have thousands.
constexpr uint32_t kUnstoredToldAtMost = 16;

void tell_unstored(CarveContext& context, uint64_t start, uint64_t end, bool repeated = false) {
  if (context.unstored_told++ >= kUnstoredToldAtMost) return;
  const auto first = static_cast<unsigned long long>(start);
  if (repeated)
    std::fprintf(stderr, "offset 0x%llx to 0x%llx repeats bytes the container maps to an earlier offset; "
                 "passed over\n", first, static_cast<unsigned long long>(end));
  else if (end >= context.source_size)
    std::fprintf(stderr, "data ends at offset 0x%llx: the container claims 0x%llx bytes but stores none past it; "
                 "carving stops there\n", first, static_cast<unsigned long long>(context.source_size));
  else
    std::fprintf(stderr, "no data stored from offset 0x%llx to 0x%llx; passed over\n", first,
                 static_cast<unsigned long long>(end));
}

// The stretch from position on that holds no new data, runs of zeros, of
// unstored and of repeated bytes merged, up to the range end; where the
// first unstored and the first repeated run in it start.
struct NoData {
  uint64_t end = 0;
  uint64_t unstored_start = 0;
  uint64_t repeated_start = 0;
  uint64_t repeated_end = 0;
  bool unstored = false;
  bool repeated = false;
};

NoData no_data_from(ByteSource& source, uint64_t position, uint64_t range_end) {
  NoData gap;
  gap.end = position;
  // Every run ends past its start, so each pass moves on.
  while (gap.end < range_end) {
    const HoldingRun run = source.holding_at(gap.end);
    if (run.holding == Holding::data) break;
    const uint64_t run_end = std::min(std::max(run.end, gap.end + 1), range_end);
    if (run.holding == Holding::not_stored && !gap.unstored) {
      gap.unstored = true;
      gap.unstored_start = gap.end;
    }
    if (run.holding == Holding::repeated) {
      if (!gap.repeated) gap.repeated_start = gap.end;
      gap.repeated = true;
      gap.repeated_end = run_end;
    }
    gap.end = run_end;
  }
  return gap;
}

void tell_gap(CarveContext& context, const NoData& gap) {
  if (gap.repeated) tell_unstored(context, gap.repeated_start, gap.repeated_end, true);
  if (gap.unstored) tell_unstored(context, gap.unstored_start, gap.end);
}

// Moves the position past whole chunks that hold no data; true when it
// moved (or the range is done).
bool pass_over_no_data(CarveContext& context) {
  const auto position = static_cast<uint64_t>(context.position);
  const auto range_end = static_cast<uint64_t>(context.range_end);
  const NoData gap = no_data_from(*context.source, position, range_end);
  const uint64_t chunks = (gap.end - position) / context.chunk_size;
  if (chunks == 0 && gap.end != range_end) return false;
  tell_gap(context, gap);
  context.position = gap.end == range_end ? context.range_end
                                          : context.position + static_cast<int64_t>(chunks * context.chunk_size);
  return true;
}

// Where the source stores nothing more from inside or at the end of this
// chunk up to the range end, the range ends there: a read across (the
// chunk's, or the re-read of its last record) would fail whole.
void end_range_at_stored_end(CarveContext& context, uint64_t length) {
  const auto position = static_cast<uint64_t>(context.position);
  const auto range_end = static_cast<uint64_t>(context.range_end);
  const HoldingRun run = context.source->holding_at(position);
  if (run.holding != Holding::data || run.end > position + length || run.end >= range_end) return;
  const NoData gap = no_data_from(*context.source, run.end, range_end);
  if (gap.end != range_end || !gap.unstored) return;
  tell_gap(context, gap);
  context.range_end = static_cast<int64_t>(run.end);
}

}  // namespace

bool carve_range(CarveContext& context, const SourceInfo& source, RecordOutlet& outlet) {
  if (!context.ready || context.source == nullptr) return false;
  bool found = false;
  int shown_percent = -1;
  if (outlet.progress() && context.percent_display) {
    context.bytes_to_read = bytes_holding_data(*context.source, static_cast<uint64_t>(context.position),
                                               static_cast<uint64_t>(context.range_end));
    context.bytes_read = 0;
  }
  // Each pass moves the position on by at least a whole chunk.
  while (context.position < context.range_end) {
    if (pass_over_no_data(context)) continue;
    if (outlet.progress()) show_progress(context, shown_percent);
    end_range_at_stored_end(context, std::min<uint64_t>(context.chunk_size, context.range_end - context.position));
    uint64_t length = std::min<uint64_t>(context.chunk_size, static_cast<uint64_t>(context.range_end - context.position));
    context.bytes_read += length;
    const std::span<uint8_t> wanted = std::span<uint8_t>(context.buffer).first(length);
    if (read_available(*context.source, static_cast<uint64_t>(context.position), wanted, length) && length > 0) {
      const std::span<uint8_t> chunk = wanted.first(length);
      quick_pass(context, chunk, context.hits);
      if (!context.hits.empty() && needs_full_search(context, context.hits)) {
        context.full_hits.clear();
        context.search.find_all(chunk, context.full_hits);
        context.hits.clear();
        for (uint64_t at : context.full_hits) context.hits.push_back({at, 0});
      }
      for (size_t i = 0; i < context.hits.size(); ++i) found |= carve_hit(context, chunk, i, source, outlet);
      found |= carve_across_fixups(context, chunk, source, outlet);
    }
    ++context.chunk_counter;
    context.position += context.chunk_size;
  }
  if (outlet.progress()) status_line(kStatusWidth, " ");
  return found;
}

bool carve_source(ByteSource& bytes, const SourceInfo& source, RecordOutlet& outlet) {
  CarveContext context;
  if (!bind_carve_context(context, &bytes)) return false;
  return carve_range(context, source, outlet);
}

}  // namespace lnk
