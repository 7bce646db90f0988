#ifndef _WIN32
#include <unistd.h>

#include "platform/platform.h"

namespace lnk::platform {

// No 32-bit file-system view to switch off outside Windows.
void disable_file_system_redirection() {}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

}  // namespace lnk::platform
#endif
