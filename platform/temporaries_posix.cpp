#ifndef _WIN32
#include <signal.h>
#include <unistd.h>

#include "platform/temporaries.h"

namespace lnk::platform {
namespace {

// Removes what is pending, then ends the process by the same signal with
// its default action, so that the parent sees how the run ended.
void on_termination(int signal_number) {
  remove_tracked_temporaries();
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void install_temporary_cleanup() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int signal_number : {SIGTERM, SIGINT}) {
    struct sigaction before {};
    // A signal the run was started to ignore (nohup, a background job)
    // stays ignored.
    if (::sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_termination;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

void remove_temporary_now(const char* native_path) { ::unlink(native_path); }

}  // namespace lnk::platform
#endif
