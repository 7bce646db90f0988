// Timeline layouts: log2timeline CSV (one line per distinct instant) and
// the sleuthkit body file (one line per record).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/source_info.h"
#include "report/delimited_table.h"
#include "lnk/lnk_record.h"
#include "report/record_values.h"

namespace lnk {

// The four instants of one record, FILETIMEs; the C slot holds the MRU time.
struct TimelineSlots {
  uint64_t m_time = 0, a_time = 0, c_time = 0, b_time = 0;
};

struct TimelineEvent {
  uint64_t time = 0;
  std::string marks;      // "MACB" with "." for each slot not merged here
  std::string type_text;  // the slots' descriptions joined by "; "
};

// What each slot's time is, for the event's type text.
struct SlotNames {
  const char* m;
  const char* a;
  const char* c;
  const char* b;
};
inline constexpr SlotNames kTargetSlotNames = {"Last Modified", "Last Access", "MRU Time", "Created"};

// Equal instants merged into one event each, in ascending time order.
// Zero and invalid times take no part.
std::vector<TimelineEvent> merge_macb(const TimelineSlots& slots, const SlotNames& names = kTargetSlotNames);

TimelineSlots timeline_slots(const LnkRecord& record, const RecordValues& values);

// The log2timeline desc text: "target <- source; vol label-...; ...", the
// optional parts only when present.
std::string timeline_description(const LnkRecord& record, const RecordValues& values,
                                 const std::string& source_path);

void write_l2t_record(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                      const useropts& options, const RecordValues& values, WriterState& state);

// Unix seconds for the body file: 0 for 0, for a FILETIME with its top bit
// set, and for any instant before 1970.
uint64_t bodyfile_seconds(uint64_t filetime);

void write_bodyfile_record(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                           const useropts& options, const RecordValues& values, WriterState& state);

}  // namespace lnk
