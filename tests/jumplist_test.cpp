#include "jumplist/jumplist_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "jumplist/compound_file.h"
#include "tests/cfb_builder.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using test::Bytes;
using test::CfbImage;
using test::kEnd;
namespace fs = std::filesystem;

struct Found {
  std::string source_type;
  uint64_t lnk_offset;
  uint32_t parsed_size;
  bool from_slack;
};

class JumpList : public ::testing::Test {
 protected:
  std::vector<Found> carve(const Bytes& bytes, bool* result = nullptr) {
    std::vector<Found> found;
    bool r = carve_jump_list_records(bytes, placement_, [&](const LnkRecord& record, const ParsedBytes&) {
      found.push_back({record.source_type, record.lnk_offset, record.parsed_size, record.from_slack});
    });
    if (result) *result = r;
    return found;
  }
  static bool accepted(std::span<const uint8_t> bytes) {
    return carve_jump_list_records(bytes, JumpListPlacement{}, [](const LnkRecord&, const ParsedBytes&) {});
  }
  JumpListPlacement placement_;
  Bytes sample_ = test::sample_shortcut();
};

Bytes padded(Bytes bytes, size_t size) {
  bytes.resize(size, 0);
  return bytes;
}

TEST_F(JumpList, TooSmallOrNotACompoundFile) {
  Bytes bytes = padded(test::simple_jump_list({sample_}), 4096);
  ASSERT_GE(bytes.size(), 4096u);
  EXPECT_TRUE(accepted(std::span<const uint8_t>(bytes).first(4096)));
  EXPECT_FALSE(accepted(std::span<const uint8_t>(bytes).first(4095)));
  EXPECT_FALSE(accepted({}));
  Bytes plain(8192, 0);
  std::copy(sample_.begin(), sample_.end(), plain.begin() + 512);
  bool taken = true;
  EXPECT_TRUE(carve(plain, &taken).empty());
  EXPECT_FALSE(taken);
}

TEST_F(JumpList, MiniStreamAndLargeStreamRecordsAreAllocated) {
  // Stream 1 (small) sits in the mini stream, stream 2 (4,096 bytes) in its
  // own sectors, which come first in the allocated bytes.
  const Bytes bytes = test::simple_jump_list({sample_, padded(sample_, 4096)});
  std::vector<Found> found = carve(bytes);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].lnk_offset, 0u);
  EXPECT_EQ(found[1].lnk_offset, 4096u);
  for (const Found& f : found) {
    EXPECT_EQ(f.source_type, "JMPLIST (carved allocated)");
    EXPECT_EQ(f.parsed_size, sample_.size());
    EXPECT_FALSE(f.from_slack);
  }

  placement_.label = "AutomaticDestinations";
  placement_.record_offset = 0x5000;
  found = carve(bytes);
  ASSERT_EQ(found.size(), 2u);
  for (const Found& f : found) {
    EXPECT_EQ(f.source_type, "AutomaticDestinations (carved allocated)");
    EXPECT_EQ(f.lnk_offset, 0x5000u);
  }
}

TEST_F(JumpList, RecordIsCutAtTheNextHit) {
  Bytes stream = padded(sample_, 4096);
  std::copy(sample_.begin(), sample_.begin() + 20, stream.begin() + 100);  // a bare signature inside
  std::vector<Found> found = carve(test::simple_jump_list({stream}));
  for (const Found& f : found) EXPECT_LE(f.parsed_size, 100u) << f.lnk_offset;
}

TEST_F(JumpList, NothingButSignaturesEndsWithoutRecords) {
  // 409 signatures and a cut one: the allocated bytes end 32 bytes after the
  // last whole one, too short for a header.
  Bytes stream;
  while (stream.size() < 8192) stream.insert(stream.end(), sample_.begin(), sample_.begin() + 20);
  stream.resize(8192);
  bool result = true;
  EXPECT_TRUE(carve(test::simple_jump_list({stream}), &result).empty());
  EXPECT_FALSE(result);
}

TEST_F(JumpList, HostileHeadersAndChainsEnd) {
  Bytes bytes = padded(test::simple_jump_list({sample_, padded(sample_, 4096)}), 8192);
  Bytes huge_sectors = bytes;
  test::set_u16(huge_sectors, 30, 30);
  bool result = true;
  EXPECT_TRUE(carve(huge_sectors, &result).empty());
  EXPECT_FALSE(result);

  // The large stream's last sector points back at its first: each sector once.
  Bytes looping = bytes;
  const size_t fat = 512;
  const uint32_t first = 5;  // after FAT, directory, mini FAT and the root's two sectors
  test::set_u32(looping, fat + (first + 7) * 4, first);
  EXPECT_EQ(carve(looping).size(), 2u);

  // A DIFAT that names itself as its own successor, with a huge FAT count.
  Bytes difat = bytes;
  test::set_u32(difat, 44, 0xFFFFFFF0);
  test::set_u32(difat, 68, 3);
  test::set_u32(difat, 72, 1);
  test::set_u32(difat, 512 * 4 + 127 * 4, 3);
  carve(difat);
}

