#include "cmdline/diag_log.h"

#include "platform/platform.h"

namespace lnk {

bool DiagLog::open(const std::string& path, const std::string& first_line) {
  if (path.empty() || !pending_.begin(path)) return false;
  stream_.open(platform::native_path(pending_.write_path()), std::ios::out | std::ios::trunc);
  open_ = stream_.good();
  if (!open_) pending_.discard();
  if (open_) write(first_line);
  return open_;
}

bool DiagLog::commit() {
  if (!open_) return true;
  stream_.close();
  open_ = false;
  return pending_.commit(true);
}

void DiagLog::write(const std::string& text) {
  if (!open_) return;
  stream_ << "->" << text << "\n";
  stream_.flush();
}

}  // namespace lnk
