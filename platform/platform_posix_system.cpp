#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace lnk::platform {

// No 32-bit file-system view to switch off outside Windows.
void disable_file_system_redirection() {}

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

// /dev/null opened for reading: every write to the stream fails with EBADF,
// as it would on the closed descriptor.
void guard_standard_streams() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int stand_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (stand_in != -1 && stand_in != fd) {
      ::dup2(stand_in, fd);
      ::close(stand_in);
    }
  }
}

void keep_freed_memory() {
#if defined(__GLIBC__)
  // Blocks up to 32 MiB come from the heap, and up to 256 MiB freed at its
  // top stays there; peak memory is unchanged.
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

std::string error_text(int error) { return std::strerror(error); }

std::string open_failure_text(int error) {
  return error != 0 ? error_text(error) : "neither a file nor a block device";
}

}  // namespace lnk::platform
#endif
