// Files rook writes never take the place of a file it read. Each is written
// under a new name beside its target and moved there only when the run
// ends well; until then the target, whatever it is, stays as it was. A run
// ended by a signal removes the new files it has not moved.
#pragma once

#include <cstddef>
#include <string>

namespace lnk::platform {

class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&& other) noexcept;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  // An uncommitted file is removed.
  ~PendingFile() { discard(); }

  // Creates the new file beside target (beside the file a symbolic link
  // leads to). A character device or pipe (a terminal, /dev/null) is written
  // in place, as nothing can be moved over it. False, with nothing created,
  // when the folder takes no new file or target is a folder or block device.
  bool begin(const std::string& target);
  bool active() const { return !target_.empty(); }
  // The name to open for writing.
  const std::string& write_path() const { return in_place_ ? target_ : temp_; }
  // The target as the user named it.
  const std::string& target() const { return named_; }

  // True, with the name it was read under, when the target is a file the
  // run has opened for reading.
  bool target_was_read(std::string& read_as) const;
  // Moves the new file to the target: over an existing file with replace,
  // else only where no file is (a file already there is kept and the new
  // one removed). False when the move failed.
  bool commit(bool replace);
  void discard();

 private:
  void forget();

  std::string named_;
  std::string target_;
  std::string temp_;
  bool in_place_ = false;
  size_t ticket_ = 0;  // the new file's entry in the signal handling
};

}  // namespace lnk::platform
