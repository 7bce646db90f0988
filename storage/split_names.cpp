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

// The first segment of the set a later one belongs to, if it exists.
bool find_first_segment(const SplitName& given, const NameExists& exists, std::string& first) {
  if (exists_in_any_width(given, 0, exists, first)) return true;
  return !given.letters && exists_in_any_width(given, 1, exists, first);
}

}  // namespace

SplitSet resolve_split_set(const std::string& path, const NameExists& exists) {
  SplitSet result;
  SplitName name;
  if (!parse_split_name(path, name)) return result;
  const bool first = name.value == 0 || (!name.letters && name.value == 1 && !exists(name.name(0)));
  if (!first) {
    // Extensions have neighbours ("raw" and "rax", "2023" and "2024"): a
    // later segment is one only where the first of its set is there too.
    if (!find_first_segment(name, exists, result.named)) return SplitSet{};
    result.kind = SplitSetKind::later_segment;
    return result;
  }
  result.segments.push_back(path);
  uint64_t next = name.value + 1;
  for (;; ++next) {
    const std::string candidate = name.name(next);
    if (candidate.empty() || !exists(candidate)) break;
    if (result.segments.size() >= kMaxSplitSegments) {
      result = SplitSet{SplitSetKind::too_many, {}, {}};
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
      result = SplitSet{SplitSetKind::missing, {}, absent};
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

std::vector<std::string> ewf_segment_names(const std::string& path, const NameExists& exists) {
  std::vector<std::string> names = {path};
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.size() < dot + 4 || path.compare(path.size() - 2, 2, "01") != 0) return names;
  // The letter that moves on past ZZ: the one before the number.
  const size_t moving = path.size() - 3;
  const bool lower = path[moving] >= 'a' && path[moving] <= 'z';
  if (!lower && !(path[moving] >= 'A' && path[moving] <= 'Z')) return names;
  for (uint64_t number = 2; names.size() < kMaxSplitSegments; ++number) {
    std::string name = path;
    if (number <= 99) {
      name[moving + 1] = static_cast<char>('0' + number / 10);
      name[moving + 2] = static_cast<char>('0' + number % 10);
    } else {
      const uint64_t past = number - 100, step = past / (26 * 26);
      const char base = lower ? 'a' : 'A';
      if (static_cast<uint64_t>(path[moving] - base) + step >= 26) break;
      name[moving] = static_cast<char>(path[moving] + step);
      name[moving + 1] = static_cast<char>(base + past / 26 % 26);
      name[moving + 2] = static_cast<char>(base + past % 26);
    }
    if (!exists(name)) break;
    names.push_back(std::move(name));
  }
  return names;
}

}  // namespace lnk
