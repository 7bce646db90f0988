#include <algorithm>
#include <vector>

#include "jumplist/compound_file.h"
#include "jumplist/jumplist_records.h"
#include "lnk/parse_lnk.h"
#include "lnk/signature_search.h"

namespace lnk {
namespace {

constexpr uint64_t kSmallestJumpList = 4096;

struct Pass {
  std::string source_type;
  bool from_slack = false;
};

// Parses every signature hit of one byte sequence; a record runs up to the
// next hit at most.
bool carve_sequence(const std::vector<uint8_t>& bytes, const Pass& pass,
                    const JumpListPlacement& placement, const RecordSink& sink) {
  static const SignatureSearch search;
  std::vector<uint64_t> hits;
  search.find_all(bytes, hits);
  LnkRecord template_record;
  template_record.artifact = "LNK";
  template_record.source_type = pass.source_type;
  template_record.from_slack = pass.from_slack;

  bool found = false;
  const std::span<const uint8_t> all(bytes);
  for (size_t i = 0; i < hits.size(); ++i) {
    const uint64_t end = i + 1 < hits.size() ? hits[i + 1] : all.size();
    const std::span<const uint8_t> piece = all.subspan(hits[i], end - hits[i]);
    LnkRecord record = template_record;
    uint64_t offset = hits[i];
    if (!pass.from_slack) {
      if (placement.record_offset != 0) offset = placement.record_offset;
      record.lnk_offset = offset;
    }
    if (parse_lnk_record(record, piece, offset)) {
      sink(record, ParsedBytes{piece.first(record.parsed_size), offset});
      found = true;
    }
    if (placement.progress) placement.progress(i, hits.size());
  }
  return found;
}

}  // namespace

bool carve_jump_list_records(std::span<const uint8_t> bytes, const JumpListPlacement& placement,
                             const RecordSink& sink) {
  if (bytes.size() < kSmallestJumpList) return false;
  CompoundFile file;
  if (!parse_compound_file(file, bytes.data(), bytes.size())) return false;
  std::vector<uint8_t> allocated, slack;
  if (!stream_sectors_and_slack(file, allocated, slack, bytes.data(), bytes.size())) return false;

  bool found = false;
  if (!allocated.empty()) {
    const std::string label = placement.label.empty() ? "JMPLIST" : placement.label;
    found |= carve_sequence(allocated, {label + " (carved allocated)", false}, placement, sink);
  }
  if (!slack.empty()) found |= carve_sequence(slack, {"JMPLIST (carved slack)", true}, placement, sink);
  return found;
}

}  // namespace lnk
