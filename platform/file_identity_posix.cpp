#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace lnk::platform {

bool file_identity(const std::string& path, FileIdentity& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  out.volume = static_cast<uint64_t>(st.st_dev);
  out.file = static_cast<uint64_t>(st.st_ino);
  return true;
}

WriteTarget write_target(const std::string& path, std::string& resolved) {
  resolved = path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return WriteTarget::absent;
  if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return WriteTarget::stream;
  if (!S_ISREG(st.st_mode)) return WriteTarget::refused;
  // The results go where a link leads, and the new file must lie on that
  // file's own file system for the move.
  char* real = ::realpath(path.c_str(), nullptr);
  if (real != nullptr) resolved = real;
  std::free(real);
  return WriteTarget::file;
}

bool create_file_beside(const std::string& target, std::string& temp) {
  const size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "." + name + ".rook-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return ::close(fd) == 0;
    if (errno != EEXIST) break;
  }
  temp.clear();
  return false;
}

bool replace_file(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool move_to_new_file(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#endif
  // A file system without the flag: a new link cannot land on a name
  // that is taken either.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace lnk::platform
#endif
