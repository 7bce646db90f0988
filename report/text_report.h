// The readable text layout: one labelled line per populated field.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/record_values.h"

namespace lnk {

// "date time [UTC]" in the user's formats, or empty when the time is not
// valid (or the date format yields no date).
std::string report_date_time(uint64_t filetime, const cmd_params& options, bool with_fraction);

void write_text_report(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                       const useropts& options, const RecordValues& values);

}  // namespace lnk
