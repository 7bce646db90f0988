// The split-image and EWF segment name resolvers over any name and any set
// of names beside it: the first line is the name given, the others are the
// names that exist. Whatever they answer must hold for those names.
#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "storage/split_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  std::string given;
  std::getline(lines, given);
  std::set<std::string> present = {given};
  for (std::string line; std::getline(lines, line);) present.insert(line);
  const auto exists = [&](const std::string& name) { return present.count(name) > 0; };
  const lnk::SplitSet set = lnk::resolve_split_set(given, exists);
  switch (set.kind) {
    case lnk::SplitSetKind::set:
      if (set.segments.size() < 2 || set.segments.front() != given) __builtin_trap();
      for (const std::string& segment : set.segments)
        if (!exists(segment)) __builtin_trap();
      break;
    case lnk::SplitSetKind::missing:
      if (exists(set.named) || !set.segments.empty()) __builtin_trap();
      break;
    case lnk::SplitSetKind::later_segment:
      if (!exists(set.named) || set.named == given) __builtin_trap();
      break;
    case lnk::SplitSetKind::none:
    case lnk::SplitSetKind::too_many:
      if (!set.segments.empty()) __builtin_trap();
      break;
  }
  const std::vector<std::string> ewf = lnk::ewf_segment_names(given, exists);
  if (ewf.empty() || ewf.front() != given) __builtin_trap();
  for (const std::string& segment : ewf)
    if (!exists(segment)) __builtin_trap();
  return 0;
}
