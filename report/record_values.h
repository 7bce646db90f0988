// Values every layout derives from a record the same way before writing it.
#pragma once

#include <cstdint>
#include <string>

#include "cmdline/useropts.h"
#include "lnk/lnk_record.h"

namespace lnk {

struct RecordValues {
  // First non-empty of the IDList path, Vista IDList path, environment
  // target, relative path and icon location.
  std::string target_name;
  // Header times, falling back to the last IDList item's times (FILETIME).
  uint64_t target_modified = 0;
  uint64_t target_accessed = 0;
  uint64_t target_created = 0;
  std::string app_id_text;
};

RecordValues derive_record_values(const LnkRecord& record, const useropts& options);

}  // namespace lnk
