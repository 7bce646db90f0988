// Where the producers put what they find: every record they accept (its
// bytes into the -outdir folder when asked, then on to the run's writer, or
// a test's collector, together with the provenance of its source), and
// whether the run wants status lines on standard error as they go.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "lnk/record_sink.h"
#include "platform/pending_file.h"

namespace lnk {

// An output of the run that could not be written (results, a dump, the
// -diags log): the run ends at once. output names it as the user did;
// error is the system's errno value.
struct OutputFailure {
  std::string output;
  int error = 0;
};

class RecordOutlet {
 public:
  using Consumer = std::function<void(const LnkRecord&, const SourceInfo&)>;

  // dump_dir empty: no record files are written.
  explicit RecordOutlet(Consumer consumer, std::string dump_dir = {})
      : consumer_(std::move(consumer)), dump_dir_(std::move(dump_dir)) {}

  // Throws OutputFailure when the record's dump cannot be written.
  void put(const LnkRecord& record, const SourceInfo& source, const ParsedBytes& bytes);

  // A sink for a reader that parses records itself, bound to one source.
  RecordSink sink_for(const SourceInfo& source) {
    return [this, &source](const LnkRecord& record, const ParsedBytes& bytes) { put(record, source, bytes); };
  }

  uint32_t records_put() const { return records_put_; }

  // The -outdir dumps written so far; each takes its name only when
  // committed, and is removed when the outlet ends without that.
  std::vector<platform::PendingFile>& pending_dumps() { return dumps_; }
  void commit_dumps();

  // Status lines are off unless the driver turns them on (not under -quiet,
  // and only on a terminal, where each overwrites the last).
  void set_progress(bool on) { progress_ = on; }
  bool progress() const { return progress_; }

  // Told once when a volume's scan meets a file that names a jump list:
  // the CSV columns hang on it, and the scan learns it without a walk of
  // its own.
  void watch_jump_lists(std::function<void()> watch) { jump_list_watch_ = std::move(watch); }
  bool watches_jump_lists() const { return static_cast<bool>(jump_list_watch_); }
  void jump_list_named() {
    std::function<void()> watch = std::move(jump_list_watch_);
    jump_list_watch_ = nullptr;
    if (watch) watch();
  }

 private:
  Consumer consumer_;
  std::string dump_dir_;
  uint32_t dump_count_ = 0;
  std::vector<platform::PendingFile> dumps_;
  uint32_t records_put_ = 0;
  bool progress_ = false;
  std::function<void()> jump_list_watch_;
};

}  // namespace lnk
