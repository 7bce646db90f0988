#include "cmdline/run_outputs.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "cmdline/evidence_guard.h"
#include "cmdline/options.h"
#include "platform/pending_file.h"
#include "platform/platform.h"

namespace lnk {
namespace {

// A new file is created beside the target and removed again, so that a
// name that can never be written ends the run before anything is read.
// The named file itself is not opened: it may be the evidence.
bool can_create_file(const std::string& path) {
  platform::PendingFile probe;
  if (probe.begin(path)) return true;
  std::fprintf(stderr, "prob opening file %s for output, aborting\n", path.c_str());
  return false;
}

// Neither file need exist yet: then the names are compared.
bool same_file(const std::string& a, const std::string& b) {
  platform::FileIdentity first, second;
  if (platform::file_identity(a, first) && platform::file_identity(b, second)) return first == second;
  return std::filesystem::path(a).lexically_normal() == std::filesystem::path(b).lexically_normal();
}

// Two outputs in one file would lose one of them.
bool named_once(const std::string& path, const std::string& other, const char* other_option) {
  if (path.empty() || other.empty() || !same_file(path, other)) return true;
  std::fprintf(stderr, "prob opening file %s for output: %s names it too, aborting\n", path.c_str(), other_option);
  return false;
}

bool dump_dir_can_be_made(const std::string& dir) {
  int error = 0;
  if (directory_can_be_made(dir, error)) return true;
  std::fprintf(stderr, "can't create directory at %s: %s, aborting\n", dir.c_str(),
               platform::error_text(error).c_str());
  return false;
}

}  // namespace

void report_unwritten(const std::string& output, int error) {
  std::fprintf(stderr, "prob writing %s: %s, aborting\n", output.c_str(), platform::error_text(error).c_str());
}

bool RunOutputs::check_targets(const useropts& o) const {
  const std::string results = o.output_path_given ? o.output_path : std::string();
  if (!results.empty() && !can_create_file(results)) return false;
  if (!o.html_path.empty() && (!can_create_file(o.html_path) || !named_once(o.html_path, results, "-out")))
    return false;
  if (!named_once(o.diag_log_path, results, "-out") || !named_once(o.diag_log_path, o.html_path, "-html"))
    return false;
  return o.carve_dump_dir.empty() || dump_dir_can_be_made(o.carve_dump_dir);
}

bool RunOutputs::check_evidence(const useropts& o, const std::vector<std::string>& later_inputs) const {
  const std::string results = o.output_path_given ? o.output_path : std::string();
  return outputs_spare_inputs({results, o.html_path, o.diag_log_path, o.carve_dump_dir}, later_inputs);
}

bool RunOutputs::create(const useropts& o, bool writes) {
  if (!writes) return true;
  if (o.output_path_given && !results_.open_file(o.output_path)) {
    report_unwritten(results_.name(), results_.error());
    return false;
  }
  if (!o.diag_log_path.empty() && !log_.open(o.diag_log_path, o.command_line_text)) {
    report_unwritten(o.diag_log_path, log_.error());
    return false;
  }
  if (!o.html_path.empty()) {
    if (!html_.open_file(o.html_path)) {
      report_unwritten(html_.name(), html_.error());
      return false;
    }
    html_created_ = true;
  }
  dump_dir_named_ = o.carve_dump_dir;
  if (o.carve_dump_dir.empty()) return true;
  errno = 0;
  if (!create_directory_levels(o.carve_dump_dir)) {
    const std::string reason = platform::error_text(errno != 0 ? errno : EIO);
    std::fprintf(stderr, "can't create directory at %s: %s, aborting\n", o.carve_dump_dir.c_str(), reason.c_str());
    return false;
  }
  // The folder as it was made: double quotes are no part of its name.
  dump_dir_ = o.carve_dump_dir;
  std::erase(dump_dir_, '"');
  return true;
}

void RunOutputs::check_writes() const {
  if (results_.failed()) throw OutputFailure{results_.name(), results_.error()};
  if (html_.failed()) throw OutputFailure{html_.name(), html_.error()};
}

// Every byte of every output arrived before any takes its place.
bool RunOutputs::finish_all() {
  for (OutputSink* sink : {&results_, &html_}) {
    if (!sink->pending().active() || sink->finish()) continue;
    report_unwritten(sink->name(), sink->error());
    return false;
  }
  if (log_.finish()) return true;
  report_unwritten(log_.pending().target(), log_.error());
  return false;
}

// The results move last: a run whose other outputs could not all take
// their places leaves the earlier results as they were.
bool RunOutputs::move_all(RecordOutlet& outlet) {
  const std::string log_name = log_.pending().target();
  if (!log_.commit()) {
    report_unwritten(log_name, log_.error());
    return false;
  }
  for (OutputSink* sink : {&html_, &results_}) {
    if (sink == &results_) outlet.commit_dumps();
    if (!sink->pending().active() || sink->commit()) continue;
    std::fprintf(stderr, "prob opening file %s for output, aborting\n", sink->name().c_str());
    return false;
  }
  return true;
}

int RunOutputs::settle(int status, RecordOutlet& outlet) {
  std::vector<const platform::PendingFile*> outputs{&results_.pending(), &html_.pending(), &log_.pending()};
  for (const platform::PendingFile& dump : outlet.pending_dumps()) outputs.push_back(&dump);
  if (!results_.pending().active()) results_.flush();
  if (!outputs_spare_reads(outputs, dump_dir_named_)) return -1;
  if (status != 0) return status;
  return finish_all() && move_all(outlet) ? status : -1;
}

}  // namespace lnk
