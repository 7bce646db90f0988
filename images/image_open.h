// Opens an image file as the disk it holds, whatever its container: a raw
// image (whole, or split into segments), a VMware disk (sparse extent or
// descriptor), an EWF evidence file, a VHD or VHDX disk, or a QCOW disk.
// The container is recognised by its bytes, not by its name; only a split
// raw image is told by its name and the names beside it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "storage/container_problem.h"
#include "storage/disk_source.h"
#include "storage/ewf_source.h"
#include "storage/vmdk_chain.h"

namespace lnk {

enum class ImageContainer { raw, vmware, ewf, split_raw, vhd, qcow };

// head: the first bytes of the file; tail: its last 512 bytes, where a
// fixed VHD keeps its only footer.
ImageContainer detect_image_container(std::span<const uint8_t> head, std::span<const uint8_t> tail = {});

enum class ImageOpenError {
  none,
  unreadable,  // the file cannot be opened
  vmware,      // see vmdk_check (and vmdk_problem when the check passed)
  ewf,         // see ewf
  container,   // split raw, VHD/VHDX or QCOW: see problem
};

struct ImageOpenResult {
  ImageContainer container = ImageContainer::raw;
  ImageOpenError error = ImageOpenError::none;
  // Raw images and VMware disks open as a DiskSource (kind 0 or 4), the
  // other containers as their own sources.
  std::unique_ptr<ByteSource> source;
  VmdkSetCheck vmdk_check;
  VmdkProblem vmdk_problem;
  EwfOpenStatus ewf;
  ContainerProblem problem;
  // Every file the disk is read from: the image, its split segments or the
  // parent disks it is read over.
  std::vector<std::string> files;

  bool ok() const { return error == ImageOpenError::none; }
  // The source as a DiskSource, or null for the other containers.
  DiskSource* disk_source() const;
};

ImageOpenResult open_image_by_content(const std::string& path);

// For a file examined as a file: whether it holds a disk, and in which
// container (raw when its first sectors hold a partition table or an NTFS
// boot sector).
bool holds_disk_image(ByteSource& file, ImageContainer& container);
// The files a disk image is read from, path first; path alone when it is
// not an image that opens.
std::vector<std::string> image_evidence_files(const std::string& path);

}  // namespace lnk
