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

bool DiagLog::commit() {
  if (!open_) return true;
  stream_.close();
  open_ = false;
  return pending_.commit(true);
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
