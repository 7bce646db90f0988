// What VHD, VHDX and QCOW chains share: opening a child disk and every
// parent it is read over, finding each parent from the names the child
// recorded, and refusing chains that are broken, loop or never end.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "storage/container_problem.h"

namespace lnk {

// More disks than any chain of snapshots holds; past it the chain is refused.
constexpr size_t kMaxChainDisks = 64;

// Where a disk says its parent is: paths relative to its own folder, and
// other names (absolute paths, bare file names).
struct ParentNames {
  std::vector<std::string> relative;
  std::vector<std::string> others;
  // The parent's identifier as the child keeps it (VHDX: its data write GUID).
  std::string identifier;
  bool empty() const { return relative.empty() && others.empty(); }
};

// A path that starts at a root or a drive, on either system.
bool is_absolute_path(const std::string& path);

// The paths to try, in order: each relative path from the child's folder,
// then the last component of every name beside the child, as VMware
// parents are found. Absolute paths are never opened as they stand: they
// name a place on the machine that wrote the disk, which on this one may
// hold another file.
std::vector<std::string> parent_candidates(const std::string& child, const ParentNames& names);

// One opened disk of a chain, as its container library sees it.
class ChainLayer {
 public:
  virtual ~ChainLayer() = default;
  virtual bool has_parent() = 0;
  virtual ParentNames parent_names() = 0;
  // Reads through parent from now on; false when parent is not the disk
  // this one was made from.
  virtual bool link_parent(ChainLayer& parent) = 0;
};

// Opens one file of the chain, or says why it cannot.
using ChainLayerOpener = std::function<std::unique_ptr<ChainLayer>(const std::string& path, ContainerProblem& problem)>;

struct DiskChain {
  std::vector<std::unique_ptr<ChainLayer>> layers;  // newest first
  std::vector<std::string> files;                   // the same order
};

// Opens path and every parent it needs. On a problem the chain is empty.
ContainerProblem open_disk_chain(const std::string& path, const ChainLayerOpener& open, DiskChain& chain);
// Closes the disks newest first: a child reads through its parent until then.
void close_disk_chain(DiskChain& chain);

}  // namespace lnk
