// Finding the records in one file: a shortcut, an automatic or custom jump
// list, or any file that holds records somewhere. Files named on the
// command line or in a -pipe list and files found on a volume all come
// here, so the same bytes give the same records however they were found.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "carve/record_outlet.h"
#include "core/options.h"
#include "core/source_info.h"
#include "storage/byte_source.h"

namespace lnk {

// What the records of a file say about where it came from.
struct FileProvenance {
  // Carried by every record: the file's path (or the volume it was found
  // in), its size and times, its MFT reference, a jump list's AppID; for a
  // file found on a volume its path there, which its records name in their
  // source type.
  SourceInfo source;
  // A file found on a volume: the offset in the source scanned (the volume,
  // the disk it lies on, the image) of the byte at a file offset. Unset for
  // a file named by the user.
  std::function<uint64_t(uint64_t)> place;
};

// True when at least one record was put to the outlet.
bool process_file_bytes(ByteSource& file, const FileProvenance& provenance, const useropts& options,
                        RecordOutlet& outlet);
// Whether any of the files holds a jump list, told before they are read:
// by a jump-list extension, or, for a name that does not end in ".lnk", by
// an automatic or custom jump list at the file's start.
bool any_file_holds_jump_list(const std::vector<std::string>& paths);

// How many of a file's first bytes may_hold_shortcut_or_jump_list looks at.
constexpr size_t kContentProbeBytes = 512;
// Whether a file's first bytes begin a shortcut, a compound file or a
// custom-destinations header: what tells a file whose name says nothing.
bool may_hold_shortcut_or_jump_list(std::span<const uint8_t> head);

// A file named by the user, opened read-only; false also when it cannot be.
bool process_shortcut_file(const std::string& path, const SourceInfo& source, const useropts& options,
                           RecordOutlet& outlet);

}  // namespace lnk
