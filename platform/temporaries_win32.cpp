#ifdef _WIN32
#include "platform/win32.h"

#include <csignal>

#include "platform/temporaries.h"

namespace lnk::platform {
namespace {

// Runs on a thread of its own; returning FALSE lets the default handler
// end the process.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      remove_tracked_temporaries();
      break;
    default:
      break;
  }
  return FALSE;
}

// SIGTERM only comes from raise() on Windows, but it ends the run as well.
void on_termination(int signal_number) {
  remove_tracked_temporaries();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void install_temporary_cleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  SetConsoleCtrlHandler(on_console_event, TRUE);
  std::signal(SIGTERM, on_termination);
}

void remove_temporary_now(const wchar_t* native_path) { DeleteFileW(native_path); }

}  // namespace lnk::platform
#endif
