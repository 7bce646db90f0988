#include "report/record_writer.h"

#include "report/record_values.h"
#include "report/text_report.h"

namespace lnk {

bool write_record(std::ostream& out, LnkRecord& record, useropts& options) {
  const RecordValues values = derive_record_values(record, options);
  // The delimited layouts (csv, csvl2t, bodyfile) are not built yet; until
  // they are, those runs get the text layout.
  write_text_report(out, record, options, values);
  out.flush();
  return true;
}

}  // namespace lnk
