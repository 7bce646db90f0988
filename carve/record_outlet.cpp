#include "carve/record_outlet.h"

#include "carve/record_dump.h"

namespace lnk {

void RecordOutlet::put(const LnkRecord& record, const SourceInfo& source, const ParsedBytes& bytes) {
  // A record made from a DestList entry alone has no shortcut bytes to dump.
  if (!dump_dir_.empty() && !bytes.bytes.empty()) dump_record(dump_dir_, dump_count_, bytes.offset, bytes.bytes);
  ++records_put_;
  if (consumer_) consumer_(record, source);
}

}  // namespace lnk
