// Property values as text: the PropertyStoreDataBlock listing and the notes
// a property store adds to a shell item.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "core/options.h"
#include "shellitems/shell_item.h"

namespace lnk {

// The PropertyStoreDataBlock listing: one name text and one value text per
// listed property.
void list_properties(const PropertyMap& properties, std::vector<std::string>& names,
                     std::vector<std::string>& values, const cmd_params& options);

// Adds the item's property notes, each once (tracked in added).
void describe_item_properties(const ShellItem& item, std::vector<std::string>& notes,
                              std::set<std::string>& added, const cmd_params& options);

}  // namespace lnk
