// The StringData section: description, relative path, working directory,
// arguments and icon location.
#pragma once

#include <cstdint>

#include "lnk/lnk_record.h"
#include "platform/byte_reader.h"

namespace lnk {

// Reads the strings the link flags announce, starting at pos. False when a
// string runs past the end of the bytes: pos is then left at that string
// and nothing after it may be read.
bool read_string_data(LnkRecord& record, const ByteReader& bytes, uint64_t& pos);

}  // namespace lnk
