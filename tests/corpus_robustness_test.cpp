// Real shortcuts, cut short and damaged, must always decode and print to a
// normal end; whole, their notes come from names and times the decoders
// understood.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <vector>

#include "carve/process_file.h"
#include "core/options.h"
#include "lnk/parse_lnk.h"
#include "report/record_values.h"
#include "report/record_writer.h"
#include "shellitems/item_text.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

class CorpusRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path root = testing::corpus_path("lnk");
    if (!fs::is_directory(root)) GTEST_SKIP() << "corpus absent";
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file() && e.path().extension() != ".json" && e.path().extension() != ".txt")
        files_.push_back(e.path().string());
    std::sort(files_.begin(), files_.end());
    options_.idltimes = true;
  }

  // Parses and writes; returns whether the record was accepted.
  bool decode_and_write(const std::vector<uint8_t>& bytes) {
    LnkRecord record;
    if (!parse_lnk_record(record, bytes, 0)) return false;
    std::ostringstream out;
    OutputSink sink(out);
    RecordWriter(sink, options_).write(record, SourceInfo{});
    EXPECT_LE(record.parsed_size, bytes.size());
    EXPECT_GE(bytes.size(), 82u);  // header and the smallest ID list
    return true;
  }

  std::vector<std::string> files_;
  useropts options_;
};

TEST_F(CorpusRobustness, EveryTruncationOfSomeFiles) {
  // Some files across the corpus, and one that has every section.
  std::vector<std::string> chosen = {testing::corpus_path("lnk/plaso/NeroInfoTool.lnk")};
  for (size_t i = 0; i < files_.size(); i += files_.size() / 8 + 1) chosen.push_back(files_[i]);
  for (const auto& f : chosen) {
    auto bytes = testing::read_bytes(f);
    for (size_t len = 0; len <= bytes.size(); ++len)
      decode_and_write({bytes.begin(), bytes.begin() + static_cast<long>(len)});
  }
}

TEST_F(CorpusRobustness, RandomlyDamagedCopies) {
  std::mt19937 rng(20261206);
  for (size_t i = 0; i < files_.size(); i += 3) {
    auto bytes = testing::read_bytes(files_[i]);
    if (bytes.size() < 80) continue;
    for (int round = 0; round < 8; ++round) {
      auto damaged = bytes;
      // Leave the signature alone so the damage reaches the sections behind it.
      for (uint32_t k = 0, flips = 1 + rng() % 16; k < flips; ++k)
        damaged[20 + rng() % (damaged.size() - 20)] = static_cast<uint8_t>(rng());
      decode_and_write(damaged);
    }
  }
}

// Over every corpus shortcut and jump list no note holds a control
// character or U+FFFD: what only misread bytes produce.
TEST_F(CorpusRobustness, NoNoteOfTheCorpusIsGarbled) {
  size_t records = 0;
  RecordOutlet outlet([&](const LnkRecord& record, const SourceInfo&) {
    ++records;
    const RecordValues values = derive_record_values(record, SourceInfo{}, options_);
    for (const RenderedIdList* list : {&values.idlist, &values.vista_idlist})
      for (const std::string& note : list->notes) EXPECT_TRUE(is_readable_text(note)) << note;
  });
  for (const char* folder : {"lnk", "jumplists"})
    for (const auto& entry : fs::recursive_directory_iterator(testing::corpus_path(folder)))
      if (entry.is_regular_file()) process_shortcut_file(entry.path().string(), SourceInfo{}, options_, outlet);
  EXPECT_GT(records, 1000u);
}

}  // namespace
}  // namespace lnk
