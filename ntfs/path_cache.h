// Directory names by MFT entry, so that the path of a file found in the MFT
// is built without reading its parents' records again.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace lnk {

struct PathCacheEntry {
  std::string name;
  uint64_t parent_reference = 0;
  uint32_t flags = 0;         // the $FILE_NAME flags, when the scan stored it
  uint16_t sequence = 0;      // the record's sequence number
  bool sequence_known = false;
  bool in_use = false;        // the record's in-use flag, when usage_known
  bool usage_known = false;
};

class PathCache {
 public:
  void remember(uint64_t entry, PathCacheEntry value) { entries_[entry] = std::move(value); }
  const PathCacheEntry* find(uint64_t entry) const {
    auto it = entries_.find(entry);
    return it == entries_.end() ? nullptr : &it->second;
  }
  size_t size() const { return entries_.size(); }
  void clear() { entries_.clear(); }

 private:
  std::unordered_map<uint64_t, PathCacheEntry> entries_;
};

}  // namespace lnk
