#include "carve/process_file.h"
#include "lnk/signature_search.h"

#include <set>

#include "carve/source_type.h"
#include "carve/status_line.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::Bytes;
namespace fs = std::filesystem;
using Offsets = std::set<uint64_t>;

class ProcessFile : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    options_.carve_dump_dir = (dir_ / "dumps").string();
    fs::create_directories(dir_ / "dumps");
  }

  std::string write(const Bytes& bytes) { return test::write_file(dir_ / "input.bin", bytes); }

  // size bytes of zeros with the sample record at each offset.
  std::string file_with_records(size_t size, std::initializer_list<size_t> offsets) {
    Bytes bytes(size, 0);
    for (size_t at : offsets) std::copy(sample_.begin(), sample_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return write(bytes);
  }

  bool run_file(const std::string& path) {
    RecordOutlet outlet(nullptr, options_.carve_dump_dir);
    outlet.set_progress(progress_);
    const bool found = process_shortcut_file(path, SourceInfo{}, options_, outlet);
    records_put_ += outlet.records_put();
    outlet.commit_dumps();
    return found;
  }

  // Offsets of the records parsed, read back from the dump file names; the
  // dumps are cleared for the next run.
  Offsets parsed_offsets() {
    Offsets offsets;
    for (const auto& entry : fs::directory_iterator(dir_ / "dumps")) {
      std::string name = entry.path().filename().string();  // carvelnk_NNNN_0xOFFSET_0xSIZE.bin
      size_t start = name.find("_0x") + 3;
      offsets.insert(std::stoull(name.substr(start, name.find("_0x", start) - start), nullptr, 16));
      fs::remove(entry.path());
    }
    return offsets;
  }

  useropts options_;
  bool progress_ = false;
  uint32_t records_put_ = 0;
  Bytes sample_ = test::sample_shortcut();
};

// A tiny file is opened, so its (empty) scan still clears the status line;
// a file that cannot be opened leaves no trace at all. One byte more than a
// header is searched, and shows its progress.
TEST_F(ProcessFile, OnlyFilesLongerThanAHeaderAreSearched) {
  progress_ = true;
  const std::string cleared = std::string(45, ' ') + "\r";
  const struct { std::string path; std::string err; } cases[] = {
      {write(Bytes(sample_.begin(), sample_.begin() + 76)), cleared},
      {test::write_file(dir_ / "empty.bin", Bytes{}), cleared},
      {(dir_ / "absent.lnk").string(), ""},
      {test::write_file(dir_ / "77.bin", Bytes(sample_.begin(), sample_.begin() + 77)),
       "percent done: 0" + std::string(30, ' ') + "\r" + cleared},
  };
  for (const auto& c : cases) {
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(run_file(c.path)) << c.path;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.err) << c.path;
  }
  EXPECT_EQ(records_put_, 0u);
}

// Plain files: only the first 32 KiB without -deepscan, every 512th byte
// without it and every byte with it, except the last 76 of each chunk.
TEST_F(ProcessFile, WhereRecordsAreFound) {
  const struct { size_t size, offset; bool deepscan, found; } cases[] = {
      {sample_.size(), 0, false, true}, {40960, 1024, false, true}, {40960, 33280, false, false},
      {40960, 33280, true, true},       {4096, 300, false, false},   {4096, 300, true, true},
      {40960, 32692, true, false},      {40960, 32691, true, true},
  };
  for (const auto& c : cases) {
    options_.deepscan = c.deepscan;
    options_.scan_step = c.deepscan ? 1 : 512;
    EXPECT_EQ(run_file(file_with_records(c.size, {c.offset})), c.found) << c.offset;
    EXPECT_EQ(parsed_offsets(), c.found ? Offsets{c.offset} : Offsets{}) << c.offset;
  }
}

TEST_F(ProcessFile, SeveralRecordsAndARejectedHit) {
  Bytes bytes(8192, 0);
  for (size_t at : {0, 1024, 2048}) std::copy(sample_.begin(), sample_.end(), bytes.begin() + at);
  test::set_u16(bytes, 76, 0x7000);  // IDListSize past the buffer: rejected
  EXPECT_TRUE(run_file(write(bytes)));
  EXPECT_EQ(parsed_offsets(), (Offsets{1024, 2048}));
}

TEST_F(ProcessFile, CompoundFileNotTakenAsJumpListFallsBackToTheHit) {
  for (uint32_t fat_sectors : {1u, 0x100000u}) {  // estimates of 64 KiB and 64 GiB
    Bytes bytes = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    bytes.resize(4096, 0);
    test::set_u16(bytes, 30, 9);
    test::set_u32(bytes, 44, fat_sectors);
    std::copy(sample_.begin(), sample_.end(), bytes.begin() + 512);
    EXPECT_TRUE(run_file(write(bytes))) << fat_sectors;
    EXPECT_EQ(parsed_offsets(), Offsets{512});
  }
}

// Past eight digits the offset is not cut; a file found on a volume names
// itself where others say "Shortcut LNK".
TEST(SourceType, LongOffsetsAndFoundFiles) {
  EXPECT_EQ(shortcut_source_type(0x123456789aULL, ""), "Shortcut LNK (carved - 0x123456789a)");
  EXPECT_EQ(shortcut_source_type(0x400, "[root]\\x.lnk"), "[root]\\x.lnk (carved - 0x00000400)");
}

TEST(StatusLine, CutsDropsNewlinesAndPads) {
  auto shown = [](auto&&... args) {
    ::testing::internal::CaptureStderr();
    status_line(args...);
    return ::testing::internal::GetCapturedStderr();
  };
  EXPECT_EQ(shown(10, "ab\ncd%d", 5), "abcd5     \r");
  EXPECT_EQ(shown(4, "percent done: %d", 7), "perc\r");
  EXPECT_EQ(shown(0, "%s", "x"), "\r");
  EXPECT_EQ(shown(300, "%s", "y"), "y" + std::string(255, ' ') + "\r");
  std::string long_text(400, 'z');
  EXPECT_EQ(shown(256, "%s", long_text.c_str()), std::string(255, 'z') + " \r");
}

}  // namespace
}  // namespace lnk
