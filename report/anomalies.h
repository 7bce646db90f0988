// The ways a shortcut departs from what Windows writes: each a code that
// triage can filter on and a detail that leads to the bytes.
#pragma once

#include <string>
#include <vector>

#include "lnk/lnk_record.h"
#include "report/launch_command.h"
#include "report/render_idlist.h"

namespace lnk {

struct Anomaly {
  std::string code;
  std::string detail;
};

// A run of blanks and control characters in the arguments at least this
// long, with more after it, hides what follows from a reader that shows
// only the start (Explorer's Target box shows 260 characters). Real
// shortcuts have runs of at most one.
inline constexpr size_t kPaddingRun = 16;

std::vector<Anomaly> find_anomalies(const LnkRecord& record, const RenderedIdList& idlist,
                                    const RenderedIdList& vista_idlist,
                                    const std::vector<std::string>& property_values,
                                    const LaunchCommand& command);

// The codes joined by blanks, as the CSV column holds them.
std::string anomaly_codes(const std::vector<Anomaly>& anomalies);

}  // namespace lnk
