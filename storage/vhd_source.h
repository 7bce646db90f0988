// VHD (fixed, dynamic, differencing) and VHDX disks read over their chain
// of parents: each differencing disk's sector bitmaps say which sectors are
// its own, and its parent is checked against the identifier it keeps.
#pragma once

#include <memory>
#include <string>

#include "storage/layered_disk.h"

namespace lnk {

// One VHD or VHDX file, told apart by its signature; null with problem set
// when it cannot be read. path names it in messages and leads to its parent.
std::unique_ptr<MappedLayer> open_vhd_layer(std::shared_ptr<ByteSource> file, const std::string& path,
                                            ContainerProblem& problem);
std::unique_ptr<MappedLayer> open_vhdx_layer(std::shared_ptr<ByteSource> file, const std::string& path,
                                             ContainerProblem& problem);

class VhdSource : public LayeredDisk {
 public:
  // path is the newest disk of the chain.
  ContainerProblem open(const std::string& path);
};

}  // namespace lnk
