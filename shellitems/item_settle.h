// What an item's property stores say about the item itself: a name when it
// has none, its times, and the IDLists held in property values.
#pragma once

#include <string>
#include <vector>

#include "shellitems/shell_item.h"

namespace lnk {

// Runs over a decoded list and every list nested in it.
void settle_items(std::vector<ShellItem>& items);

// A name for an item that has none, from its properties (primary name, name,
// secondary name); custom_fallback receives "CUSTOM_PROP_<name>" when a
// string-named property provides one.
std::string property_item_name(const ShellItem& item, std::string& custom_fallback);

bool has_properties(const ShellItem& item);

}  // namespace lnk