// A record in the mini stream, a large stream whose chain only the DIFAT's
// FAT sector holds, and a record left in a freed sector between them.
TEST_F(JumpList, FreedSectorRecordIsCarvedFromSlack) {
  CfbImage image = test::difat_image();
  image.header_u32(60, 112);
  image.header_u32(64, 1);
  image.set_fat(112, kEnd);
  image.chain({113, 114});
  for (uint32_t i = 0; i < 128; ++i) image.set_mini_fat(112, i, test::kFree);
  const uint32_t mini_count = static_cast<uint32_t>((sample_.size() + 63) / 64);
  for (uint32_t i = 0; i < mini_count; ++i) image.set_mini_fat(112, i, i + 1 < mini_count ? i + 1 : kEnd);
  image.write_sector(113, sample_);
  image.directory_entry(111, 0, "Root Entry", 5, 113, 1024);
  image.directory_entry(111, 1, "1", 2, 0, static_cast<uint32_t>(sample_.size()));

  const uint32_t far = test::kDifatImageSectors - 16;
  std::vector<uint32_t> chain;
  for (uint32_t i = 0; i < 8; ++i) chain.push_back(far + i);
  image.chain(chain);
  image.write_sector(far, padded(sample_, 4096));
  image.directory_entry(111, 2, "2", 2, far, 4096);

  const uint32_t freed = far - 10;
  image.write_sector(freed, sample_);
  image.write_sector(freed, {0x01}, 100);  // a changed byte tells it apart

  // Stream 2 comes first in directory order, then the mini stream (root
  // entry); with an offset override the slack record still reports 0.
  for (uint64_t override_offset : {0u, 0x777u}) {
    placement_.record_offset = override_offset;
    std::vector<Found> found = carve(image.bytes());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].source_type, "JMPLIST (carved allocated)");
    EXPECT_EQ(found[0].lnk_offset, override_offset ? override_offset : 0u);
    EXPECT_EQ(found[1].lnk_offset, override_offset ? override_offset : 4096u);
    EXPECT_EQ(found[2].source_type, "JMPLIST (carved slack)");
    EXPECT_EQ(found[2].lnk_offset, 0u);
    EXPECT_TRUE(found[2].from_slack);
  }
}

// Streams by name from olecfinfo: every item below the root except DestList.
int shortcut_stream_count(const std::string& path) {
  FILE* pipe = ::popen(("olecfinfo '" + path + "' 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return -1;
  int count = 0;
  bool listing = false;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    if (text.rfind("Root Entry", 0) == 0) listing = true;
    else if (listing && text.rfind("  ", 0) == 0 && text.find("DestList") == std::string::npos &&
             text.find("(0 bytes)") == std::string::npos)
      ++count;
  }
  return ::pclose(pipe) == 0 && listing ? count : -1;
}

// Streams kept in the mini stream whose mini sectors do not follow each
// other: their bytes are not contiguous in the allocated bytes, so the
// carver sees their records cut short.
int fragmented_stream_count(const CompoundFile& file) {
  auto gap = [](uint32_t a, uint32_t b) { return b != a + 1; };
  int count = 0;
  for (const auto& [name, e] : file.directory)
    count += e.in_mini_stream && std::adjacent_find(e.chain.begin(), e.chain.end(), gap) != e.chain.end();
  return count;
}

TEST_F(JumpList, CorpusAutomaticDestinations) {
  const fs::path root = testing::corpus_path("jumplists");
  if (!fs::exists(root)) GTEST_SKIP() << "corpus absent";
  if (shortcut_stream_count((root / "ez_Win10_f01b4d95cf55d32a.automaticDestinations-ms").string()) < 0)
    GTEST_SKIP() << "olecfinfo absent";
  int files = 0;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = item.path().filename().string();
    if (name.find(".automaticDestinations-ms") == std::string::npos || item.file_size() < 4096) continue;
    Bytes bytes = testing::read_bytes(item.path().string());
    const int streams = shortcut_stream_count(item.path().string());
    CompoundFile file;
    ASSERT_TRUE(parse_compound_file(file, bytes.data(), bytes.size())) << item.path();
    int allocated = 0;
    for (const Found& f : carve(bytes))
      if (f.source_type == "JMPLIST (carved allocated)") ++allocated;
    EXPECT_GE(allocated, streams - fragmented_stream_count(file)) << item.path();
    ++files;
  }
  EXPECT_GE(files, 25);
}

}  // namespace
}  // namespace lnk
