// The property entries that portable-device (MTP) items carry after their
// texts: each a FMTID, a u32 property id, a u32 VARTYPE and the value.
#pragma once

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

// entries starts at the first entry; decoded values are appended to out.
// Returns how many were decoded.
uint32_t decode_device_properties(PropertyMap& out, ByteReader entries);

}  // namespace lnk
