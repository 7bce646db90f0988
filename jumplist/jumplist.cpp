#include "jumplist/jumplist.h"

#include <algorithm>
#include <vector>

#include "carve/status_line.h"
#include "jumplist/compound_file.h"
#include "jumplist/jumplist_records.h"
#include "lnk/parse_lnk.h"
#include "report/record_writer.h"

namespace lnk {
namespace {

constexpr uint64_t kSmallestJumpList = 4096;
constexpr int kStatusWidth = 45;

struct Pass {
  std::string source_type;
  bool from_slack = false;
};

// Parses every signature hit of one byte sequence; a record runs up to the
// next hit at most.
bool carve_sequence(std::vector<uint8_t>& bytes, const Pass& pass, useropts& options, bool progress,
                    const RecordSink& sink) {
  static const SignatureSearch search;
  std::vector<uint64_t> hits;
  search.find_all(bytes, hits);
  LnkRecord template_record;
  template_record.artifact = "LNK";
  template_record.source_type = pass.source_type;
  template_record.from_slack = pass.from_slack;

  bool found = false;
  const std::span<uint8_t> all(bytes);
  for (size_t i = 0; i < hits.size(); ++i) {
    const uint64_t end = i + 1 < hits.size() ? hits[i + 1] : all.size();
    const std::span<uint8_t> piece = all.subspan(hits[i], end - hits[i]);
    LnkRecord record = template_record;
    uint64_t offset = hits[i];
    if (!pass.from_slack) {
      if (options.record_offset_override != 0) offset = options.record_offset_override;
      record.lnk_offset = offset;
    }
    const auto length = static_cast<uint32_t>(std::min<uint64_t>(piece.size(), UINT32_MAX));
    if (parse_lnk_record(record, piece.data(), length, options, offset)) {
      sink(record);
      found = true;
    }
    if (progress) status_line(kStatusWidth, "percent done: %d", static_cast<int>(i * 100 / hits.size()));
  }
  return found;
}

}  // namespace

bool carve_jump_list_records(uint8_t* buffer, uint64_t size, useropts& options, bool progress,
                             const RecordSink& sink) {
  if (buffer == nullptr || size < kSmallestJumpList) return false;
  CompoundFile file;
  if (!parse_compound_file(file, buffer, size)) return false;
  std::vector<uint8_t> allocated, slack;
  if (!stream_sectors_and_slack(file, allocated, slack, buffer, size)) return false;

  bool found = false;
  if (!allocated.empty()) {
    const std::string label = options.jumplist_label.empty() ? "JMPLIST" : options.jumplist_label;
    found |= carve_sequence(allocated, {label + " (carved allocated)", false}, options, progress, sink);
  }
  if (!slack.empty()) found |= carve_sequence(slack, {"JMPLIST (carved slack)", true}, options, progress, sink);
  return found;
}

bool carve_jump_list(std::ostream& out, uint8_t* buffer, uint64_t size, useropts& options,
                     bool progress) {
  return carve_jump_list_records(buffer, size, options, progress,
                                 [&](LnkRecord& record) { write_record(out, record, options); });
}

}  // namespace lnk
