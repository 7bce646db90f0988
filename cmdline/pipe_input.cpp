#include "cmdline/pipe_input.h"

#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "cmdline/options.h"
#include "platform/text.h"

namespace lnk {

namespace {

std::vector<std::string> split_pieces(const std::string& value, char separator) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= value.size()) {
    size_t at = value.find(separator, start);
    if (at == std::string::npos) at = value.size();
    std::string piece = trim_blanks(value.substr(start, at - start));
    if (!piece.empty()) pieces.push_back(piece);
    start = at + 1;
  }
  return pieces;
}

// Takes the stars out of pattern one by one, noting those at either end.
void strip_stars(std::string& pattern, bool& leading, bool& trailing) {
  for (size_t at = pattern.find('*'); at != std::string::npos; at = pattern.find('*')) {
    if (at == 0) leading = true;
    if (at + 1 == pattern.size()) trailing = true;
    pattern.erase(at, 1);
  }
}

filter_entry match_all_entry() {
  filter_entry entry;
  entry.pattern = entry.name_pattern = "*";
  entry.match_all = true;
  return entry;
}

bool entry_matches(const filter_entry& e, const std::string& name) {
  if (e.match_all) return true;
  const std::string& p = e.name_pattern;
  if (e.leading_wildcard && e.trailing_wildcard) return name.find(p) != std::string::npos;
  if (e.leading_wildcard) {
    size_t at = name.find(p);
    return at != std::string::npos && at + p.size() == name.size();
  }
  if (e.trailing_wildcard) return name.compare(0, p.size(), p) == 0 && name.size() >= p.size();
  return name == p;
}

}  // namespace

LineReader::LineReader(std::FILE* stream) : stream_(stream), ready_(stream != nullptr) {
#ifdef _WIN32
  // Line ends must arrive as typed; the cleaning below handles every mix.
  if (ready_) _setmode(_fileno(stream_), _O_BINARY);
#endif
}

bool LineReader::read_line(std::string& line) {
  if (!ready_) return false;
  if (std::fgets(buffer_, static_cast<int>(kLineBufferSize), stream_) == nullptr) return false;
  line.assign(buffer_, std::strlen(buffer_));
  return true;
}

bool LineReader::read_piece(std::string& piece) {
  // Each pass either hands out a piece or reads a new line; read_line fails
  // at the end of input.
  for (;;) {
    if (line_pos_ < line_.size()) {
      size_t end = line_.find_first_of("\r\n", line_pos_);
      if (end == std::string::npos) end = line_.size();
      piece = line_.substr(line_pos_, end - line_pos_);
      line_pos_ = end + 1;
      return true;
    }
    if (!read_line(line_)) return false;
    line_pos_ = 0;
  }
}

bool next_pipe_name(LineReader& reader, const cmd_params& options, std::string& name) {
  std::string line;
  while (reader.read_piece(line)) {
    if (line.empty()) continue;
    if (!filter_accepts(line, options.filters)) continue;
    name = expand_path(line, true);
    return true;
  }
  return false;
}

bool build_filter_list(std::vector<filter_entry>& filters, const std::string& value) {
  const std::string lower = to_lower_ascii(value);
  std::vector<std::string> pieces;
  if (lower.find(',') != std::string::npos)
    pieces = split_pieces(lower, ',');
  else if (lower.find('|') != std::string::npos)
    pieces = split_pieces(lower, '|');
  if (pieces.empty()) pieces.push_back(lower);

  filters.clear();
  for (const std::string& piece : pieces) {
    if (piece == "*") {
      filters.assign(1, match_all_entry());
      break;
    }
    filter_entry entry;
    entry.pattern = entry.name_pattern = piece;
    size_t colon = piece.find(':');
    if (colon != std::string::npos) {
      entry.has_colon_part = true;
      entry.colon_part = piece.substr(colon + 1);
      entry.name_pattern = piece.substr(0, colon);
      if (entry.colon_part == "*")
        entry.colon_part_is_star = true;
      else
        strip_stars(entry.colon_part, entry.colon_leading_wildcard, entry.colon_trailing_wildcard);
      if (entry.name_pattern == "*") {
        entry.match_all = true;
        filters.push_back(entry);
        continue;
      }
    }
    strip_stars(entry.name_pattern, entry.leading_wildcard, entry.trailing_wildcard);
    filters.push_back(entry);
  }
  return !filters.empty();
}

bool filter_accepts(const std::string& path, const std::vector<filter_entry>& filters) {
  if (path.empty()) return false;
  if (filters.empty() || (filters.size() == 1 && filters[0].match_all)) return true;
  std::string directory, file_name;
  if (!split_path(path, directory, file_name)) return false;
  file_name = to_lower_ascii(file_name);
  for (const filter_entry& entry : filters)
    if (entry_matches(entry, file_name)) return true;
  return false;
}

bool split_path(const std::string& path, std::string& directory, std::string& file_name) {
  if (path.empty()) return false;
  char separator = '\\';
  size_t at = path.find_last_of('\\');
  if (at == std::string::npos) {
    separator = '/';
    at = path.find_last_of('/');
  }
  if (at != std::string::npos && at > 0) {
    directory = path.substr(0, at);
    file_name = path.substr(at + 1);
    if (file_name == "..") {
      file_name = ".";
      directory += separator == '\\' ? "\\.." : "//..";
    }
    return true;
  }
  if (path == "..") {
    file_name = ".";
    directory = "..";
  } else {
    file_name = path;
    directory = ".";
  }
  return true;
}

}  // namespace lnk
