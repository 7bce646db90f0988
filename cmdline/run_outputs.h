// Every file a run writes has one owner here: the results file (or
// standard output), the HTML page, the -diags log and the -outdir record
// dumps, under one policy. Every target is checked, against the others and
// against the evidence, before any is created; a run that ends well moves
// them all into place, a run that does not leaves every target as it was
// (a run ended by a signal included); every failure is in the exit status.
#pragma once

#include <string>
#include <vector>

#include "carve/record_outlet.h"
#include "cmdline/diag_log.h"
#include "core/options.h"
#include "report/output_sink.h"

namespace lnk {

// "prob writing X: reason, aborting" for an output that cannot be written.
void report_unwritten(const std::string& output, int error);

class RunOutputs {
 public:
  // Before anything is created, checks that make a run end with no input
  // touched, each false with the reason on standard error: every target
  // can be made and names no other output; then, once the mode has opened
  // its inputs, no target is a file the run has opened or will open
  // (later_inputs: the files it opens only as it goes).
  bool check_targets(const useropts& options) const;
  bool check_evidence(const useropts& options, const std::vector<std::string>& later_inputs) const;
  // Creates every output; nothing when the run writes no results (the
  // usage). False, with the reason, when one cannot be created.
  bool create(const useropts& options, bool writes);

  OutputSink& results() { return results_; }
  OutputSink& html() { return html_; }
  bool html_created() const { return html_created_; }
  DiagLog& log() { return log_; }
  // The folder the record dumps go to; empty for none.
  const std::string& dump_dir() const { return dump_dir_; }
  // Ends the run (OutputFailure) once a write of the results or the page
  // failed.
  void check_writes() const;
  // Whether the results go to a file that takes its place at the end.
  bool results_in_file() { return results_.pending().active(); }

  // At the end of the run: with status 0 every output takes its place, or
  // none does when one of them cannot; otherwise none does. Returns the
  // run's status, -1 when an output failed.
  int settle(int status, RecordOutlet& outlet);

 private:
  bool finish_all();
  bool move_all(RecordOutlet& outlet);

  OutputSink results_;
  OutputSink html_;
  bool html_created_ = false;
  DiagLog log_;
  std::string dump_dir_;
  std::string dump_dir_named_;
};

}  // namespace lnk
