// The -diags log: "info:" and "err:" lines for the examiner, never on the
// console or in the results.
#pragma once

#include <fstream>
#include <string>

#include "platform/pending_file.h"

namespace lnk {

class DiagLog {
 public:
  // Starts the log in a new file beside path and writes first_line into
  // it; path itself is replaced only at commit(). False, with error() the
  // system's reason, when the log cannot be created.
  bool open(const std::string& path, const std::string& first_line);
  int error() const { return error_; }
  platform::PendingFile& pending() { return pending_; }
  // Closes the log; false, with error(), when its last bytes did not arrive.
  bool finish();
  // finish(), then moves the log over path; false, with error(), when
  // either failed. Without commit the new file is removed.
  bool commit();
  bool is_open() const { return open_; }
  // "->" + text + newline, flushed. Nothing unless the log is open;
  // throws OutputFailure when the line cannot be written.
  void write(const std::string& text);

 private:
  platform::PendingFile pending_;
  std::ofstream stream_;
  bool open_ = false;
  int error_ = 0;
};

}  // namespace lnk
