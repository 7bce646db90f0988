#include "storage/split_names.h"

#include <cstdint>

namespace lnk {
namespace {

constexpr size_t kMinSuffix = 2;
constexpr size_t kMaxDigits = 6;
constexpr size_t kMaxLetters = 4;
// Numbers may outgrow their width (.999, .1000) but no further than this.
constexpr uint64_t kDigitLimit = 1000000000;
// How far past a missing segment later ones are looked for, to tell a gap
// in the set from its end.
constexpr uint64_t kGapLookahead = 64;

// A name whose extension numbers it within a set: "image." + "007".
struct SplitName {
  std::string stem;  // everything up to and including the dot
  bool letters = false;
  bool upper = false;
  size_t width = 0;
  uint64_t value = 0;

  // Segment number v of this set, or empty when no name holds it.
  std::string name(uint64_t v) const {
    if (letters) {
      std::string suffix(width, upper ? 'A' : 'a');
      for (size_t i = width; i-- > 0; v /= 26) suffix[i] = static_cast<char>(suffix[i] + v % 26);
      return v == 0 ? stem + suffix : std::string();
    }
    if (v >= kDigitLimit) return {};
    std::string digits = std::to_string(v);
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return stem + digits;
  }
};

bool all_of(const std::string& text, char low, char high) {
  for (char c : text)
    if (c < low || c > high) return false;
  return true;
}

bool parse_split_name(const std::string& path, SplitName& out) {
  const size_t dot = path.find_last_of('.');
  const size_t separator = path.find_last_of("/\\");
  const size_t base = separator == std::string::npos ? 0 : separator + 1;
  if (dot == std::string::npos || dot <= base) return false;
  const std::string suffix = path.substr(dot + 1);
  out.stem = path.substr(0, dot + 1);
  out.width = suffix.size();
  out.value = 0;
  if (all_of(suffix, '0', '9') && suffix.size() >= kMinSuffix && suffix.size() <= kMaxDigits) {
    out.letters = false;
    out.value = std::stoull(suffix);
    return true;
  }
  out.letters = true;
  out.upper = all_of(suffix, 'A', 'Z');
  if (!out.upper && !all_of(suffix, 'a', 'z')) return false;
  if (suffix.size() < kMinSuffix || suffix.size() > kMaxLetters) return false;
  for (char c : suffix) out.value = out.value * 26 + static_cast<uint64_t>(c - (out.upper ? 'A' : 'a'));
  return true;
}

// Whether segment v of given's set exists under some width up to the given
// one: a number that outgrew its width (.1000 after .999) belongs to a set
// of narrower names.
bool exists_in_any_width(const SplitName& given, uint64_t v, const NameExists& exists, std::string& found) {
  SplitName narrower = given;
  for (size_t width = given.letters ? given.width : kMinSuffix; width <= given.width; ++width) {
    narrower.width = width;
    const std::string candidate = narrower.name(v);
    if (!candidate.empty() && exists(candidate)) {
      found = candidate;
      return true;
    }
  }
  return false;
}

// The first segment of the set a later one belongs to.
void find_first_segment(const SplitName& given, const NameExists& exists, SplitSet& result) {
  for (uint64_t first : {uint64_t{0}, uint64_t{1}}) {
    if (given.letters && first != 0) continue;
    if ((result.named_exists = exists_in_any_width(given, first, exists, result.named))) return;
  }
  result.named = given.name(given.letters ? 0 : 1);
}

}  // namespace

SplitSet resolve_split_set(const std::string& path, const NameExists& exists) {
  SplitSet result;
  SplitName name;
  if (!parse_split_name(path, name)) return result;
  const bool first = name.value == 0 || (!name.letters && name.value == 1 && !exists(name.name(0)));
  if (!first) {
    const std::string after = name.name(name.value + 1);
    std::string before;
    if (!exists_in_any_width(name, name.value - 1, exists, before) && !(!after.empty() && exists(after))) return result;
    find_first_segment(name, exists, result);
    // Any extension of letters has neighbours in the alphabet ("raw",
    // "rax"); only a set whose first segment is there is taken for one.
    if (name.letters && !result.named_exists) return SplitSet{};
    result.kind = SplitSetKind::later_segment;
    return result;
  }
  result.segments.push_back(path);
  uint64_t next = name.value + 1;
  for (;; ++next) {
    const std::string candidate = name.name(next);
    if (candidate.empty() || !exists(candidate)) break;
    if (result.segments.size() >= kMaxSplitSegments) {
      result = SplitSet{SplitSetKind::too_many, {}, {}, false};
      return result;
    }
    result.segments.push_back(candidate);
  }
  // A segment missing before later ones is a gap, never the end of the set.
  const std::string absent = name.name(next);
  for (uint64_t later = next + 1; !absent.empty() && later <= next + kGapLookahead; ++later) {
    const std::string candidate = name.name(later);
    if (candidate.empty()) break;
    if (exists(candidate)) {
      result = SplitSet{SplitSetKind::missing, {}, absent, false};
      return result;
    }
  }
  if (result.segments.size() < 2) {
    result.segments.clear();
    return result;
  }
  result.kind = SplitSetKind::set;
  return result;
}

}  // namespace lnk
