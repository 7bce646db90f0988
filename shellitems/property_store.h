// Serialized property stores, as found in extra blocks and inside shell items.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cmdline/useropts.h"
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
bool parse_property_store(PropertyMap& out, ByteReader bytes, DecodeContext& context,
                          const useropts& options);

// Appends a decoded property after those already in out, keeping decode order.
void add_property(PropertyMap& out, Property&& property);

// The PropertyStoreDataBlock listing: one name text and one value text per
// listed property.
void list_properties(const PropertyMap& properties, std::vector<std::string>& names,
                     std::vector<std::string>& values, const useropts& options);

// A name for an item that has none, from its properties (primary name, name,
// secondary name); custom_fallback receives "CUSTOM_PROP_<name>" when a
// string-named property provides one.
std::string property_item_name(const ShellItem& item, std::string& custom_fallback);

// Adds the item's property notes (each once, tracked in added) and moves
// flagged FILETIMEs into the item's times.
void describe_item_properties(ShellItem& item, std::vector<std::string>& notes,
                              std::set<std::string>& added, const useropts& options);

}  // namespace lnk
