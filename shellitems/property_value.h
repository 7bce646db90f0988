// One typed value of a serialized property store (MS-OLEPS TypedPropertyValue).
#pragma once

#include <cstdint>

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

enum VarType : uint16_t {
  kVtEmpty = 0,
  kVtNull = 1,
  kVtI4 = 3,
  kVtR8 = 5,
  kVtDate = 7,
  kVtBstr = 8,
  kVtError = 10,
  kVtBool = 11,
  kVtI1 = 16,
  kVtUi1 = 17,
  kVtUi4 = 19,
  kVtI8 = 20,
  kVtUi8 = 21,
  kVtInt = 22,
  kVtLpstr = 30,
  kVtLpwstr = 31,
  kVtFiletime = 64,
  kVtBlob = 65,
  kVtStream = 66,
  kVtClsid = 72,
  kVtVector = 0x1000,
};

// value starts at the VARTYPE field and ends with the property value. Fills
// vartype and the value fields of property; false when the type is not one
// we decode or the value does not fit, and the property is then dropped.
bool decode_property_value(Property& property, ByteReader value);

// Portable-device property records count the bytes of a text, not its
// characters; everything else is laid out as in a property store.
enum class TextCount { characters, bytes };

// As decode_property_value; returns how many bytes the value took from its
// VARTYPE on, 0 when it was dropped.
uint64_t decode_property_value_sized(Property& property, ByteReader value, TextCount count);

}  // namespace lnk
