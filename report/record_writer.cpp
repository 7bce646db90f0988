#include "report/record_writer.h"

#include "report/csv_report.h"
#include "report/record_values.h"
#include "report/text_report.h"
#include "report/timeline_report.h"

namespace lnk {

void RecordWriter::write(const LnkRecord& record, const SourceInfo& source) {
  const RecordValues values = derive_record_values(record, source, options_);
  if (options_.bodyfile) {
    write_bodyfile_record(out_, record, source, options_, values, state_);
  } else if (options_.csvl2t) {
    write_l2t_record(out_, record, source, options_, values, state_);
  } else if (options_.csv) {
    write_csv_record(out_, record, source, options_, values, state_);
  } else {
    write_text_report(out_, record, source, options_, values);
  }
  // Each record reaches the stream whole before the next is decoded.
  out_.flush();
}

}  // namespace lnk
