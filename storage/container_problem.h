// Why a split raw image, a VHD/VHDX or a QCOW image cannot be read as one
// disk: what went wrong and the files it concerns. The command line words it.
#pragma once

#include <string>

namespace lnk {

enum class ContainerProblemKind {
  none,
  unreadable,          // file cannot be opened or read
  damaged,             // file is not a readable disk; detail: what is wrong
  later_segment,       // file is a later segment of a split image; other: the first
  missing_segment,     // other: a segment missing in the middle of the set
  too_many_segments,
  missing_parent,      // file needs its parent other, found nowhere; detail: where it was looked for
  wrong_parent,        // other, found where file's parent should be, is not it
  parent_loop,         // file names other as its parent, which is already in the chain (or file itself)
  chain_too_long,      // file's chain goes on past the depth any disk needs
  unsupported_parent,  // other, the parent of file, is not of a kind that can be read under it
  encrypted,           // file is encrypted
};

struct ContainerProblem {
  ContainerProblemKind kind = ContainerProblemKind::none;
  std::string file{};
  std::string other{};
  std::string detail{};

  bool ok() const { return kind == ContainerProblemKind::none; }
};

}  // namespace lnk
