#ifndef _WIN32
#include "platform/platform.h"

namespace lnk::platform {

// No 32-bit file-system view to switch off outside Windows.
void disable_file_system_redirection() {}

}  // namespace lnk::platform
#endif
