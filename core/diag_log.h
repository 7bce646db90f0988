// The -diags log: "info:" and "err:" lines for the examiner, never on the
// console or in the results.
#pragma once

#include <string>

#include "core/options.h"

namespace lnk {

// "->" + text + newline, flushed. Nothing unless the log is open.
void diag_write(const cmd_params& options, const std::string& text);
void diag_printf(const cmd_params& options, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace lnk
