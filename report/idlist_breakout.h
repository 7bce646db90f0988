// The -idltimes breakout: every subpath of the IDList with its times and MFT reference.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "core/options.h"
#include "report/render_idlist.h"
#include "shellitems/shell_item.h"

namespace lnk {

struct IdlistSegment {
  std::string subpath;
  bool is_path_segment = true;
  uint64_t modify_time = 0;
  uint64_t access_time = 0;
  uint64_t create_time = 0;
  uint64_t mft_entry = 0;
  uint16_t mft_seq = 0;
};

// Keyed by the segment's position so a subpath met twice is listed once.
// Items are named as the rendering of their list named them.
std::map<uint64_t, IdlistSegment> collect_idlist_segments(const std::vector<ShellItem>& items,
                                                          const RenderedIdList& rendered);

// Text report form; writes nothing when there are no segments.
void write_idlist_breakout(std::ostream& out, const std::vector<ShellItem>& items,
                           const RenderedIdList& rendered, const cmd_params& options);

}  // namespace lnk
