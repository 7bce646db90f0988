#include <map>
#include <utility>

#include "platform/platform.h"

namespace lnk::platform {
namespace {

// One run, one thread: the files read so far, each under its first name.
std::map<std::pair<uint64_t, uint64_t>, std::string>& registry() {
  static std::map<std::pair<uint64_t, uint64_t>, std::string> files;
  return files;
}

}  // namespace

void note_read(const FileIdentity& identity, const std::string& path) {
  registry().emplace(std::make_pair(identity.volume, identity.file), path);
}

void note_read_path(const std::string& path) {
  FileIdentity identity;
  if (file_identity(path, identity)) note_read(identity, path);
}

bool was_read(const std::string& path, std::string& read_as) {
  FileIdentity identity;
  if (!file_identity(path, identity)) return false;
  const auto found = registry().find(std::make_pair(identity.volume, identity.file));
  if (found == registry().end()) return false;
  read_as = found->second;
  return true;
}

}  // namespace lnk::platform
