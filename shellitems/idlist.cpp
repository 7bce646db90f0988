#include "shellitems/idlist.h"

namespace lnk {

// Item decoding arrives with the shell item decoders; until then an IDList
// yields no items and the parser resumes after IDListSize.
bool walk_idlist(std::vector<ShellItem>& items, uint8_t*, uint32_t, DecodeContext&,
                 const useropts&) {
  return !items.empty();
}

}  // namespace lnk
