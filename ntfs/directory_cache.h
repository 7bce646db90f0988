// The children of directories already looked into by the path lookup: their
// entry numbers from $I30 and their lower-cased names.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>

namespace lnk {

struct DirectoryListing {
  std::set<uint64_t> children;
  bool names_loaded = false;
  std::map<std::string, uint64_t> names;  // lower-cased name -> file reference
};

class DirectoryCache {
 public:
  DirectoryListing* find(uint64_t directory) {
    auto it = listings_.find(directory);
    return it == listings_.end() ? nullptr : &it->second;
  }
  DirectoryListing& add(uint64_t directory) { return listings_[directory]; }
  void clear() { listings_.clear(); }

 private:
  std::unordered_map<uint64_t, DirectoryListing> listings_;
};

}  // namespace lnk
