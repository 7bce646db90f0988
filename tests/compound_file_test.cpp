#include "jumplist/compound_file.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/cfb_builder.h"

namespace lnk {
namespace {

using test::Bytes;
using test::CfbImage;
using test::kEnd;

CompoundFile parsed(const Bytes& bytes) {
  CompoundFile file;
  EXPECT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  return file;
}

Bytes stream(const CompoundFile& file, const std::string& name, const Bytes& bytes) {
  return read_stream(file, file.directory.at(name), bytes.data(), bytes.size());
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

TEST(CompoundFile, ReadsDirectoryChainsAndTheMiniStreamCutoff) {
  Bytes bytes = test::simple_jump_list({Bytes(100, 0xAA), Bytes(5000, 0xBB)});
  CompoundFile file = parsed(bytes);
  EXPECT_EQ(file.root_start, 3u);
  EXPECT_EQ(file.directory.at("root entry").name, "Root Entry");  // keys are lower case
  EXPECT_EQ(file.directory_sectors, std::vector<uint32_t>{1});
  EXPECT_EQ(file.mini_fat_sectors, std::vector<uint32_t>{2});
  const CfbDirectoryEntry &mini = file.directory.at("1"), &big = file.directory.at("2");
  EXPECT_EQ(std::make_tuple(mini.in_mini_stream, mini.chain, big.in_mini_stream, big.chain.size(), big.index),
            std::make_tuple(true, std::vector<uint32_t>{0, 1}, false, size_t{10}, 2u));
  EXPECT_EQ(stream(file, "1", bytes), Bytes(100, 0xAA));
  EXPECT_EQ(stream(file, "2", bytes), Bytes(5000, 0xBB));

  // Just below the cutoff a stream lives in the root entry's 8 sectors (64
  // mini sectors); at the cutoff in its own sectors, and the root has none.
  for (size_t size : {4095u, 4096u}) {
    bytes = test::simple_jump_list({Bytes(size, 0xCC)});
    file = parsed(bytes);
    EXPECT_EQ(file.directory.at("1").in_mini_stream, size == 4095);
    EXPECT_EQ(file.directory.at("root entry").chain.size(), size == 4095 ? 8u : 0u);
    EXPECT_EQ(stream(file, "1", bytes), Bytes(size, 0xCC));
  }
}

// One DIFAT sector, and two: the first one's last word leads to the second
// and is no FAT sector.
TEST(CompoundFile, FatSectorsBeyondTheHeaderComeFromTheDifat) {
  for (uint32_t fat_sectors : {110u, 237u}) {
    CfbImage image = test::difat_image(fat_sectors);
    const uint32_t directory = fat_sectors + test::difat_sector_count(fat_sectors);
    image.directory_entry(directory, 0, "Root Entry", 5, kEnd, 0);
    const uint32_t far = fat_sectors * 128 - 20;
    image.directory_entry(directory, 1, "far", 2, far, 4096);
    std::vector<uint32_t> chain;
    for (uint32_t i = 0; i < 8; ++i) chain.push_back(far + i);
    image.chain(chain);
    image.write_sector(far, Bytes(4096, 0xDD));

    CompoundFile file = parsed(image.bytes());
    EXPECT_EQ(file.fat.entry_count(), fat_sectors * 128);
    EXPECT_EQ(file.directory.at("far").chain, chain) << fat_sectors;
    EXPECT_EQ(stream(file, "far", image.bytes()), Bytes(4096, 0xDD));

    image.header_u32(72, 0);  // without the DIFAT sectors the far stream has no chain
    EXPECT_TRUE(parsed(image.bytes()).directory.at("far").chain.empty());
  }
}

TEST(CompoundFile, LoopingChainsAndDifatEnd) {
  CfbImage image = small_image(8);
  // A stream chain 4 -> 5 -> 4, and a directory chain that points at itself.
  image.set_fat(4, 5);
  image.set_fat(5, 4);
  image.set_fat(1, 1);
  image.directory_entry(1, 1, "loop", 2, 4, 8192);
  CompoundFile file = parsed(image.bytes());
  EXPECT_EQ(file.directory_sectors, std::vector<uint32_t>{1});
  EXPECT_EQ(file.directory.at("loop").chain, (std::vector<uint32_t>{4, 5}));
  EXPECT_EQ(stream(file, "loop", image.bytes()).size(), 2u * 512);

  CfbImage difat = small_image(8);
  difat.header_u32(44, 0xFFFFFFFF);  // far more FAT sectors than exist
  difat.header_u32(68, 3);
  difat.header_u32(72, 1);
  for (uint32_t i = 0; i < 128; ++i) difat.write_sector(3, {0x03, 0x00, 0x00, 0x00}, i * 4);
  EXPECT_TRUE(parsed(difat.bytes()).has_directory);
}

// FAT 0, directory 1, a one-sector mini stream at 2, mini FAT 3; the cutoff
// is 512 so that small images hold large streams.
CfbImage layout_image() {
  CfbImage image(12);
  image.place_fat({0}, {});
  image.header_u32(48, 1);
  image.set_fat(1, kEnd);
  image.header_u32(56, 512);
  image.header_u32(60, 3);
  image.header_u32(64, 1);
  image.set_fat(3, kEnd);
  for (uint32_t i = 0; i < 128; ++i) image.set_mini_fat(3, i, test::kFree);
  image.directory_entry(1, 0, "Root Entry", 5, 2, 512);
  image.set_fat(2, kEnd);
  // "a" is large: 700 bytes in sectors 6 then 4. "b" is small: 100 bytes
  // in mini sectors 3 then 1.
  image.chain({6, 4});
  image.directory_entry(1, 1, "a", 2, 6, 700);
  image.set_mini_fat(3, 3, 1);
  image.set_mini_fat(3, 1, kEnd);
  image.directory_entry(1, 2, "b", 2, 3, 100);
  return image;
}

std::vector<std::pair<uint64_t, uint64_t>> pairs(const std::vector<FileRun>& runs) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  for (const FileRun& r : runs) out.emplace_back(r.offset, r.length);
  return out;
}

TEST(CompoundFile, StreamsAreReadThroughTheirOwnChains) {
  CfbImage image = layout_image();
  Bytes a(700), b(100);
  for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 3 + 1);
  image.write_sector(6, Bytes(a.begin(), a.begin() + 512));
  image.write_sector(4, Bytes(a.begin() + 512, a.end()));
  image.write_sector(2, Bytes(b.begin(), b.begin() + 64), 3 * 64);
  image.write_sector(2, Bytes(b.begin() + 64, b.end()), 1 * 64);
  const Bytes& bytes = image.bytes();
  CompoundFile file;
  ASSERT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  ASSERT_EQ(file.entries.size(), 4u);  // the directory sector's four slots
  EXPECT_EQ(file.root_index, 0);
  const CfbDirectoryEntry& large = file.entries[1];
  const CfbDirectoryEntry& small = file.entries[2];
  EXPECT_EQ(pairs(stream_runs(file, large, bytes.size())),
            (std::vector<std::pair<uint64_t, uint64_t>>{{7 * 512, 512}, {5 * 512, 188}}));
  EXPECT_EQ(pairs(stream_runs(file, small, bytes.size())),
            (std::vector<std::pair<uint64_t, uint64_t>>{{3 * 512 + 3 * 64, 64}, {3 * 512 + 64, 36}}));
  EXPECT_EQ(read_stream(file, large, bytes.data(), bytes.size()), a);
  EXPECT_EQ(read_stream(file, small, bytes.data(), bytes.size()), b);

