// File names read from standard input (-pipe) and the -filter patterns.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/options.h"

namespace lnk {

// Lines of at most kLineBufferSize - 1 bytes; a longer line arrives in pieces.
class LineReader {
 public:
  static constexpr unsigned kLineBufferSize = 4096;
  // Switches the stream to untranslated mode where the platform has one.
  explicit LineReader(std::FILE* stream);
  // The raw line, line end included; false at end of input or on error.
  bool read_line(std::string& line);
  // The next piece of text between line ends; a CR alone, LF alone or any
  // mix of them ends a piece, so empty pieces come back too.
  bool read_piece(std::string& piece);

 private:
  std::FILE* stream_;
  bool ready_;
  char buffer_[kLineBufferSize];
  std::string line_;
  size_t line_pos_ = 0;
};

// The next accepted name: line ends stripped, blank lines and names the
// filter refuses skipped, %NAME% expanded. False at the end of input.
bool next_pipe_name(LineReader& reader, const cmd_params& options, std::string& name);

bool build_filter_list(std::vector<filter_entry>& filters, const std::string& value);
bool filter_accepts(const std::string& path, const std::vector<filter_entry>& filters);

// Directory and file name of a path, "\" preferred over "/".
bool split_path(const std::string& path, std::string& directory, std::string& file_name);

}  // namespace lnk
