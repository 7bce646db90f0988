// Turning decoded items into the path, notes and times the reports show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cmdline/useropts.h"
#include "shellitems/shell_item.h"

namespace lnk {

bool render_idlist(std::string& path, std::string& notes_text, std::vector<std::string>& notes,
                   uint64_t& modified, uint64_t& accessed, uint64_t& created,
                   const useropts& options, std::vector<ShellItem>& items);

}  // namespace lnk
