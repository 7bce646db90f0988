// Values every layout derives from a record the same way before writing it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/anomalies.h"
#include "report/launch_command.h"
#include "report/render_idlist.h"

namespace lnk {

struct RecordValues {
  // The LinkTargetIDList and the VistaAndAboveIDList as the reports show
  // them.
  RenderedIdList idlist;
  RenderedIdList vista_idlist;
  // The PropertyStoreDataBlock listing.
  std::vector<std::string> property_names;
  std::vector<std::string> property_values;
  // First non-empty of the IDList path, Vista IDList path, environment
  // target, relative path, icon location and DestList path.
  std::string target_name;
  // Header times, falling back to the last IDList item's times (FILETIME).
  uint64_t target_modified = 0;
  uint64_t target_accessed = 0;
  uint64_t target_created = 0;
  std::string app_id_text;
  // What Windows would start, and how the record departs from what Windows
  // writes.
  LaunchCommand command;
  std::vector<Anomaly> anomalies;
};

// Where a record lies within the volume scanned: a found file's path there,
// " (deleted)" added when its MFT record is free, or, for a record carved
// from the volume's clusters, the pass ("Unalloc (carved)"). Empty for
// other records.
std::string volume_location(const SourceInfo& source);

RecordValues derive_record_values(const LnkRecord& record, const SourceInfo& source,
                                  const cmd_params& options);

}  // namespace lnk
