// Evidence is never written: the results file, the HTML report and the
// -diags log must not be any of the run's inputs.
#pragma once

#include <string>
#include <vector>

#include "platform/pending_file.h"

namespace lnk {

// Before anything is written: false, with a message on standard error,
// when an output target (empty ones are passed over) names a file the run
// has opened for reading so far, or one of later_inputs, the files it will
// open as it goes (whatever path spells them). Files that do not exist yet
// cannot be inputs.
bool outputs_spare_inputs(const std::vector<std::string>& targets, const std::vector<std::string>& later_inputs);

// At the end of a run, before anything written takes its place: false,
// with the same message, when an output's target (or the -outdir name) is
// a file the run read, whichever part of it opened the file (a container's
// extent, parent or segment).
bool outputs_spare_reads(const std::vector<const platform::PendingFile*>& outputs, const std::string& dump_dir);

}  // namespace lnk
