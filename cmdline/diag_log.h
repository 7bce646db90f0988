// The -diags log: "info:" and "err:" lines for the examiner, never on the
// console or in the results.
#pragma once

#include <fstream>
#include <string>

namespace lnk {

class DiagLog {
 public:
  // Creates (truncating) the log and writes first_line into it. Only once
  // the inputs are known not to include it; a log that cannot be created
  // is dropped without a word.
  bool open(const std::string& path, const std::string& first_line);
  bool is_open() const { return open_; }
  // "->" + text + newline, flushed. Nothing unless the log is open.
  void write(const std::string& text);

 private:
  std::ofstream stream_;
  bool open_ = false;
};

}  // namespace lnk
