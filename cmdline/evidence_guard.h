// Evidence is never written: the results file, the HTML report and the
// -diags log must not be any of the run's inputs.
#pragma once

#include <string>
#include <vector>

#include "core/options.h"

namespace lnk {

// False, with a message on standard error, when the results file, the HTML
// report or the diagnostic log names the same file as one of the inputs
// (whatever path spells it). Files that do not exist yet cannot be inputs.
bool outputs_spare_inputs(const cmd_params& options, const std::vector<std::string>& inputs);

}  // namespace lnk
