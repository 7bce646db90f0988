#ifndef _WIN32
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/folder_walk.h"

namespace lnk::platform {

bool list_folder(const std::string& path, std::vector<FolderEntry>& entries, int& error) {
  entries.clear();
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#ifdef O_NOATIME
  // Listing a folder is reading it: its access time stays as it was.
  int fd = ::open(path.c_str(), flags | O_NOATIME);
  if (fd < 0 && errno == EPERM) fd = ::open(path.c_str(), flags);
#else
  int fd = ::open(path.c_str(), flags);
#endif
  if (fd < 0) {
    error = errno;
    return false;
  }
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    error = errno;
    ::close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR || type == DT_REG) entries.push_back({name, type == DT_DIR});
    errno = 0;
  }
  error = errno;
  ::closedir(dir);
  return error == 0;
}

}  // namespace lnk::platform
#endif
