#include "carve/process_file.h"

#include <gtest/gtest.h>

#include "tests/scratch_dir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "carve/source_type.h"
#include "carve/status_line.h"
#include "tests/lnk_builder.h"

namespace lnk {
namespace {

using test::Bytes;
namespace fs = std::filesystem;

class ProcessFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::make_scratch_dir("process");
    fs::create_directories(dir_ / "dumps");
    options_.progress = false;
    options_.carve_dump_dir = (dir_ / "dumps").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string write(const Bytes& bytes) {
    std::string path = (dir_ / "input.bin").string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  // size bytes of zeros with the sample record at each offset.
  std::string file_with_records(size_t size, std::initializer_list<size_t> offsets) {
    Bytes bytes(size, 0);
    for (size_t at : offsets) {
      std::copy(sample_.begin(), sample_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return write(bytes);
  }

  bool run(const std::string& path) {
    std::ostringstream out;
    return process_shortcut_file(out, path, options_);
  }

  void use_deepscan() {
    options_.deepscan = true;
    options_.scan_step = 1;
  }

  // Offsets of the records parsed, read back from the dump file names.
  std::set<uint64_t> parsed_offsets() {
    std::set<uint64_t> offsets;
    for (const auto& entry : fs::directory_iterator(dir_ / "dumps")) {
      std::string name = entry.path().filename().string();  // carvelnk_NNNN_0xOFFSET_0xSIZE.bin
      size_t start = name.find("_0x") + 3;
      offsets.insert(std::stoull(name.substr(start, name.find("_0x", start) - start), nullptr, 16));
    }
    return offsets;
  }

  fs::path dir_;
  useropts options_;
  Bytes sample_ = test::sample_shortcut();
};

TEST_F(ProcessFile, TinyOrMissingFilesAreNotExamined) {
  Bytes header(sample_.begin(), sample_.begin() + 76);
  EXPECT_FALSE(run(write(header)));
  EXPECT_FALSE(run((dir_ / "absent.lnk").string()));
  EXPECT_EQ(options_.carve_dump_count, 0u);
}

TEST_F(ProcessFile, ShortcutFileAtOffsetZero) {
  EXPECT_TRUE(run(write(sample_)));
  EXPECT_EQ(parsed_offsets(), std::set<uint64_t>{0});
}

TEST_F(ProcessFile, OnlyTheFirstChunkOfAPlainFileIsSearched) {
  EXPECT_TRUE(run(file_with_records(40960, {1024})));
  EXPECT_EQ(parsed_offsets(), std::set<uint64_t>{1024});
  fs::remove_all(dir_ / "dumps");
  fs::create_directories(dir_ / "dumps");

  std::string late = file_with_records(40960, {33280});
  EXPECT_FALSE(run(late));
  use_deepscan();
  EXPECT_TRUE(run(late));
  EXPECT_EQ(parsed_offsets(), std::set<uint64_t>{33280});
}

TEST_F(ProcessFile, UnalignedRecordNeedsDeepscan) {
  std::string path = file_with_records(4096, {300});
  EXPECT_FALSE(run(path));
  use_deepscan();
  EXPECT_TRUE(run(path));
  EXPECT_EQ(parsed_offsets(), std::set<uint64_t>{300});
}

TEST_F(ProcessFile, DeepscanSkipsTheLast76BytesOfEachChunk) {
  use_deepscan();
  EXPECT_FALSE(run(file_with_records(40960, {32692})));
  EXPECT_TRUE(run(file_with_records(40960, {32691})));
  EXPECT_EQ(parsed_offsets(), std::set<uint64_t>{32691});
}

TEST_F(ProcessFile, SeveralRecordsAndARejectedHit) {
  Bytes bytes(8192, 0);
  std::copy(sample_.begin(), sample_.end(), bytes.begin());
  test::set_u16(bytes, 76, 0x7000);  // IDListSize past the buffer: rejected
  std::copy(sample_.begin(), sample_.end(), bytes.begin() + 1024);
  std::copy(sample_.begin(), sample_.end(), bytes.begin() + 2048);
  EXPECT_TRUE(run(write(bytes)));
  EXPECT_EQ(parsed_offsets(), (std::set<uint64_t>{1024, 2048}));
}

TEST_F(ProcessFile, CompoundFileNotTakenAsJumpListFallsBackToTheHit) {
  for (uint32_t fat_sectors : {1u, 0x100000u}) {  // estimates of 64 KiB and 64 GiB
    Bytes bytes(4096, 0);
    const Bytes signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(signature.begin(), signature.end(), bytes.begin());
    test::set_u16(bytes, 30, 9);
    test::set_u32(bytes, 44, fat_sectors);
    std::copy(sample_.begin(), sample_.end(), bytes.begin() + 512);
    EXPECT_TRUE(run(write(bytes))) << fat_sectors;
  }
  EXPECT_EQ(parsed_offsets(), std::set<uint64_t>{512});
}

TEST_F(ProcessFile, ProgressLineIsShownAndCleared) {
  options_.progress = true;
  std::string path = file_with_records(40960, {1024});
  ::testing::internal::CaptureStderr();
  run(path);
  std::string err = ::testing::internal::GetCapturedStderr();
  const std::string first = "percent done: 0" + std::string(30, ' ') + "\r";
  const std::string cleared = std::string(45, ' ') + "\r";
  ASSERT_GE(err.size(), first.size() + cleared.size());
  EXPECT_EQ(err.substr(0, first.size()), first);
  EXPECT_EQ(err.substr(err.size() - cleared.size()), cleared);
}

TEST(SourceType, CarvedHitsAndFiles) {
  useropts options;
  EXPECT_EQ(shortcut_source_type(0x400, options), "Shortcut LNK (carved - 0x00000400)");
  EXPECT_EQ(shortcut_source_type(0x123456789aULL, options), "Shortcut LNK (carved - 0x123456789a)");
  EXPECT_EQ(shortcut_source_type(0, options), "Shortcut LNK (carved)");
  options.source_type = "Shortcut LNK (file)";
  EXPECT_EQ(shortcut_source_type(0, options), "Shortcut LNK (file)");
}

TEST(FindSignature, StepsFromTheStartAndStopsBeforeTheLastHeader) {
  Bytes buffer(2048, 0);
  Bytes header = test::sample_shortcut();
  header.resize(20);
  std::copy(header.begin(), header.end(), buffer.begin() + 1030);
  uint64_t pos = 0;
  EXPECT_FALSE(find_lnk_signature(pos, buffer.data(), buffer.size(), 512));
  pos = 6;
  EXPECT_TRUE(find_lnk_signature(pos, buffer.data(), buffer.size(), 512));
  EXPECT_EQ(pos, 1030u);
  pos = 0;
  EXPECT_TRUE(find_lnk_signature(pos, buffer.data(), buffer.size(), 1));
  EXPECT_EQ(pos, 1030u);
  // A hit must leave a whole header after it.
  pos = 0;
  EXPECT_FALSE(find_lnk_signature(pos, buffer.data(), 1030 + 76, 1));
  EXPECT_TRUE(find_lnk_signature(pos, buffer.data(), 1030 + 77, 1));
  pos = 0;
  EXPECT_FALSE(find_lnk_signature(pos, buffer.data(), 75, 1));
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
