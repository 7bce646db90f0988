#include "cmdline/diag_log.h"

#include "platform/platform.h"

namespace lnk {

bool DiagLog::open(const std::string& path, const std::string& first_line) {
  if (path.empty()) return false;
  stream_.open(platform::native_path(path), std::ios::out | std::ios::trunc);
  open_ = stream_.good();
  if (open_) write(first_line);
  return open_;
}

void DiagLog::write(const std::string& text) {
  if (!open_) return;
  stream_ << "->" << text << "\n";
  stream_.flush();
}

}  // namespace lnk
