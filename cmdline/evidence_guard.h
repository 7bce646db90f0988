// Evidence is never written: the results file, the HTML report and the
// -diags log must not be any of the run's inputs.
#pragma once

#include <string>
#include <vector>

#include "core/options.h"
#include "platform/pending_file.h"

namespace lnk {

// False, with a message on standard error, when the results file, the HTML
// report or the diagnostic log names the same file as one of the inputs
// (whatever path spells it). Files that do not exist yet cannot be inputs.
bool outputs_spare_inputs(const cmd_params& options, const std::vector<std::string>& inputs);

// At the end of a run, before anything written takes its place: false,
// with the same message, when an output's target (or the -outdir name) is
// a file the run read, whichever part of it opened the file (a container's
// extent, parent or segment).
bool outputs_spare_reads(const std::vector<const platform::PendingFile*>& outputs, const std::string& dump_dir);

}  // namespace lnk
