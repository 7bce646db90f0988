// Disk image tests: shell tools (sfdisk, qemu-img, ...), scratch
// directories, corpus images and whole-source reads.
#pragma once

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "storage/byte_source.h"
#include "tests/run_program.h"

namespace lnk::test {

// Runs a /bin/sh command line; stderr is dropped.
inline CommandResult shell(const std::string& command) {
  CommandResult r;
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
  const int raw = ::pclose(pipe);
#ifdef _WIN32
  // The shell's exit status itself: no wait status to unpack.
  r.status = raw;
#else
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
#endif
  return r;
}

// A scratch directory removed with everything in it when the test ends,
// however it ends. Parameterised test names hold a "/", so the directory
// made may sit one level below the one to remove.
struct ScratchDir {
  std::filesystem::path path;
  explicit ScratchDir(const std::string& tag) : path(make_scratch_dir(tag)) {}
  ~ScratchDir() {
    const auto temp = std::filesystem::temp_directory_path();
    const auto relative = path.lexically_relative(temp);
    if (!relative.empty() && relative.begin()->string().rfind("rook_", 0) == 0)
      std::filesystem::remove_all(temp / *relative.begin());
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
};

inline bool have_tools(const std::vector<std::string>& tools) {
  for (const std::string& t : tools) {
    if (shell("command -v " + t).status != 0) return false;
  }
  return true;
}

inline std::string q(const std::filesystem::path& p) { return shell_quoted(p.string()); }

inline std::filesystem::path corpus_images() {
  return std::filesystem::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "images";
}

inline std::vector<uint8_t> read_whole(ByteSource& source) {
  std::vector<uint8_t> bytes(source.size());
  uint64_t got = 0;
  if (!read_available(source, 0, bytes, got)) bytes.clear();
  bytes.resize(got);
  return bytes;
}

}  // namespace lnk::test
