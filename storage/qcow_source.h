// A QCOW disk (versions 1 to 3) read over its chain of backing files: L1
// and L2 tables (extended L2 entries with subclusters too), clusters stored,
// compressed (deflate), zero or left to the backing file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "storage/layered_disk.h"

namespace lnk {

// "QFI" and 0xFB at the start of the file.
bool has_qcow_signature(std::span<const uint8_t> head);

// One QCOW file; null with problem set when it cannot be read. path names
// it in messages and leads to its backing file.
std::unique_ptr<MappedLayer> open_qcow_layer(std::shared_ptr<ByteSource> file, const std::string& path,
                                             ContainerProblem& problem);

class QcowSource : public LayeredDisk {
 public:
  // path is the newest disk of the chain.
  ContainerProblem open(const std::string& path);
};

}  // namespace lnk
