// Finding the records in one file: a shortcut, an automatic or custom jump
// list, or any file that holds records somewhere. Files named on the
// command line or in a -pipe list and files found on a volume all come
// here, so the same bytes give the same records however they were found.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "carve/record_outlet.h"
#include "core/options.h"
#include "core/source_info.h"
#include "storage/byte_source.h"

namespace lnk {

// What the records of a file say about where it came from.
struct FileProvenance {
  // Carried by every record: the file's path (or the volume it was found
  // in), its size and times, its MFT reference, a jump list's AppID.
  SourceInfo source;
  // A file found on a volume: its path there ("[root]\Users\x.lnk"),
  // whether its MFT record is free, and where its bytes lie. Its records
  // name it in their source type and report where their bytes lie in the
  // source scanned. All empty for a file named by the user.
  std::string volume_path;
  bool deleted = false;
  // The offset in the source scanned (the volume, the disk it lies on, the
  // image) of the byte at a file offset.
  std::function<uint64_t(uint64_t)> place;
};

// True when at least one record was put to the outlet.
bool process_file_bytes(ByteSource& file, const FileProvenance& provenance, const useropts& options,
                        RecordOutlet& outlet);
// A file named by the user, opened read-only; false also when it cannot be.
bool process_shortcut_file(const std::string& path, const SourceInfo& source, const useropts& options,
                           RecordOutlet& outlet);

}  // namespace lnk
