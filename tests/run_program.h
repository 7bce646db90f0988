// Scratch directories, file helpers and a runner for the built program.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lnk::test {

// A fresh directory per test process: ctest runs tests in parallel processes,
// so names must not depend on addresses that repeat between them.
inline std::filesystem::path make_scratch_dir(const std::string& tag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "rook_" + tag + "_" + std::to_string(::getpid());
  if (info != nullptr) name += std::string("_") + info->test_suite_name() + "_" + info->name();
  auto dir = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes a byte container (string or vector) and returns the path as text.
template <class Bytes>
std::string write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline std::string shell_quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct CommandResult {
  int status = -100;
  std::string out;
  std::string err;
};

// Runs program with args, stdin from input, in dir; output captured.
inline CommandResult run_program(const std::filesystem::path& dir, const std::string& program,
                                 const std::vector<std::string>& args, const std::string& input = "") {
  write_file(dir / "stdin", input);
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

// A test with its own directory and the built program at hand. The time
// limit keeps a run that blocks on an input from hanging the suite.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_scratch_dir("t"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  CommandResult run(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), {"60", ROOK_BINARY});
    return run_program(dir_, "timeout", args, input);
  }
  std::filesystem::path dir_;
};

}  // namespace lnk::test
