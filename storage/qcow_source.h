// A QCOW disk (versions 1 to 3, compressed clusters too) through libqcow,
// which a build may lack, read over its chain of backing files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "storage/container_problem.h"
#include "storage/disk_chain.h"

namespace lnk {

// True in builds that read QCOW disks.
bool qcow_support_available();
// "QFI" and 0xFB at the start of the file.
bool has_qcow_signature(std::span<const uint8_t> head);

class QcowSource : public ByteSource {
 public:
  QcowSource() = default;
  ~QcowSource() override { close_disk_chain(chain_); }
  QcowSource(const QcowSource&) = delete;
  QcowSource& operator=(const QcowSource&) = delete;

  // path is the newest disk of the chain.
  ContainerProblem open(const std::string& path);

  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  uint64_t size() const override { return size_; }
  // Every file read, the newest disk first.
  const std::vector<std::string>& files() const { return chain_.files; }

 private:
  DiskChain chain_;
  uint64_t size_ = 0;
};

}  // namespace lnk
