// Opens an image file as the disk it holds, whatever its container: a raw
// image, a VMware disk (sparse extent or descriptor) or an EWF evidence
// file. The container is recognised by its first bytes, not by its name.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "storage/byte_source.h"
#include "storage/disk_source.h"
#include "storage/ewf_source.h"
#include "storage/vmdk_chain.h"

namespace lnk {

enum class ImageContainer { raw, vmware, ewf };

ImageContainer detect_image_container(std::span<const uint8_t> head);

enum class ImageOpenError {
  none,
  unreadable,  // the file cannot be opened
  vmware,      // see vmdk_check (and vmdk_problem when the check passed)
  ewf,         // see ewf
};

struct ImageOpenResult {
  ImageContainer container = ImageContainer::raw;
  ImageOpenError error = ImageOpenError::none;
  // Raw images and VMware disks open as a DiskSource (kind 0 or 4), EWF
  // files as an EwfSource.
  std::unique_ptr<ByteSource> source;
  VmdkSetCheck vmdk_check;
  VmdkProblem vmdk_problem;
  EwfOpenStatus ewf;

  bool ok() const { return error == ImageOpenError::none; }
  // The source as a DiskSource, or null for an EWF file.
  DiskSource* disk_source() const;
};

ImageOpenResult open_image_by_content(const std::string& path);

}  // namespace lnk