  // A chain that leaves the bytes ends the stream there.
  image.chain({4, 6});
  image.directory_entry(1, 1, "a", 2, 4, 700);
  ASSERT_TRUE(parse_compound_file(file, image.bytes().data(), image.bytes().size()));
  EXPECT_EQ(read_stream(file, file.entries[1], image.bytes().data(), 7 * 512 + 100).size(), 512u);
}

TEST(CompoundFile, SlackIsWhatNoLiveStreamUses) {
  CfbImage image = layout_image();
  Bytes bytes = image.bytes();
  bytes.resize(bytes.size() + 100, 0);  // a cut sector at the end
  CompoundFile file;
  ASSERT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  const CfbSlack slack = find_slack(file, bytes.size());
  // The end of sector 4 past "a" runs on into free sector 5; sectors 7 to 11
  // and the cut end are free. FAT, directory, mini stream and mini FAT are not slack.
  EXPECT_EQ(pairs(slack.sectors),
            (std::vector<std::pair<uint64_t, uint64_t>>{{5 * 512 + 188, 324 + 512}, {8 * 512, 5 * 512 + 100}}));
  // Mini sector 0, the end of 1 past "b" and all of 2, then 4 to 7.
  const uint64_t container = 3 * 512;
  EXPECT_EQ(pairs(slack.mini_sectors), (std::vector<std::pair<uint64_t, uint64_t>>{
                                           {container, 64}, {container + 64 + 36, 28 + 64}, {container + 256, 256}}));

  // A stream that is deleted leaves its sectors to the slack.
  bytes[image.sector_offset(1) + 128 + 66] = 0;
  ASSERT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
  EXPECT_EQ(pairs(find_slack(file, bytes.size()).sectors),
            (std::vector<std::pair<uint64_t, uint64_t>>{{5 * 512, 8 * 512 + 100}}));
}

TEST(CompoundFile, HostileMiniSectorSizesEnd) {
  for (uint16_t shift : {0, 1, 12, 31, 40}) {
    CfbImage image = layout_image();
    image.header_u16(32, shift);
    const Bytes& bytes = image.bytes();
    CompoundFile file;
    ASSERT_TRUE(parse_compound_file(file, bytes.data(), bytes.size()));
    const CfbSlack slack = find_slack(file, bytes.size());
    for (const FileRun& run : slack.mini_sectors) EXPECT_LE(run.offset + run.length, bytes.size()) << shift;
    for (const CfbDirectoryEntry& e : file.entries) read_stream(file, e, bytes.data(), bytes.size());
  }
}

}  // namespace
}  // namespace lnk
