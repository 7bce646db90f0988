// Walking an IDList and decoding its ItemIDs.
#pragma once

#include <cstdint>
#include <vector>

#include "cmdline/useropts.h"
#include "shellitems/shell_item.h"

namespace lnk {

// Appends one ShellItem per decoded ItemID; true when the list is not empty
// afterwards. bytes start after the IDListSize field.
bool walk_idlist(std::vector<ShellItem>& items, uint8_t* bytes, uint32_t length,
                 DecodeContext& context, const useropts& options);

}  // namespace lnk
