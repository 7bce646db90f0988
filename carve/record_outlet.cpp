#include "carve/record_outlet.h"

#include "carve/record_dump.h"

namespace lnk {

void RecordOutlet::put(const LnkRecord& record, const SourceInfo& source, const ParsedBytes& bytes) {
  // A record made from a DestList entry alone has no shortcut bytes to dump.
  if (!dump_dir_.empty() && !bytes.bytes.empty()) {
    std::string path;
    int error = 0;
    platform::PendingFile dump = dump_record(dump_dir_, dump_count_, bytes.offset, bytes.bytes, path, error);
    if (!dump.active()) throw OutputFailure{path, error};
    dumps_.push_back(std::move(dump));
    if (bytes.appended) {
      std::string appended_path;
      platform::PendingFile appended = dump_appended(path, bytes.appended, appended_path, error);
      if (!appended.active()) throw OutputFailure{appended_path, error};
      dumps_.push_back(std::move(appended));
    }
  }
  ++records_put_;
  if (consumer_) consumer_(record, source);
}

void RecordOutlet::commit_dumps() {
  for (platform::PendingFile& dump : dumps_) dump.commit(false);
  dumps_.clear();
}

}  // namespace lnk
