// Real shortcuts, cut short and damaged, must always decode and print to a
// normal end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <vector>

#include "cmdline/useropts.h"
#include "lnk/parse_lnk.h"
#include "report/record_writer.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "lnk";

std::vector<fs::path> corpus_files() {
  std::vector<fs::path> files;
  if (!fs::is_directory(kCorpus)) return files;
  for (const auto& e : fs::recursive_directory_iterator(kCorpus)) {
    if (e.is_regular_file() && e.path().extension() != ".json" && e.path().extension() != ".txt")
      files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Parses and writes; returns whether the record was accepted.
bool decode_and_write(std::vector<uint8_t> bytes, useropts& options) {
  LnkRecord record;
  bool accepted =
      parse_lnk_record(record, bytes.data(), static_cast<uint32_t>(bytes.size()), options, 0);
  if (accepted) {
    std::ostringstream out;
    write_record(out, record, options);
    EXPECT_LE(record.parsed_size, bytes.size());
  }
  return accepted;
}

useropts quiet_options() {
  useropts options;
  options.multiline = true;
  options.progress = false;
  options.idltimes = true;
  return options;
}

TEST(CorpusRobustness, EveryFileDecodes) {
  auto files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  useropts options = quiet_options();
  size_t accepted = 0;
  for (const auto& f : files) accepted += decode_and_write(read_all(f), options);
  // The corpus is almost all valid shortcuts; a broken header check would drop most.
  EXPECT_GT(accepted, files.size() * 9 / 10);
}

TEST(CorpusRobustness, EveryTruncationOfSomeFiles) {
  auto files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  useropts options = quiet_options();
  for (size_t i = 0; i < files.size(); i += files.size() / 8 + 1) {
    auto bytes = read_all(files[i]);
    for (size_t len = 0; len <= bytes.size(); ++len)
      decode_and_write(std::vector<uint8_t>(bytes.begin(), bytes.begin() + len), options);
  }
}

TEST(CorpusRobustness, RandomlyDamagedCopies) {
  auto files = corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpus absent";
  useropts options = quiet_options();
  std::mt19937 rng(20261206);
  for (size_t i = 0; i < files.size(); i += 3) {
    auto bytes = read_all(files[i]);
    if (bytes.size() < 80) continue;
    for (int round = 0; round < 8; ++round) {
      auto damaged = bytes;
      int flips = 1 + static_cast<int>(rng() % 16);
      for (int k = 0; k < flips; ++k) {
        // Leave the signature alone so the damage reaches the sections behind it.
        size_t at = 20 + rng() % (damaged.size() - 20);
        damaged[at] = static_cast<uint8_t>(rng());
      }
      decode_and_write(std::move(damaged), options);
    }
  }
}

}  // namespace
}  // namespace lnk
