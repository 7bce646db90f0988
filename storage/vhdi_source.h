// A VHD (fixed, dynamic or differencing) or VHDX disk through libvhdi,
// which a build may lack. A differencing disk is read over its parents,
// found from the names it recorded and checked by libvhdi against the
// identifier the child keeps of its parent.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "storage/container_problem.h"
#include "storage/disk_chain.h"

namespace lnk {

// True in builds that read VHD and VHDX disks.
bool vhdi_support_available();

class VhdiSource : public ByteSource {
 public:
  VhdiSource() = default;
  ~VhdiSource() override { close_disk_chain(chain_); }
  VhdiSource(const VhdiSource&) = delete;
  VhdiSource& operator=(const VhdiSource&) = delete;

  // path is the newest disk of the chain.
  ContainerProblem open(const std::string& path);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  uint32_t sector_size() const override { return sector_size_; }
  // Every file read, the newest disk first.
  const std::vector<std::string>& files() const { return chain_.files; }

 private:
  DiskChain chain_;
  uint64_t size_ = 0;
  uint32_t sector_size_ = 512;
};

}  // namespace lnk
