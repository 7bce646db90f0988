// Turning decoded items into the path, notes and names the reports show.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/options.h"
#include "shellitems/shell_item.h"

namespace lnk {

struct RenderedIdList {
  std::string path;
  // "[1] first; [2] second", and the notes it numbers.
  std::string notes_text;
  std::vector<std::string> notes;
  // What each item of the list, and of the lists nested in them, is called
  // in its path.
  std::unordered_map<const ShellItem*, std::string> names;
};

// False when no item yields a name (the path is then empty).
bool render_idlist(const std::vector<ShellItem>& items, const cmd_params& options,
                   RenderedIdList& out);

// "[1] first; [2] second", empty for no notes.
std::string number_notes(const std::vector<std::string>& notes);

}  // namespace lnk
