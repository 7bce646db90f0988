#include "report/record_writer.h"

#include "report/csv_report.h"
#include "report/record_values.h"
#include "report/text_report.h"
#include "report/timeline_report.h"

namespace lnk {

bool write_record(std::ostream& out, LnkRecord& record, useropts& options) {
  const RecordValues values = derive_record_values(record, options);
  if (options.bodyfile) {
    write_bodyfile_record(out, record, options, values);
  } else if (options.csvl2t) {
    write_l2t_record(out, record, options, values);
  } else if (options.csv) {
    write_csv_record(out, record, options, values);
  } else {
    write_text_report(out, record, options, values);
  }
  // Each record reaches the stream whole before the next is decoded.
  out.flush();
  return true;
}

}  // namespace lnk
