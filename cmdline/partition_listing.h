// The texts the user sees when a disk image, a VMware disk set or an
// evidence file cannot be scanned as given: what was found, and which
// option or file list to rerun with. Every line ends with a newline.
#pragma once

#include <string>
#include <vector>

#include "images/image_open.h"
#include "images/image_volume.h"
#include "storage/vmdk_chain.h"

namespace lnk {

// The messages of a volume search, the partition listing and the
// "use option [-offset 0x...]" line.
std::string render_volume_search(const ImageVolumeSearch& search);

// One line per partition: "volume offset [ 0x100000 ] : ntfs".
std::string render_partition_line(const Partition& partition);

// Why a VMware disk set cannot be read.
std::string render_vmdk_problem(const VmdkProblem& problem);
// "suggested array: -vmdk "a | b"" without a newline, or empty when the
// check had nothing to suggest.
std::string render_vmdk_suggestion(const VmdkSetCheck& check);

// Why an image file could not be opened ("invalid image: ..." and the
// container's own reason).
std::string render_image_open_error(const ImageOpenResult& result, const std::string& path);

}  // namespace lnk
