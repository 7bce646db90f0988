#include "shellitems/device_properties.h"

#include <cstdint>

#include "shellitems/property_names.h"
#include "shellitems/property_store.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

constexpr uint64_t kEntryFormatIdOffset = 0;
constexpr uint64_t kEntryPidOffset = 16;
constexpr uint64_t kEntryTypeOffset = 20;
// A header and at least one byte of value.
constexpr uint64_t kEntryMinimum = 25;
constexpr uint32_t kMaxEntries = 4096;
constexpr uint64_t kValueOffset = 24;

// Fixed-width types that are not decoded but must be stepped over, since an
// entry carries no size of its own; 0 when the width is not known.
uint64_t skipped_value_size(uint32_t vartype) {
  switch (vartype) {
    case kVtEmpty: case kVtNull: return 0;
    case 2: case 18: return 2;   // VT_I2, VT_UI2
    case 4: return 4;            // VT_R4
    case 6: return 8;            // VT_CY
    default: return UINT64_MAX;
  }
}

}  // namespace

uint32_t decode_device_properties(PropertyMap& out, ByteReader entries) {
  uint32_t decoded = 0;
  uint64_t off = 0;
  for (uint32_t n = 0; n < kMaxEntries && entries.has(off, kEntryMinimum); ++n) {
    uint32_t pid = entries.u32(off + kEntryPidOffset);
    if (pid == 0) break;
    Property property;
    property.fmtid = entries.guid(off + kEntryFormatIdOffset);
    property.pid = pid;
    name_property(property);
    // Without its size a value that cannot be decoded hides where the next
    // entry starts.
    uint64_t used = decode_property_value_sized(property, entries.tail(off + kEntryTypeOffset),
                                                TextCount::bytes);
    if (used != 0) {
      add_property(out, std::move(property));
      ++decoded;
      off += kEntryTypeOffset + used;
      continue;
    }
    uint64_t skip = skipped_value_size(entries.u32(off + kEntryTypeOffset));
    if (skip == UINT64_MAX || !entries.has(off + kValueOffset, skip)) break;
    off += kValueOffset + skip;
  }
  return decoded;
}

}  // namespace lnk
