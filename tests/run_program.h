// Scratch directories, file helpers, the environment and a runner for the
// built program.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>

#include "platform/platform.h"
#include "platform/win32.h"
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
// setenv and unsetenv as on POSIX: Windows' C run-time has only _putenv,
// which sets the process environment the program reads.
inline int setenv(const char* name, const char* value, int) {
  return _putenv((std::string(name) + "=" + value).c_str());
}
inline int unsetenv(const char* name) { return _putenv((std::string(name) + "=").c_str()); }
#endif

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

// Windows' text mode turns each "\n" the program writes into "\r\n";
// undone here so that tests compare the same bytes on every system.
inline std::string without_text_mode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
  return out;
}

// A file the program wrote in text mode (results, diagnostic log).
inline std::string slurp_text(const std::filesystem::path& path) {
#ifdef _WIN32
  return without_text_mode(slurp(path));
#else
  return slurp(path);
#endif
}

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline const std::string kSampleLnk = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";

// Standard error without the notice a run gives when not administrator.
inline std::string without_admin_notice(std::string err) {
  const std::string notice = "... running w/o admin privileges ...\n";
  if (err.rfind(notice, 0) == 0) err.erase(0, notice.size());
  return err;
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

#ifdef _WIN32
// Quoted so that the C run-time's command-line parser hands the argument
// back unchanged.
inline std::wstring windows_quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// Runs program with args, stdin from input, in dir; output captured. The
// status is the low byte of the exit code, as POSIX reports it.
inline CommandResult run_program(const std::filesystem::path& dir, const std::string& program,
                                 const std::vector<std::string>& args, const std::string& input = "",
                                 DWORD time_limit_ms = 60000) {
  write_file(dir / "stdin", input);
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  const auto open = [&](const char* name, bool write) {
    return CreateFileW((dir / name).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, write ? CREATE_ALWAYS : OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = open("stdin", false);
  startup.hStdOutput = open("stdout", true);
  startup.hStdError = open("stderr", true);
  std::wstring command = windows_quoted(platform::utf8_to_wide(program));
  for (const std::string& a : args) command += L" " + windows_quoted(platform::utf8_to_wide(a));
  CommandResult r;
  PROCESS_INFORMATION process = {};
  // Under load Wine now and then fails to start a process at all
  // (ERROR_INTERNAL_ERROR, a few starts in 10,000). The program never ran,
  // so it is started again; any other refusal ends the run at once.
  bool started = false;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 5; ++attempt) {
    if (attempt > 0) Sleep(100);
    started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    start_error = started ? 0 : GetLastError();
    if (start_error != ERROR_INTERNAL_ERROR) break;
  }
  if (started) {
    if (WaitForSingleObject(process.hProcess, time_limit_ms) == WAIT_TIMEOUT) {
      TerminateProcess(process.hProcess, 124);
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) r.status = static_cast<int>(code & 0xFF);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(h);
  r.out = without_text_mode(slurp(dir / "stdout"));
  r.err = without_text_mode(slurp(dir / "stderr"));
  if (!started) r.err = "could not start " + program + ": Windows error " + std::to_string(start_error) + "\n";
  return r;
}
#else
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
#endif

// A test with its own directory and the built program at hand. The time
// limit keeps a run that blocks on an input from hanging the suite.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = make_scratch_dir("t"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  CommandResult run(std::vector<std::string> args, const std::string& input = "") {
#ifdef _WIN32
    return run_program(dir_, ROOK_BINARY, args, input);
#else
    args.insert(args.begin(), {"60", ROOK_BINARY});
    return run_program(dir_, "timeout", args, input);
#endif
  }
  std::filesystem::path dir_;
};

}  // namespace lnk::test
