// What VHD and VHDX files share:
// the signatures that tell them apart from raw disks, and the names under
// which a differencing disk recorded its parent.
#pragma once

#include <span>
#include <string>

#include "storage/byte_source.h"
#include "storage/disk_chain.h"

namespace lnk {

constexpr size_t kVhdFooterSize = 512;

// "vhdxfile" at the start of the file.
bool has_vhdx_signature(std::span<const uint8_t> head);
// A VHD footer (cookie "conectix" and a checksum that adds up): at the
// start of a dynamic or differencing disk, and at the end of every VHD.
bool is_vhd_footer(std::span<const uint8_t> sector);

// The parent names of a differencing VHD or VHDX, as the child recorded
// them (Windows paths): relative paths from the child's folder; absolute
// and volume paths, and the VHD's bare parent name. Empty when the file is
// neither, records no parent, or its structures do not lead to one.
ParentNames read_vhd_parent_names(ByteSource& file);

}  // namespace lnk
