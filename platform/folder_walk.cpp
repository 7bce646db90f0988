#include "platform/folder_walk.h"

#include <algorithm>
#include <set>

#include "platform/platform.h"

namespace lnk::platform {

FolderWalk walk_folder(const std::string& root) {
  FolderWalk walk;
  const char separator = path_separator();
  // A folder met twice (a bind mount of its own parent) is walked once.
  std::set<std::pair<uint64_t, uint64_t>> walked;
  std::vector<std::string> pending{root};
  while (!pending.empty()) {
    const std::string folder = std::move(pending.back());
    pending.pop_back();
    FileIdentity identity;
    if (file_identity(folder, identity) && !walked.insert({identity.volume, identity.file}).second) continue;
    std::vector<FolderEntry> entries;
    int error = 0;
    if (!list_folder(folder, entries, error)) {
      walk.unlisted.emplace_back(folder, error_text(error));
      continue;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    const bool ends_with_separator = !folder.empty() && (folder.back() == separator || folder.back() == '/');
    const std::string prefix = ends_with_separator ? folder : folder + separator;
    // Sub-folders go on the stack last first, so the first is walked next.
    std::vector<std::string> below;
    for (const FolderEntry& entry : entries) {
      if (entry.folder) below.push_back(prefix + entry.name);
      else walk.files.push_back(prefix + entry.name);
    }
    pending.insert(pending.end(), below.rbegin(), below.rend());
  }
  return walk;
}

}  // namespace lnk::platform
