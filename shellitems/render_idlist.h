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

// The text that stands for one item in the path, and its notes (each once).
// Fills the item's name and times from its properties when they are empty.
bool describe_item(ShellItem& item, std::string& display, std::string& notes_text,
                   std::vector<std::string>& notes, const useropts& options);

// "[1] first; [2] second", empty for no notes.
std::string number_notes(const std::vector<std::string>& notes);

}  // namespace lnk
