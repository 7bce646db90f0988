// Timesketch's import format (-timesketch): JSON Lines, one line per event,
// each with the fields Timesketch requires (message, datetime,
// timestamp_desc) and the record's identifying fields flattened beside them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/record_values.h"
#include "report/timeline_report.h"

namespace lnk {

// Which of a record's times an event stands for.
enum class EventTimes { target, source_file, object_id };

struct RecordEvent {
  TimelineEvent event;
  EventTimes times;
};

// Every event of one record: the target and MRU times merged as the
// log2timeline layout merges them, then the source file's own times merged
// the same way (when they belong to the record rather than to an image it
// was carved from), then the tracker's object identifier times.
std::vector<RecordEvent> record_events(const LnkRecord& record, const SourceInfo& source,
                                       const useropts& options, const RecordValues& values);

// Appends one line per event; record_number counts the run's records from 1.
// A record without a valid time appends nothing.
void append_timesketch_events(std::string& out, const LnkRecord& record, const SourceInfo& source,
                              const useropts& options, const RecordValues& values, uint64_t record_number);

}  // namespace lnk
