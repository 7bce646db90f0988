#include "images/image_open.h"

#include <array>

#include "images/partition_table.h"
#include "storage/file_source.h"
#include "storage/qcow_source.h"
#include "storage/split_names.h"
#include "storage/split_raw_source.h"
#include "storage/vhd_format.h"
#include "storage/vhd_source.h"
#include "storage/vmdk_descriptor.h"
#include "storage/vmdk_sparse.h"

namespace lnk {
namespace {

constexpr uint64_t kSniffBytes = 512;

bool names_a_file(const std::string& path) {
  platform::FileStatus status;
  return platform::file_status(path, status) && !platform::is_directory(path);
}

// A raw image, or the first segment of a split one.
void open_raw(const std::string& path, ImageOpenResult& result) {
  const SplitSet split = resolve_split_set(path, names_a_file);
  switch (split.kind) {
    case SplitSetKind::none: {
      auto disk = std::make_unique<DiskSource>();
      if (!disk->open_image(path)) result.error = ImageOpenError::unreadable;
      result.source = std::move(disk);
      result.files = {path};
      return;
    }
    case SplitSetKind::set: {
      result.container = ImageContainer::split_raw;
      auto segments = std::make_unique<SplitRawSource>();
      result.problem = segments->open(split.segments);
      result.source = std::move(segments);
      result.files = split.segments;
      break;
    }
    case SplitSetKind::later_segment:
      result.container = ImageContainer::split_raw;
      result.problem = {.kind = ContainerProblemKind::later_segment, .file = path, .other = split.named};
      break;
    case SplitSetKind::missing:
      result.container = ImageContainer::split_raw;
      result.problem = {.kind = ContainerProblemKind::missing_segment, .file = path, .other = split.named};
      break;
    case SplitSetKind::too_many:
      result.container = ImageContainer::split_raw;
      result.problem = {.kind = ContainerProblemKind::too_many_segments, .file = path};
      break;
  }
  if (!result.problem.ok()) result.error = ImageOpenError::container;
}

template <class Source>
void open_chain(const std::string& path, ImageOpenResult& result) {
  auto source = std::make_unique<Source>();
  result.problem = source->open(path);
  if (!result.problem.ok()) result.error = ImageOpenError::container;
  result.files = source->files();
  result.source = std::move(source);
}

}  // namespace

ImageContainer detect_image_container(std::span<const uint8_t> head, std::span<const uint8_t> tail) {
  if (has_vmdk_sparse_magic(head) || has_vmdk_cowd_magic(head) || looks_like_vmdk_descriptor(head))
    return ImageContainer::vmware;
  if (has_ewf_signature(head)) return ImageContainer::ewf;
  if (has_vhdx_signature(head) || is_vhd_footer(head) || is_vhd_footer(tail)) return ImageContainer::vhd;
  if (has_qcow_signature(head)) return ImageContainer::qcow;
  return ImageContainer::raw;
}

DiskSource* ImageOpenResult::disk_source() const { return dynamic_cast<DiskSource*>(source.get()); }

namespace {

// The container of a file, from its first and last bytes; false when it
// cannot be read.
bool sniff_source(ByteSource& file, ImageContainer& container) {
  std::array<uint8_t, kSniffBytes> head{}, tail{};
  uint64_t got = 0, tail_got = 0;
  if (!read_available(file, 0, head, got) ||
      (file.size() >= tail.size() && !read_available(file, file.size() - tail.size(), tail, tail_got)))
    return false;
  container =
      detect_image_container(std::span<const uint8_t>(head).first(got), std::span<const uint8_t>(tail).first(tail_got));
  return true;
}

bool sniff_container(const std::string& path, ImageContainer& container) {
  std::unique_ptr<FileSource> file = FileSource::open(path);
  return file && sniff_source(*file, container);
}

}  // namespace

ImageOpenResult open_image_by_content(const std::string& path) {
  ImageOpenResult result;
  if (!sniff_container(path, result.container)) {
    result.error = ImageOpenError::unreadable;
    return result;
  }
  switch (result.container) {
    case ImageContainer::raw:
    case ImageContainer::split_raw:
      open_raw(path, result);
      break;
    case ImageContainer::vmware: {
      result.files = {path};
      result.vmdk_check = check_vmdk_set({path});
      if (!result.vmdk_check.ok) {
        result.error = ImageOpenError::vmware;
        break;
      }
      auto disk = std::make_unique<DiskSource>();
      if (!disk->attach_vmdk({path}, result.vmdk_problem)) result.error = ImageOpenError::vmware;
      result.source = std::move(disk);
      break;
    }
    case ImageContainer::ewf: {
      result.files = ewf_segment_names(path, names_a_file);
      auto ewf = std::make_unique<EwfSource>();
      result.ewf = ewf->open(path);
      if (!result.ewf.ok()) result.error = ImageOpenError::ewf;
      result.source = std::move(ewf);
      break;
    }
    case ImageContainer::vhd:
      open_chain<VhdSource>(path, result);
      break;
    case ImageContainer::qcow:
      open_chain<QcowSource>(path, result);
      break;
  }
  if (!result.ok()) result.source.reset();
  return result;
}

bool holds_disk_image(ByteSource& file, ImageContainer& container) {
  if (!sniff_source(file, container)) return false;
  if (container != ImageContainer::raw) return true;
  std::vector<Partition> partitions;
  return has_ntfs_boot_sector(file, 0) || (read_partition_table(file, false, partitions) && !partitions.empty());
}

std::vector<std::string> image_evidence_files(const std::string& path) {
  ImageContainer container = ImageContainer::raw;
  std::vector<std::string> files;
  if (sniff_container(path, container)) {
    // Segments are known by their names; only parents need the disk opened.
    if (container == ImageContainer::raw) files = resolve_split_set(path, names_a_file).segments;
    if (container == ImageContainer::ewf) files = ewf_segment_names(path, names_a_file);
    if (container == ImageContainer::vhd || container == ImageContainer::qcow)
      files = open_image_by_content(path).files;
  }
  if (files.empty() || files.front() != path) files.insert(files.begin(), path);
  return files;
}

}  // namespace lnk
