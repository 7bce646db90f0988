// The single place where a decoded record becomes output.
#pragma once

#include <ostream>

#include "cmdline/useropts.h"
#include "lnk/lnk_record.h"

namespace lnk {

// Writes one record in the layout chosen in options; always true.
bool write_record(std::ostream& out, LnkRecord& record, useropts& options);

}  // namespace lnk
