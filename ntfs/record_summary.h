// What a pass over every MFT record needs from one record, in one walk of
// its attributes: the header, the $STANDARD_INFORMATION times, the first
// long name, whether an attribute list holds more, and the unnamed data's
// size.
#pragma once

#include <cstdint>
#include <span>

#include "ntfs/mft_record.h"

namespace lnk {

struct RecordSummary {
  RecordHeader header;
  bool has_standard_information = false;
  StandardInformation standard_information;
  // The first resident $FILE_NAME that is not a DOS 8.3 name.
  bool has_name = false;
  FileName name;
  // A DOS 8.3 name seen while no other name was.
  bool has_dos_name_only = false;
  bool has_attribute_list = false;
  uint32_t name_count = 0;       // resident $FILE_NAMEs, DOS names included
  bool has_named_data = false;   // a named $DATA stream
  bool has_reparse_point = false;
  bool has_data = false;
  bool data_resident = false;
  uint16_t data_flags = 0;
  uint64_t data_size = 0;  // real size, or the resident value's length

  bool in_use() const { return header.flags & kRecordInUse; }
  bool is_directory() const { return header.flags & kRecordDirectory; }
  bool is_extension() const { return header.base_reference != 0; }
};

// False when the record has no header; the attribute walk stops at the
// first malformed attribute.
bool summarize_record(std::span<const uint8_t> record, RecordSummary& out);

}  // namespace lnk
