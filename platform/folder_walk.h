// The files under a folder named on the command line, as `find DIR -type f`
// lists them: links are neither followed nor listed, so a link back up the
// tree (a Windows junction such as "Application Data") cannot loop.
#pragma once

#include <string>
#include <vector>

namespace lnk::platform {

struct FolderEntry {
  std::string name;
  bool folder = false;  // else a regular file
};

// One folder's regular files and folders, without "." and "..", links,
// devices and pipes; the folder's access time is kept. False, with an errno
// value in error, when it cannot be listed.
bool list_folder(const std::string& path, std::vector<FolderEntry>& entries, int& error);

struct FolderWalk {
  std::vector<std::string> files;
  // Folders that could not be listed, each with the system's reason.
  std::vector<std::pair<std::string, std::string>> unlisted;
};

// Every regular file under root, each folder's entries in byte order.
FolderWalk walk_folder(const std::string& root);

}  // namespace lnk::platform
