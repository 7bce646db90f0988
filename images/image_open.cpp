#include "images/image_open.h"

#include <array>

#include "storage/file_source.h"
#include "storage/vmdk_descriptor.h"
#include "storage/vmdk_sparse.h"

namespace lnk {
namespace {

constexpr uint64_t kSniffBytes = 512;

}  // namespace

ImageContainer detect_image_container(std::span<const uint8_t> head) {
  if (has_vmdk_sparse_magic(head) || has_vmdk_cowd_magic(head) || looks_like_vmdk_descriptor(head))
    return ImageContainer::vmware;
  if (has_ewf_signature(head)) return ImageContainer::ewf;
  return ImageContainer::raw;
}

DiskSource* ImageOpenResult::disk_source() const { return dynamic_cast<DiskSource*>(source.get()); }

ImageOpenResult open_image_by_content(const std::string& path) {
  ImageOpenResult result;
  std::array<uint8_t, kSniffBytes> head{};
  uint64_t got = 0;
  {
    std::unique_ptr<FileSource> file = FileSource::open(path);
    if (!file || !read_available(*file, 0, head, got)) {
      result.error = ImageOpenError::unreadable;
      return result;
    }
  }
  result.container = detect_image_container(std::span<const uint8_t>(head).first(got));
  switch (result.container) {
    case ImageContainer::raw: {
      auto disk = std::make_unique<DiskSource>();
      if (!disk->open_image(path)) result.error = ImageOpenError::unreadable;
      result.source = std::move(disk);
      break;
    }
    case ImageContainer::vmware: {
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
      auto ewf = std::make_unique<EwfSource>();
      result.ewf = ewf->open(path);
      if (!result.ewf.ok()) result.error = ImageOpenError::ewf;
      result.source = std::move(ewf);
      break;
    }
  }
  if (!result.ok()) result.source.reset();
  return result;
}

}  // namespace lnk
