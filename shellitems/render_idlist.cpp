#include "shellitems/render_idlist.h"

namespace lnk {

bool render_idlist(std::string& path, std::string& notes_text, std::vector<std::string>& notes,
                   uint64_t& modified, uint64_t& accessed, uint64_t& created, const useropts&,
                   std::vector<ShellItem>& items) {
  path.clear();
  notes_text.clear();
  notes.clear();
  modified = accessed = created = 0;
  (void)items;
  return false;
}

}  // namespace lnk
