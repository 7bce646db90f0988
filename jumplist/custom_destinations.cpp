#include "jumplist/custom_destinations.h"

#include <algorithm>
#include <span>

#include "jumplist/jumplist_records.h"
#include "lnk/parse_lnk.h"
#include "lnk/signature_search.h"

namespace lnk {
namespace {

constexpr uint32_t kFormatVersion = 2;
constexpr uint64_t kVersionField = 0;
constexpr uint64_t kCategoryCountField = 4;
constexpr uint64_t kHeaderSize = 12;
// A category is at least its type and its footer signature.
constexpr uint64_t kSmallestCategory = 8;
constexpr uint64_t kCategoryTypeField = 12;
constexpr uint64_t kCategoryBodyField = 16;
constexpr uint64_t kFooterSize = 4;
// A bare header may be padded up to the next word by a copy.
constexpr uint64_t kLongestBareHeader = 16;

constexpr uint32_t kCustomCategory = 0;
constexpr uint32_t kKnownCategory = 1;
constexpr uint32_t kUserTasks = 2;
constexpr uint32_t kKnownFrequent = 1;
constexpr uint32_t kKnownRecent = 2;

}  // namespace

bool looks_like_custom_destinations(const ByteReader& bytes) {
  if (!bytes.has(0, kHeaderSize) || bytes.u32(kVersionField) != kFormatVersion) return false;
  const uint64_t categories = bytes.u32(kCategoryCountField);
  if (categories == 0) return bytes.size() <= kLongestBareHeader;
  if (categories > (bytes.size() - kHeaderSize) / kSmallestCategory) return false;
  switch (bytes.u32(kCategoryTypeField)) {
    case kCustomCategory: {
      // The name's length in characters, the name, then the entry count.
      const uint64_t name_bytes = uint64_t{bytes.u16(kCategoryBodyField)} * 2;
      return bytes.has(kCategoryBodyField, 2 + name_bytes + 4);
    }
    case kKnownCategory: {
      const uint32_t known = bytes.u32(kCategoryBodyField);
      return (known == kKnownFrequent || known == kKnownRecent) &&
             bytes.has(kCategoryBodyField, 4 + kFooterSize);
    }
    case kUserTasks:
      return bytes.has(kCategoryBodyField, 4);
    default:
      return false;
  }
}

bool carve_custom_destinations(std::span<const uint8_t> all, const JumpListPlacement& placement,
                               const RecordSink& sink) {
  if (!looks_like_custom_destinations(ByteReader(all))) return false;
  static const SignatureSearch search;
  std::vector<uint64_t> hits;
  search.find_all(all, hits);
  bool found = false;
  for (size_t i = 0; i < hits.size(); ++i) {
    // Each shell object is a class identifier and then the shortcut; the
    // next one's identifier rides along at the end and is never reached.
    const uint64_t end = i + 1 < hits.size() ? hits[i + 1] : all.size();
    const std::span<const uint8_t> piece = all.subspan(hits[i], end - hits[i]);
    const uint64_t offset = placement.place ? placement.place(hits[i]) : hits[i];
    LnkRecord record;
    record.artifact = "LNK";
    record.source_type = (placement.label.empty() ? "JMPLIST" : placement.label) + " (custom destinations)";
    record.jumplist_kind = JumplistKind::without_destlist;
    record.lnk_offset = offset;
    if (parse_lnk_record(record, piece, offset)) {
      sink(record, ParsedBytes{piece.first(record.parsed_size), offset, {}});
      found = true;
    }
    if (placement.progress) placement.progress(i, hits.size());
  }
  return found;
}

}  // namespace lnk
