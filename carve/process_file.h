// Finding shortcut records in one file: a shortcut, a jump list, or any file
// that holds records somewhere.
#pragma once

#include <cstdint>
#include <string>

#include "carve/record_outlet.h"
#include "core/options.h"
#include "core/source_info.h"
#include "storage/byte_source.h"

namespace lnk {

// True when at least one record was parsed and put to the outlet. A record
// at the file's start is reported with file_source_type.
bool process_shortcut_file(const std::string& path, const std::string& file_source_type,
                           const SourceInfo& source, const useropts& options, RecordOutlet& outlet);
// The same over bytes already opened.
bool process_shortcut_bytes(ByteSource& file, const std::string& file_source_type,
                            const SourceInfo& source, const useropts& options, RecordOutlet& outlet);

}  // namespace lnk
