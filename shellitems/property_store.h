// Serialized property stores, as found in extra blocks and inside shell items.
#pragma once

#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "platform/text.h"
#include "shellitems/shell_item.h"

namespace lnk {

// The property set whose values are named by strings rather than numbers.
// The version field of every serialized property storage: the bytes "1SPS".
inline constexpr uint32_t kPropertyStorageVersion = 0x53505331;
inline constexpr Guid kStringNamedSetId = guid_literal("D5CDD505-2E9C-101B-9397-08002B2CF9AE");

// Decodes a serialized property store into out; true when at least one
// storage was accepted.
bool parse_property_store(PropertyMap& out, ByteReader bytes, DecodeContext& context);

// Appends a decoded property after those already in out, keeping decode order.
void add_property(PropertyMap& out, Property&& property);

}  // namespace lnk
