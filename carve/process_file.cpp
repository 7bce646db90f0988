#include "carve/process_file.h"

namespace lnk {

bool process_shortcut_file(std::ostream&, const std::string&, useropts&) { return false; }
bool find_lnk_signature(uint64_t&, const uint8_t*, uint64_t, uint32_t) { return false; }

}  // namespace lnk
