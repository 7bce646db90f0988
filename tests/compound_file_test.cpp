#include "jumplist/compound_file.h"

#include <gtest/gtest.h>

#include "tests/cfb_builder.h"

namespace lnk {
namespace {

using test::Bytes;
using test::CfbImage;
using test::kEnd;

Bytes filled(size_t size, uint8_t value) { return Bytes(size, value); }

bool parse(CompoundFile& file, const Bytes& bytes) { return parse_compound_file(file, bytes.data(), bytes.size()); }

// FAT at 0, directory at 1 with a root entry whose mini stream is sector 2.
CfbImage small_image(uint32_t sectors) {
  CfbImage image(sectors);
  image.place_fat({0}, {});
  image.header_u32(48, 1);
  image.set_fat(1, kEnd);
  image.directory_entry(1, 0, "Root Entry", 5, 2, 64);
  image.set_fat(2, kEnd);
  return image;
}

TEST(CompoundFile, RefusesShortForeignAndOutOfRangeHeaders) {
  CompoundFile file;
  Bytes sound = small_image(4).bytes();
  EXPECT_TRUE(parse(file, sound));

  Bytes short_one(sound.begin(), sound.begin() + 511);
  EXPECT_FALSE(parse(file, short_one));
  Bytes clsid = sound;
  clsid[20] = 1;
  EXPECT_FALSE(parse(file, clsid));
  Bytes signature = sound;
  signature[7] = 0;
  EXPECT_FALSE(parse(file, signature));
  // The directory's first sector must lie inside the bytes.
  Bytes far = sound;
  test::set_u32(far, 48, 4);
  EXPECT_FALSE(parse(file, far));
  test::set_u32(far, 48, 3);
  EXPECT_TRUE(parse(file, far));
  for (uint16_t shift : {30, 31, 32, 255}) {
    Bytes huge = sound;
    test::set_u16(huge, 30, shift);
    EXPECT_FALSE(parse(file, huge)) << shift;
  }
  EXPECT_FALSE(parse_compound_file(file, nullptr, 4096));
}

TEST(CompoundFile, ReadsDirectoryChainsAndMiniStream) {
  Bytes small_stream = filled(100, 0xAA);
  Bytes large_stream = filled(5000, 0xBB);
  Bytes bytes = test::simple_jump_list({small_stream, large_stream});
  CompoundFile file;
  ASSERT_TRUE(parse(file, bytes));
  EXPECT_EQ(file.sector_size, 512u);
  EXPECT_EQ(file.mini_sector_size, 64u);
  EXPECT_EQ(file.root_start, 3u);
  EXPECT_TRUE(file.has_directory);
  ASSERT_TRUE(file.directory.count("root entry"));
  EXPECT_EQ(file.directory.at("root entry").name, "Root Entry");
  EXPECT_EQ(file.directory_sectors, std::vector<uint32_t>{1});
  EXPECT_EQ(file.mini_fat_sectors, std::vector<uint32_t>{2});

  const CfbDirectoryEntry& small = file.directory.at("1");
  EXPECT_TRUE(small.in_mini_stream);
  EXPECT_EQ(small.chain, (std::vector<uint32_t>{0, 1}));
  const CfbDirectoryEntry& large = file.directory.at("2");
  EXPECT_FALSE(large.in_mini_stream);
  EXPECT_EQ(large.chain.size(), 10u);
  EXPECT_EQ(large.index, 2u);
  ASSERT_EQ(file.mini_stream_chains.size(), 1u);
  EXPECT_EQ(file.mini_stream_chains.begin()->first, "MiniStream: 0001");

  std::vector<uint8_t> allocated, slack;
  ASSERT_TRUE(stream_sectors_and_slack(file, allocated, slack, bytes.data(), bytes.size()));
  // The large stream's ten sectors, then the root entry's one (map order).
  ASSERT_EQ(allocated.size(), 11u * 512);
  EXPECT_EQ(allocated[0], 0xBB);
  EXPECT_EQ(allocated[10 * 512], 0xAA);
  EXPECT_TRUE(slack.empty());
}

TEST(CompoundFile, StreamJustBelowTheCutoffLivesOnlyInTheMiniStream) {
  for (size_t size : {4095u, 4096u}) {
    Bytes bytes = test::simple_jump_list({filled(size, 0xCC)});
    CompoundFile file;
    ASSERT_TRUE(parse(file, bytes));
    std::vector<uint8_t> allocated, slack;
    ASSERT_TRUE(stream_sectors_and_slack(file, allocated, slack, bytes.data(), bytes.size()));
    // Below the cutoff the bytes are the root entry's 8 sectors (64 mini
    // sectors); at the cutoff the stream's own 8 and an empty root's none.
    EXPECT_EQ(allocated.size(), 8u * 512) << size;
    EXPECT_EQ(file.directory.at("root entry").chain.size(), size == 4095 ? 8u : 0u);
    EXPECT_EQ(file.directory.at("1").in_mini_stream, size == 4095);
  }
}

TEST(CompoundFile, FatSectorsBeyondTheHeaderComeFromTheDifat) {
  // 110 FAT sectors: the last one, reached only through the DIFAT sector,
  // holds the chain of a stream near the end of a 7 MiB file.
  const uint32_t sectors = 110 * 128;
  CfbImage image(sectors);
  std::vector<uint32_t> fat;
  for (uint32_t i = 0; i < 110; ++i) fat.push_back(i);
  image.place_fat(fat, {110});
  image.header_u32(48, 111);
  image.set_fat(111, kEnd);
  image.directory_entry(111, 0, "Root Entry", 5, kEnd, 0);
  const uint32_t far = sectors - 20;
  image.directory_entry(111, 1, "far", 2, far, 4096);
  std::vector<uint32_t> chain;
  for (uint32_t i = 0; i < 8; ++i) chain.push_back(far + i);
  image.chain(chain);
  image.write_sector(far, filled(4096, 0xDD));

  CompoundFile file;
  ASSERT_TRUE(parse(file, image.bytes()));
  EXPECT_EQ(file.fat.entry_count(), 110u * 128);
  EXPECT_EQ(file.directory.at("far").chain, chain);
  std::vector<uint8_t> allocated, slack;
  ASSERT_TRUE(stream_sectors_and_slack(file, allocated, slack, image.bytes().data(), image.bytes().size()));
  EXPECT_EQ(allocated, filled(4096, 0xDD));

  // Without the DIFAT sector the far stream has no chain.
  image.header_u32(72, 0);
  ASSERT_TRUE(parse(file, image.bytes()));
  EXPECT_TRUE(file.directory.at("far").chain.empty());
}

TEST(CompoundFile, LoopingChainsEnd) {
  CfbImage image = small_image(8);
  // A stream chain 4 -> 5 -> 4, and a directory chain that points at itself.
  image.set_fat(4, 5);
  image.set_fat(5, 4);
  image.set_fat(1, 1);
  image.directory_entry(1, 1, "loop", 2, 4, 8192);
  CompoundFile file;
  ASSERT_TRUE(parse(file, image.bytes()));
  EXPECT_EQ(file.directory_sectors, std::vector<uint32_t>{1});
  EXPECT_EQ(file.directory.at("loop").chain, (std::vector<uint32_t>{4, 5}));
  std::vector<uint8_t> allocated, slack;
  ASSERT_TRUE(stream_sectors_and_slack(file, allocated, slack, image.bytes().data(), image.bytes().size()));
  EXPECT_EQ(allocated.size(), 3u * 512);  // root's sector 2, then 4 and 5 once each
}

TEST(CompoundFile, LoopingDifatEnds) {
  CfbImage image = small_image(8);
  image.header_u32(44, 0xFFFFFFFF);  // far more FAT sectors than exist
  image.header_u32(68, 3);
  image.header_u32(72, 1);
  for (uint32_t i = 0; i < 128; ++i) image.write_sector(3, {0x03, 0x00, 0x00, 0x00}, i * 4);
  CompoundFile file;
  ASSERT_TRUE(parse(file, image.bytes()));
  EXPECT_TRUE(file.has_directory);
}

TEST(CompoundFile, SharedChainIsTakenOnceAndGapsAreSlack) {
  CfbImage image = small_image(12);
  // "a" takes 4-5, "b" starts at 9 and runs into 4; 6-8 lie between.
  image.chain({4, 5});
  image.set_fat(9, 4);
  image.directory_entry(1, 1, "a", 2, 4, 4096);
  image.directory_entry(1, 2, "b", 2, 9, 4096);
  image.write_sector(7, filled(512, 0x77));
  CompoundFile file;
  ASSERT_TRUE(parse(file, image.bytes()));
  std::vector<uint8_t> allocated, slack;
  ASSERT_TRUE(stream_sectors_and_slack(file, allocated, slack, image.bytes().data(), image.bytes().size()));
  // Taken: 2 (root), 4, 5, 9. Slack: sector 3, then 6 to 8.
  EXPECT_EQ(allocated.size(), 4u * 512);
  ASSERT_EQ(slack.size(), 4u * 512);
  EXPECT_EQ(slack[2 * 512], 0x77);
  // FAT (0) and directory (1) lie before the first taken sector: not slack.
}

TEST(CompoundFile, SectorsPastTheEndAreSkipped) {
  CfbImage image = small_image(6);
  image.set_fat(5, 40);
  image.set_fat(40, kEnd);
  image.directory_entry(1, 1, "cut", 2, 5, 4096);
  CompoundFile file;
  ASSERT_TRUE(parse(file, image.bytes()));
  EXPECT_EQ(file.directory.at("cut").chain, (std::vector<uint32_t>{5, 40}));
  std::vector<uint8_t> allocated, slack;
  ASSERT_TRUE(stream_sectors_and_slack(file, allocated, slack, image.bytes().data(), image.bytes().size()));
  EXPECT_EQ(allocated.size(), 2u * 512);  // sectors 2 and 5
  // The gap 6..39 reaches past the end of the bytes, so it is not slack;
  // the gap 3..4 is.
  EXPECT_EQ(slack.size(), 2u * 512);
}

TEST(CompoundFile, NoDirectoryMeansNoStreams) {
  CfbImage image(4);
  image.place_fat({0}, {});
  image.header_u32(48, 1);
  image.set_fat(3, kEnd);  // the directory sector has no FAT entry of its own
  image.header_u32(48, 2);
  image.set_fat(2, 0xFFFFFFFF);
  CompoundFile file;
  Bytes bytes = image.bytes();
  ASSERT_TRUE(parse(file, bytes));
  std::vector<uint8_t> allocated, slack;
  // Sector 2 is listed (free) but its entries are all empty: no stream takes a sector.
  EXPECT_FALSE(stream_sectors_and_slack(file, allocated, slack, bytes.data(), bytes.size()));
}

}  // namespace
}  // namespace lnk
