#include "storage/disk_source.h"

#include <algorithm>
#include <cctype>
#include <span>

#include "platform/byte_reader.h"

namespace lnk {
namespace {

constexpr uint32_t kDefaultSectorSize = 512;
constexpr size_t kDriveLetterPathLength = 3;

}  // namespace

bool aligned_span(uint64_t offset, uint64_t count, uint32_t sector_size, AlignedSpan& out) {
  if (sector_size == 0) return false;
  out.skip = offset % sector_size;
  out.start = offset - out.skip;
  uint64_t wanted = 0;
  if (!checked_add(count, out.skip, wanted)) return false;
  const uint64_t rest = wanted % sector_size;
  return rest == 0 ? (out.length = wanted, true) : checked_add(wanted, sector_size - rest, out.length);
}

std::string device_path_for(const std::string& path, uint32_t kind) {
  const bool short_name = path.size() <= kDriveLetterPathLength &&
                          (kind == kSourceVolumeLetter || kind == kSourceDevicePath);
  if (short_name && !path.empty() && std::isalpha(static_cast<unsigned char>(path[0])) &&
      static_cast<unsigned char>(path[0]) < 0x80)
    return std::string("\\\\.\\") + path[0] + ":";
  return path;
}

bool DiskSource::open_image(const std::string& path) {
  close();
  file_ = platform::open_input(path);
  if (!file_) return false;
  kind_ = kSourceImageFile;
  path_ = path;
  size_ = file_->size();
  sector_size_ = kDefaultSectorSize;
  open_ = true;
  return true;
}

bool DiskSource::open_device_file(const std::string& path, uint32_t kind, platform::DeviceAccess access) {
  const bool volume = kind == kSourceVolumeLetter || kind == kSourceDevicePath;
  file_ = platform::open_device(path, access, volume, geometry_);
  if (!file_) return false;
  // A device path that reports no geometry is not a disk this can read.
  if (!geometry_.geometry_known && kind == kSourceDevicePath) {
    file_.reset();
    return false;
  }
  kind_ = kind;
  path_ = path;
  sector_size_ = geometry_.bytes_per_sector != 0 ? geometry_.bytes_per_sector : kDefaultSectorSize;
  size_ = file_->size();
  // A device that reports no length of its own is as long as its geometry.
  if (size_ == 0 && geometry_.geometry_known) {
    size_ = geometry_.disk_size;
    if (size_ == 0)
      size_ = geometry_.cylinders * geometry_.tracks_per_cylinder * geometry_.sectors_per_track *
              uint64_t{geometry_.bytes_per_sector};
  }
  if (geometry_.partition_known) {
    partition_offset_ = geometry_.partition_offset;
    partition_number_ = geometry_.partition_number;
  }
  if (geometry_.device_number_known) device_number_ = geometry_.device_number;
  open_ = true;
  return true;
}

bool DiskSource::open_path(const std::string& path, uint32_t kind, bool sequential) {
  close();
  if (kind != kSourceVolumeLetter && kind != kSourceDevicePath && kind != kSourcePhysicalDrive) return false;
  const std::string device = device_path_for(path, kind);
  platform::DeviceAccess access = sequential ? platform::DeviceAccess::sequential : platform::DeviceAccess::random;
  if (kind == kSourceDevicePath || device != path) {
    access = sequential ? platform::DeviceAccess::sequential : platform::DeviceAccess::normal;
  }
  return open_device_file(device, kind, access);
}

bool DiskSource::open_physical_drive(uint32_t number) {
  close();
  if (number >= kPhysicalDriveLimit) return false;
  const std::string device = "\\\\.\\PhysicalDrive" + std::to_string(number);
  if (!open_device_file(device, kSourcePhysicalDrive, platform::DeviceAccess::random)) return false;
  if (!geometry_.geometry_known) {
    close();
    return false;
  }
  device_number_ = number;
  partition_number_ = -1;
  return true;
}

bool DiskSource::attach_vmdk(const std::vector<std::string>& paths, VmdkProblem& problem,
                             const VmdkOpener& opener) {
  return attach_vmdk(paths, problem, std::make_shared<VmdkFiles>(opener));
}

bool DiskSource::attach_vmdk(const std::vector<std::string>& paths, VmdkProblem& problem,
                             std::shared_ptr<VmdkFiles> files) {
  close();
  auto chain = std::make_unique<VmdkChain>();
  if (!chain->open(paths, problem, std::move(files))) return false;
  vmdk_ = std::move(chain);
  kind_ = kSourceVmdkChain;
  path_ = vmdk_->base()->path();
  size_ = vmdk_->size();
  sector_size_ = kDefaultSectorSize;
  open_ = true;
  return true;
}

void DiskSource::set_chain_volume(uint64_t volume_start, int32_t partition_number) {
  if (kind_ != kSourceVmdkChain) return;
  partition_offset_ = volume_start;
  partition_number_ = partition_number;
}

bool DiskSource::read_sectors(uint8_t* buffer, uint64_t& count, uint64_t offset) {
  AlignedSpan span;
  if (!aligned_span(offset, count, sector_size_, span)) return false;
  if (span.skip == 0 && span.length == count) {
    const int64_t got = file_->read_at(offset, buffer, count);
    if (got <= 0) return false;
    count = static_cast<uint64_t>(got);
    return true;
  }
  if (scratch_.size() < span.length) scratch_.resize(span.length);
  const int64_t got = file_->read_at(span.start, scratch_.data(), span.length);
  if (got < 0 || static_cast<uint64_t>(got) <= span.skip) return false;
  count = std::min(count, static_cast<uint64_t>(got) - span.skip);
  const auto piece = std::span<const uint8_t>(scratch_).subspan(span.skip, count);
  std::copy(piece.begin(), piece.end(), buffer);
  return true;
}

bool DiskSource::read(uint8_t* buffer, uint64_t& count, uint64_t offset) {
  if (!open_ || buffer == nullptr || count == 0 || offset >= size_) return false;
  count = std::min(count, size_ - offset);
  if (kind_ == kSourceVmdkChain) {
    const int64_t got = vmdk_->read_at(offset, std::span<uint8_t>(buffer, count));
    if (got <= 0) return false;
    count = static_cast<uint64_t>(got);
    return true;
  }
  if (kind_ != kSourceImageFile) return read_sectors(buffer, count, offset);
  const int64_t got = file_->read_at(offset, buffer, count);
  if (got < 0) return false;
  count = static_cast<uint64_t>(got);
  return true;
}

int64_t DiskSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (!open_) return -1;
  if (offset >= size_ || buffer.empty()) return 0;
  uint64_t count = buffer.size();
  if (!read(buffer.data(), count, offset)) return -1;
  return static_cast<int64_t>(count);
}

HoldingRun DiskSource::holding_at(uint64_t offset) {
  if (open_ && kind_ == kSourceVmdkChain) return vmdk_->holding_at(offset);
  return ByteSource::holding_at(offset);
}

void DiskSource::close() {
  file_.reset();
  vmdk_.reset();
  open_ = false;
  kind_ = kSourceNothing;
  path_.clear();
  geometry_ = platform::DeviceGeometry{};
  device_number_ = 0;
  partition_number_ = -1;
  size_ = 0;
  sector_size_ = kDefaultSectorSize;
  partition_offset_ = 0;
  scratch_.clear();
}

}  // namespace lnk
