// The names of a raw image that an imager split into segments: image.001,
// image.002, ... (or .000, .01, .aa, .aaa), read as one image in name order.
// Only names are looked at here; whether a name exists is the caller's
// question, so the rules can be tried on any set of names.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace lnk {

enum class SplitSetKind {
  none,           // not a split name, or no segment follows it: one plain file
  set,            // segments: the whole set, in order, the given name first
  later_segment,  // the name is not the first of its set; named: the first, which exists
  missing,        // named: a segment missing before later ones that exist
  too_many,       // more segments than a set may have
};

struct SplitSet {
  SplitSetKind kind = SplitSetKind::none;
  std::vector<std::string> segments;
  std::string named;
};

// Segments of one set at most; far beyond what imagers write.
constexpr size_t kMaxSplitSegments = 100000;

using NameExists = std::function<bool(const std::string& name)>;

// The set that path starts, told by its name and which of its siblings
// exist (path itself is taken to exist).
SplitSet resolve_split_set(const std::string& path, const NameExists& exists);

// The segments of an EWF set named by its first (.E01, .L01, .s01):
// numbers 01 to 99, then AA to ZZ, then the letter before them moves on
// (.E99, .EAA, ..., .EZZ, .FAA), as long as they exist. path alone when it
// is named otherwise.
std::vector<std::string> ewf_segment_names(const std::string& path, const NameExists& exists);

}  // namespace lnk
