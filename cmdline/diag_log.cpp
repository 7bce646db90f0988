#include "cmdline/diag_log.h"

#include <cerrno>

#include "carve/record_outlet.h"
#include "platform/platform.h"

namespace lnk {

bool DiagLog::open(const std::string& path, const std::string& first_line) {
  if (path.empty()) return false;
  errno = 0;
  if (pending_.begin(path)) stream_.open(platform::native_path(pending_.write_path()), std::ios::out | std::ios::trunc);
  open_ = pending_.active() && stream_.good();
  if (!open_) {
    error_ = errno != 0 ? errno : EIO;
    pending_.discard();
    return false;
  }
  try {
    write(first_line);
  } catch (const OutputFailure&) {
    pending_.discard();
    return false;
  }
  return true;
}

bool DiagLog::finish() {
  if (!open_) return true;
  errno = 0;
  stream_.close();
  open_ = false;
  if (!stream_.fail()) return true;
  error_ = errno != 0 ? errno : EIO;
  pending_.discard();
  return false;
}

bool DiagLog::commit() {
  if (!finish()) return false;
  if (!pending_.active()) return true;
  errno = 0;
  if (pending_.commit(true)) return true;
  error_ = errno != 0 ? errno : EIO;
  return false;
}

void DiagLog::write(const std::string& text) {
  if (!open_) return;
  errno = 0;
  stream_ << "->" << text << "\n";
  stream_.flush();
  if (stream_.good()) return;
  error_ = errno != 0 ? errno : EIO;
  open_ = false;
  throw OutputFailure{pending_.target(), error_};
}

}  // namespace lnk
