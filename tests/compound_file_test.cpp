#include "jumplist/compound_file.h"

#include <gtest/gtest.h>

#include "tests/cfb_builder.h"

namespace lnk {
namespace {

using test::Bytes;
using test::CfbImage;
using test::kEnd;

struct Sectors {
  Bytes allocated, slack;
  bool found = false;
};

// Parses bytes (which must succeed) and gathers stream sectors and slack.
Sectors sectors_of(CompoundFile& file, const Bytes& bytes) {
  Sectors out;
  EXPECT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  out.found = stream_sectors_and_slack(file, out.allocated, out.slack, bytes.data(), bytes.size());
  return out;
}

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
  const Bytes sound = small_image(4).bytes();
  EXPECT_TRUE(parse_compound_file(file, sound.data(), sound.size()));
  EXPECT_FALSE(parse_compound_file(file, sound.data(), 511));
  EXPECT_FALSE(parse_compound_file(file, nullptr, 4096));

  auto refused = [&](size_t at, uint32_t value, bool wide) {
    Bytes changed = sound;
    wide ? test::set_u32(changed, at, value) : test::set_u16(changed, at, static_cast<uint16_t>(value));
    return !parse_compound_file(file, changed.data(), changed.size());
  };
  EXPECT_TRUE(refused(20, 1, false));  // CLSID not zero
  EXPECT_TRUE(refused(6, 0, false));   // signature
  EXPECT_TRUE(refused(48, 4, true));   // directory past the end
  EXPECT_FALSE(refused(48, 3, true));  // the last sector is fine
  for (uint16_t shift : {30, 31, 32, 255}) EXPECT_TRUE(refused(30, shift, false)) << shift;
}

TEST(CompoundFile, ReadsDirectoryChainsAndMiniStream) {
  CompoundFile file;
  Sectors s = sectors_of(file, test::simple_jump_list({Bytes(100, 0xAA), Bytes(5000, 0xBB)}));
  EXPECT_EQ(file.root_start, 3u);
  EXPECT_EQ(file.directory.at("root entry").name, "Root Entry");  // keys are lower case
  EXPECT_EQ(file.directory_sectors, std::vector<uint32_t>{1});
  EXPECT_EQ(file.mini_fat_sectors, std::vector<uint32_t>{2});
  EXPECT_TRUE(file.directory.at("1").in_mini_stream);
  EXPECT_EQ(file.directory.at("1").chain, (std::vector<uint32_t>{0, 1}));
  EXPECT_FALSE(file.directory.at("2").in_mini_stream);
  EXPECT_EQ(file.directory.at("2").chain.size(), 10u);
  EXPECT_EQ(file.directory.at("2").index, 2u);
  ASSERT_EQ(file.mini_stream_chains.size(), 1u);
  EXPECT_EQ(file.mini_stream_chains.begin()->first, "MiniStream: 0001");

  // The large stream's ten sectors, then the root entry's one (map order).
  ASSERT_EQ(s.allocated.size(), 11u * 512);
  EXPECT_EQ(s.allocated[0], 0xBB);
  EXPECT_EQ(s.allocated[10 * 512], 0xAA);
  EXPECT_TRUE(s.slack.empty());
}

TEST(CompoundFile, StreamJustBelowTheCutoffLivesOnlyInTheMiniStream) {
  for (size_t size : {4095u, 4096u}) {
    CompoundFile file;
    Sectors s = sectors_of(file, test::simple_jump_list({Bytes(size, 0xCC)}));
    // Below the cutoff the bytes are the root entry's 8 sectors (64 mini
    // sectors); at the cutoff the stream's own 8 and an empty root's none.
    EXPECT_EQ(s.allocated.size(), 8u * 512) << size;
    EXPECT_EQ(file.directory.at("root entry").chain.size(), size == 4095 ? 8u : 0u);
    EXPECT_EQ(file.directory.at("1").in_mini_stream, size == 4095);
  }
}

TEST(CompoundFile, FatSectorsBeyondTheHeaderComeFromTheDifat) {
  CfbImage image = test::difat_image();
  image.directory_entry(111, 0, "Root Entry", 5, kEnd, 0);
  const uint32_t far = test::kDifatImageSectors - 20;
  image.directory_entry(111, 1, "far", 2, far, 4096);
  std::vector<uint32_t> chain;
  for (uint32_t i = 0; i < 8; ++i) chain.push_back(far + i);
  image.chain(chain);
  image.write_sector(far, Bytes(4096, 0xDD));

  CompoundFile file;
  Sectors s = sectors_of(file, image.bytes());
  EXPECT_EQ(file.fat.entry_count(), 110u * 128);
  EXPECT_EQ(file.directory.at("far").chain, chain);
  EXPECT_EQ(s.allocated, Bytes(4096, 0xDD));

  image.header_u32(72, 0);  // without the DIFAT sector the far stream has no chain
  sectors_of(file, image.bytes());
  EXPECT_TRUE(file.directory.at("far").chain.empty());
}

TEST(CompoundFile, LoopingChainsAndDifatEnd) {
  CfbImage image = small_image(8);
  // A stream chain 4 -> 5 -> 4, and a directory chain that points at itself.
  image.set_fat(4, 5);
  image.set_fat(5, 4);
  image.set_fat(1, 1);
  image.directory_entry(1, 1, "loop", 2, 4, 8192);
  CompoundFile file;
  Sectors s = sectors_of(file, image.bytes());
  EXPECT_EQ(file.directory_sectors, std::vector<uint32_t>{1});
  EXPECT_EQ(file.directory.at("loop").chain, (std::vector<uint32_t>{4, 5}));
  EXPECT_EQ(s.allocated.size(), 3u * 512);  // root's sector 2, then 4 and 5 once each

  CfbImage difat = small_image(8);
  difat.header_u32(44, 0xFFFFFFFF);  // far more FAT sectors than exist
  difat.header_u32(68, 3);
  difat.header_u32(72, 1);
  for (uint32_t i = 0; i < 128; ++i) difat.write_sector(3, {0x03, 0x00, 0x00, 0x00}, i * 4);
  sectors_of(file, difat.bytes());
  EXPECT_TRUE(file.has_directory);
}

TEST(CompoundFile, SharedChainIsTakenOnceAndGapsAreSlack) {
  CfbImage image = small_image(12);
  // "a" takes 4-5, "b" starts at 9 and runs into 4; 6-8 lie between.
  image.chain({4, 5});
  image.set_fat(9, 4);
  image.directory_entry(1, 1, "a", 2, 4, 4096);
  image.directory_entry(1, 2, "b", 2, 9, 4096);
  image.write_sector(3, Bytes(512, 0x33));
  image.write_sector(7, Bytes(512, 0x77));
  image.header_u32(60, 7);  // sector 7 is the mini FAT, and still slack
  image.set_fat(7, kEnd);
  CompoundFile file;
  Sectors s = sectors_of(file, image.bytes());
  // Taken: 2 (root), 4, 5, 9. Slack: sector 3, then 6 to 8; FAT (0) and
  // directory (1) lie before the first taken sector.
  EXPECT_EQ(s.allocated.size(), 4u * 512);
  ASSERT_EQ(s.slack.size(), 4u * 512);
  EXPECT_EQ(s.slack[0], 0x33);
  EXPECT_EQ(s.slack[2 * 512], 0x77);
  EXPECT_EQ(file.mini_fat_sectors, std::vector<uint32_t>{7});
}

TEST(CompoundFile, SectorsPastTheEndAreSkipped) {
  CfbImage image = small_image(6);
  image.set_fat(5, 40);
  image.set_fat(40, kEnd);
  image.directory_entry(1, 1, "cut", 2, 5, 4096);
  CompoundFile file;
  Sectors s = sectors_of(file, image.bytes());
  EXPECT_EQ(file.directory.at("cut").chain, (std::vector<uint32_t>{5, 40}));
  EXPECT_EQ(s.allocated.size(), 2u * 512);  // sectors 2 and 5
  // The gap 6..39 reaches past the end of the bytes, so it is not slack;
  // the gap 3..4 is.
  EXPECT_EQ(s.slack.size(), 2u * 512);
}

TEST(CompoundFile, NoStreamSectorsMeansNothingFound) {
  CfbImage image(4);
  image.place_fat({0}, {});
  image.header_u32(48, 2);
  image.set_fat(2, test::kFree);  // listed, but its entries are all empty
  CompoundFile file;
  EXPECT_FALSE(sectors_of(file, image.bytes()).found);
}

}  // namespace
}  // namespace lnk
