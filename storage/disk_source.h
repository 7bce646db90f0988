// One byte source below the file system: an image file, a volume, a device
// path or a physical drive, read at 64-bit offsets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "storage/byte_source.h"
#include "storage/vmdk_chain.h"

namespace lnk {

enum SourceKind : uint32_t {
  kSourceImageFile = 0,
  kSourceVolumeLetter = 1,
  kSourceDevicePath = 2,
  kSourcePhysicalDrive = 3,
  kSourceVmdkChain = 4,
  kSourceNothing = 6,
};

// Drives are numbered below this.
constexpr uint32_t kPhysicalDriveLimit = 25;

// The first sector and the whole-sector length that cover count bytes at offset.
struct AlignedSpan {
  uint64_t start = 0;
  uint64_t length = 0;
  uint64_t skip = 0;  // offset - start
};
bool aligned_span(uint64_t offset, uint64_t count, uint32_t sector_size, AlignedSpan& out);

// "\\.\C:" for a short name that starts with a letter; anything else as given.
std::string device_path_for(const std::string& path, uint32_t kind);

class DiskSource : public ByteSource {
 public:
  DiskSource() = default;
  DiskSource(const DiskSource&) = delete;
  DiskSource& operator=(const DiskSource&) = delete;

  // Kind 0: read-only, size from the end of the file, 512-byte sectors.
  bool open_image(const std::string& path);
  // Kinds 1 to 3; sequential is set by the raw carver.
  bool open_path(const std::string& path, uint32_t kind, bool sequential);
  bool open_physical_drive(uint32_t number);
  // Kind 4: the VMware files in any order; problem says why they could not
  // be linked into one disk.
  // Over the files a set check opened, when it kept them.
  bool attach_vmdk(const std::vector<std::string>& paths, VmdkProblem& problem, std::shared_ptr<VmdkFiles> files);
  bool attach_vmdk(const std::vector<std::string>& paths, VmdkProblem& problem,
                   const VmdkOpener& opener = vmdk_disk_opener());
  // Kind 4: where the volume starts inside the virtual disk, for reports.
  void set_chain_volume(uint64_t volume_start, int32_t partition_number);

  // Reads up to count bytes at offset; count becomes the number read.
  // Fails when not open, when count is 0 or offset is not below the size.
  bool read(uint8_t* buffer, uint64_t& count, uint64_t offset);
  uint64_t size() const override { return open_ ? size_ : 0; }
  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override;
  // What a VMware chain knows; other kinds hold data throughout.
  HoldingRun holding_at(uint64_t offset) override;
  // A VMware chain's; other kinds decode nothing.
  bool reads_ahead() override { return open_ && kind_ == kSourceVmdkChain && vmdk_->reads_ahead(); }
  void will_read(uint64_t offset, uint64_t length) override {
    if (open_ && kind_ == kSourceVmdkChain) vmdk_->will_read(offset, length);
  }
  void close();

  bool is_open() const { return open_; }
  uint32_t kind() const { return kind_; }
  const std::string& path() const { return path_; }
  uint32_t sector_size() const override { return sector_size_; }
  uint32_t device_number() const { return device_number_; }
  int32_t partition_number() const { return partition_number_; }
  uint64_t partition_offset() const { return partition_offset_; }
  const platform::DeviceGeometry& geometry() const { return geometry_; }
  // Kind 4 only; null otherwise.
  const VmdkChain* vmdk_chain() const { return vmdk_.get(); }

 private:
  bool open_device_file(const std::string& path, uint32_t kind, platform::DeviceAccess access);
  bool read_sectors(uint8_t* buffer, uint64_t& count, uint64_t offset);

  uint32_t kind_ = kSourceNothing;
  bool open_ = false;
  std::string path_;
  std::unique_ptr<platform::InputFile> file_;
  std::unique_ptr<VmdkChain> vmdk_;
  platform::DeviceGeometry geometry_;
  uint32_t device_number_ = 0;
  int32_t partition_number_ = -1;
  uint64_t size_ = 0;
  uint32_t sector_size_ = 512;
  uint64_t partition_offset_ = 0;
  // Reused for reads that do not start or end on a sector boundary.
  std::vector<uint8_t> scratch_;
};

}  // namespace lnk
