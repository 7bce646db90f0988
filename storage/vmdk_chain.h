// A set of VMware disk files linked by content ID into one virtual disk:
// the base, its snapshots, and reads that take each grain from the newest
// file holding it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "storage/vmdk_files.h"
#include "storage/vmdk_layer.h"

namespace lnk {

enum class VmdkProblemKind {
  none,
  cannot_open,        // path; open: why
  cid_error,          // path: a file that is its own parent, or whose parent's CID does not match
  depends_on_parent,  // path needs parent_path, which was not given
  missing_parent,     // path's parent is neither given nor beside it
  no_memory,
  // Found when linking a set that passed the check:
  no_base,            // every file has a parent
  several_bases,      // path and parent_path are both base disks
  shared_cid,         // path and parent_path carry the same CID
  branched,           // path and parent_path are both children of one parent
};

struct VmdkProblem {
  VmdkProblemKind kind = VmdkProblemKind::none;
  std::string path;
  std::string parent_path;
  VmdkOpenStatus open;
};

struct VmdkSetCheck {
  bool ok = false;
  VmdkProblem problem;
  // The user's files, plus the parent they left out; empty when there is
  // nothing to suggest.
  std::vector<std::string> suggested;
  // The files the check opened, for the chain to read from: a set is
  // opened once.
  std::shared_ptr<VmdkFiles> files;
};

// Opens every file and follows each child to its parent. Fails at the first
// problem.
VmdkSetCheck check_vmdk_set(const std::vector<std::string>& paths, const VmdkOpener& opener = vmdk_disk_opener());

class VmdkChain : public ByteSource {
 public:
  // Opens the files in any order and links them from the base to the
  // newest child. False with problem set when they do not form one chain.
  bool open(const std::vector<std::string>& paths, VmdkProblem& problem,
            const VmdkOpener& opener = vmdk_disk_opener());
  // The same over the files a check opened.
  bool open(const std::vector<std::string>& paths, VmdkProblem& problem, std::shared_ptr<VmdkFiles> files);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  // Grains no layer holds read as zeros, as do ZERO extents; grains and
  // flat extents past the end of their file are not stored.
  HoldingRun holding_at(uint64_t offset) override;
  // The newest layer's capacity.
  uint64_t size() const override { return top_ == nullptr ? 0 : top_->capacity(); }
  // With worker threads, when some layer holds compressed grains.
  bool reads_ahead() override;
  void will_read(uint64_t offset, uint64_t length) override;

  bool ready() const { return top_ != nullptr; }
  const VmdkLayer* base() const { return base_; }
  const VmdkLayer* top() const { return top_; }
  size_t layer_count() const { return layers_.size(); }

 private:
  std::shared_ptr<VmdkFiles> files_;
  std::vector<std::unique_ptr<VmdkLayer>> layers_;
  VmdkLayer* base_ = nullptr;
  VmdkLayer* top_ = nullptr;
  // The last run found, from its start: a scan asks along it chunk by chunk.
  uint64_t run_start_ = 0;
  HoldingRun run_{Holding::data, 0};
};

}  // namespace lnk
