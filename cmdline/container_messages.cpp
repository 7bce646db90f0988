#include "cmdline/container_messages.h"

#include "storage/disk_chain.h"
#include "storage/split_names.h"

namespace lnk {
namespace {

std::string container_reason(const ImageOpenResult& result, const std::string& path) {
  const ContainerProblem& p = result.problem;
  const std::string parent = result.container == ImageContainer::qcow ? "backing file" : "parent disk";
  const std::string other = p.other.empty() ? "(no name recorded)" : p.other;
  switch (p.kind) {
    case ContainerProblemKind::none:
      break;
    case ContainerProblemKind::unreadable:
      return p.file == path ? "it cannot be opened" : p.file + " cannot be opened";
    case ContainerProblemKind::damaged:
      return p.file == path ? p.detail : p.file + ": " + p.detail;
    case ContainerProblemKind::later_segment:
      return "it is a later segment of a split image; give its first segment, " + p.other;
    case ContainerProblemKind::missing_segment:
      return "segment " + p.other + " of the split image is missing";
    case ContainerProblemKind::too_many_segments:
      return "the split image has more than " + std::to_string(kMaxSplitSegments) + " segments";
    case ContainerProblemKind::missing_parent:
      return parent + " of " + p.file + " not found: " + other +
             (p.detail.empty() ? "" : " (looked for " + p.detail + ")");
    case ContainerProblemKind::wrong_parent:
      return p.other + " is not the " + parent + " of " + p.file + ": its identifier differs from the one " + p.file +
             " keeps";
    case ContainerProblemKind::parent_loop:
      return p.other == p.file ? p.file + " names itself as its " + parent
                               : "the chain loops: " + p.file + " names " + p.other + ", which is already in it";
    case ContainerProblemKind::chain_too_long:
      return "the chain goes on past " + std::to_string(kMaxChainDisks) + " disks, at " + p.file;
    case ContainerProblemKind::unsupported_parent:
      return parent + " " + p.other + " of " + p.file + " cannot be read" + (p.detail.empty() ? "" : ": " + p.detail);
    case ContainerProblemKind::encrypted:
      return p.file + " is encrypted, which rook does not read";
  }
  return {};
}

}  // namespace

std::string render_container_problem(const ImageOpenResult& result, const std::string& path) {
  const std::string reason = container_reason(result, path);
  return "invalid image: " + path + (reason.empty() ? "" : "\n  " + reason) + "\n";
}

}  // namespace lnk
