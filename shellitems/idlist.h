// Walking an IDList and decoding its ItemIDs.
#pragma once

#include <cstdint>
#include <vector>

#include "shellitems/shell_item.h"

namespace lnk {

// Appends one ShellItem per decoded ItemID; true when the list is not empty
// afterwards. bytes start after the IDListSize field.
bool walk_idlist(std::vector<ShellItem>& items, ByteReader bytes, DecodeContext& context);

}  // namespace lnk
