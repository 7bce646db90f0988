#include "storage/disk_chain.h"

#include <algorithm>
#include <optional>

#include "storage/vmdk_files.h"

namespace lnk {
namespace {

void add_candidate(std::vector<std::string>& candidates, std::string path) {
  if (std::find(candidates.begin(), candidates.end(), path) == candidates.end()) candidates.push_back(std::move(path));
}

bool is_file(const std::string& path) {
  platform::FileStatus status;
  return platform::file_status(path, status) && !platform::is_directory(path);
}

// The files of one chain, by identity rather than by name.
class ChainFiles {
 public:
  // The path a file already in the chain was added under.
  std::optional<std::string> find(const std::string& path) const {
    platform::FileIdentity identity;
    const bool known = platform::file_identity(path, identity);
    for (const File& file : files_) {
      if (known ? file.known && file.identity == identity : file.path == path) return file.path;
    }
    return std::nullopt;
  }
  void add(const std::string& path) {
    File file{path, {}, false};
    file.known = platform::file_identity(path, file.identity);
    files_.push_back(std::move(file));
  }

 private:
  struct File {
    std::string path;
    platform::FileIdentity identity;
    bool known;
  };
  std::vector<File> files_;
};

std::string joined(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) text += (text.empty() ? "" : ", ") + path;
  return text;
}

}  // namespace

bool is_absolute_path(const std::string& path) {
  return !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() >= 2 && path[1] == ':'));
}

std::vector<std::string> parent_candidates(const std::string& child, const ParentNames& names) {
  std::vector<std::string> candidates;
  const size_t cut = child.find_last_of("/\\");
  const std::string folder = cut == std::string::npos ? std::string() : child.substr(0, cut + 1);
  for (std::string path : names.relative) {
    if (is_absolute_path(path)) continue;
    // Windows separators; "/" serves on both systems.
    std::replace(path.begin(), path.end(), '\\', '/');
    while (path.starts_with("./")) path.erase(0, 2);
    add_candidate(candidates, folder + path);
  }
  for (const auto* list : {&names.relative, &names.others}) {
    for (const std::string& name : *list) {
      const std::string beside = vmdk_sibling_path(child, name);
      if (beside.size() > folder.size()) add_candidate(candidates, beside);
    }
  }
  return candidates;
}

void close_disk_chain(DiskChain& chain) {
  for (std::unique_ptr<ChainLayer>& layer : chain.layers) layer.reset();
  chain.layers.clear();
  chain.files.clear();
}

namespace {

// The parent of the newest disk of chain, opened and linked, among the
// candidates its names give; or why none serves (the first candidate
// refused, else the parent missing).
ContainerProblem find_parent(const DiskChain& chain, const ChainFiles& files, const ChainLayerOpener& open,
                             std::unique_ptr<ChainLayer>& parent, std::string& parent_path) {
  ChainLayer& child = *chain.layers.back();
  const std::string& child_path = chain.files.back();
  const ParentNames names = child.parent_names();
  const std::vector<std::string> candidates = parent_candidates(child_path, names);
  ContainerProblem refused;
  const auto refuse = [&](ContainerProblemKind kind, const std::string& other, const std::string& detail) {
    if (refused.ok()) refused = {.kind = kind, .file = child_path, .other = other, .detail = detail};
  };
  for (const std::string& candidate : candidates) {
    if (!is_file(candidate)) continue;
    if (const std::optional<std::string> seen = files.find(candidate)) {
      refuse(ContainerProblemKind::parent_loop, *seen, {});
      continue;
    }
    ContainerProblem why;
    std::unique_ptr<ChainLayer> opened = open(candidate, why);
    if (!opened) {
      refuse(ContainerProblemKind::unsupported_parent, candidate, why.detail);
    } else if (!child.link_parent(*opened)) {
      refuse(ContainerProblemKind::wrong_parent, candidate, {});
    } else {
      parent = std::move(opened);
      parent_path = candidate;
      return {};
    }
  }
  if (!refused.ok()) return refused;
  const std::string recorded = !names.relative.empty() ? names.relative.front()
                               : !names.others.empty() ? names.others.front()
                                                       : std::string();
  return {.kind = ContainerProblemKind::missing_parent,
          .file = child_path,
          .other = recorded,
          .detail = joined(candidates)};
}

}  // namespace

ContainerProblem open_disk_chain(const std::string& path, const ChainLayerOpener& open, DiskChain& chain) {
  close_disk_chain(chain);
  ContainerProblem problem;
  std::unique_ptr<ChainLayer> newest = open(path, problem);
  if (!newest) return problem;
  ChainFiles files;
  files.add(path);
  chain.layers.push_back(std::move(newest));
  chain.files.push_back(path);
  while (chain.layers.back()->has_parent()) {
    std::unique_ptr<ChainLayer> parent;
    std::string parent_path;
    problem = chain.layers.size() >= kMaxChainDisks
                  ? ContainerProblem{.kind = ContainerProblemKind::chain_too_long, .file = chain.files.back()}
                  : find_parent(chain, files, open, parent, parent_path);
    if (!problem.ok()) {
      close_disk_chain(chain);
      return problem;
    }
    files.add(parent_path);
    chain.layers.push_back(std::move(parent));
    chain.files.push_back(parent_path);
  }
  return problem;
}

}  // namespace lnk
