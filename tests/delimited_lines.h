// Helpers for tests that read delimited output and run the built program.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lnk::testing_support {

// Fields of one line at every occurrence of separator; no quoting rules,
// because the writers never quote.
inline std::vector<std::string> split_fields(const std::string& line, const std::string& separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    size_t at = line.find(separator, start);
    if (at == std::string::npos) {
      fields.push_back(line.substr(start));
      return fields;
    }
    fields.push_back(line.substr(start, at - start));
    start = at + separator.size();
  }
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The lines after the run header, which ends at its first empty line.
inline std::vector<std::string> lines_after_run_header(const std::string& text) {
  std::vector<std::string> lines = split_lines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].empty()) return std::vector<std::string>(lines.begin() + i + 1, lines.end());
  }
  return {};
}

inline std::string shell_quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct CommandResult {
  int status = -100;
  std::string out;
  std::string err;
};

// Runs program with args, stdin from input, in dir; output captured.
inline CommandResult run_program(const std::filesystem::path& dir, const std::string& program,
                                 const std::vector<std::string>& args, const std::string& input = "") {
  std::ofstream(dir / "stdin", std::ios::binary) << input;
  std::string command = shell_quoted(program);
  for (const std::string& a : args) command += " " + shell_quoted(a);
  command += " <" + shell_quoted((dir / "stdin").string()) + " >" +
             shell_quoted((dir / "stdout").string()) + " 2>" + shell_quoted((dir / "stderr").string());
  CommandResult r;
  const int raw = std::system(command.c_str());
  if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
  r.out = slurp(dir / "stdout");
  r.err = slurp(dir / "stderr");
  return r;
}

}  // namespace lnk::testing_support
