#include "report/idlist_breakout.h"

namespace lnk {

std::map<uint64_t, IdlistSegment> collect_idlist_segments(const std::vector<ShellItem>&,
                                                          const useropts&) {
  return {};
}

void write_idlist_breakout(std::ostream&, const std::vector<ShellItem>&, const useropts&) {}

}  // namespace lnk
