// How a source path is shown: -alias and -aliaspath substitute the examiner's
// own names for paths as they were seen on the evidence.
#pragma once

#include <string>

#include "cmdline/useropts.h"

namespace lnk {

std::string map_source_alias(const useropts& options, const std::string& path);

}  // namespace lnk
