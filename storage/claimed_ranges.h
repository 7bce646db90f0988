// The stretches of a container file that earlier blocks of its virtual disk
// use. A table that names the same stored bytes again claims more than the
// file stores: those blocks are repeats, which a scan passes over, so a
// disk claiming far more than its file holds ends where its data ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>

namespace lnk {

class ClaimedRanges {
 public:
  // Notes [start, end); false when earlier claims held every byte of it.
  // Stretches are merged where they touch, so the blocks one after the
  // other in the file that every writer puts there stay one stretch.
  bool claim(uint64_t start, uint64_t end) {
    auto first = claimed_.upper_bound(start);
    if (first != claimed_.begin() && std::prev(first)->second >= start) --first;
    if (first != claimed_.end() && first->first <= start && first->second >= end) return false;
    uint64_t merged_start = start, merged_end = end;
    auto last = first;
    while (last != claimed_.end() && last->first <= end) {
      merged_start = std::min(merged_start, last->first);
      merged_end = std::max(merged_end, last->second);
      ++last;
    }
    claimed_.erase(first, last);
    claimed_.emplace(merged_start, merged_end);
    return true;
  }

 private:
  std::map<uint64_t, uint64_t> claimed_;  // start -> end
};

}  // namespace lnk
