// Disk image tests: shell tools (sfdisk, qemu-img, mmls, ...), corpus images
// unpacked into a scratch directory, and whole-source reads.
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

struct ShellResult {
  int status = -1;
  std::string out;
};

// Runs a /bin/sh command line; stderr is dropped.
inline ShellResult shell(const std::string& command) {
  ShellResult r;
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

// A corpus disk image as a raw file in dir. A sparse tar is unpacked whole
// (it stays sparse); a gzip image only for its first head_bytes, then
// extended to its full size with a hole, since only its first sectors matter
// to a partition table. Empty when the corpus file is absent.
inline std::filesystem::path unpack_corpus_image(const std::string& relative, const std::filesystem::path& dir,
                                                 uint64_t head_bytes = 1u << 20) {
  namespace fs = std::filesystem;
  const fs::path source = corpus_images() / relative;
  if (!fs::exists(source)) return {};
  const std::string name = source.filename().string();
  auto ends = [&](const std::string& suffix) {
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  };
  if (ends(".raw")) return source;
  if (ends(".tar.gz") || ends(".tgz")) {
    const std::string listed = shell("tar -tf " + q(source)).out;
    const std::string member = listed.substr(0, listed.find('\n'));
    if (shell("tar -xf " + q(source) + " -C " + q(dir)).status != 0) return {};
    return dir / member;
  }
  const fs::path out = dir / name.substr(0, name.size() - 3);
  // gzip keeps the size modulo 4 GiB in its last four bytes; these disks are smaller.
  const std::string size = shell("tail -c 4 " + q(source) + " | od -An -tu4 | tr -d ' '").out;
  const std::string command = "zcat " + q(source) + " | head -c " + std::to_string(head_bytes) + " > " + q(out) +
                              " && truncate -s " + size.substr(0, size.find('\n')) + " " + q(out);
  if (shell(command).status != 0) return {};
  return out;
}

inline std::vector<uint8_t> read_whole(ByteSource& source) {
  std::vector<uint8_t> bytes(source.size());
  uint64_t got = 0;
  if (!read_available(source, 0, bytes, got)) bytes.clear();
  bytes.resize(got);
  return bytes;
}

}  // namespace lnk::test
