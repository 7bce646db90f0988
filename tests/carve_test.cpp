#include "carve/carve_context.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

#include "storage/disk_source.h"
#include "storage/memory_source.h"
#include "tests/lnk_builder.h"
#include "tests/pieced_source.h"

namespace lnk {
namespace {

using test::Bytes;

std::string carved_type(uint64_t offset) {
  char text[64];
  std::snprintf(text, sizeof text, "Shortcut LNK (carved - 0x%08llx)", static_cast<unsigned long long>(offset));
  return text;
}

Bytes random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

void place(Bytes& blob, size_t at, const Bytes& record) {
  std::copy(record.begin(), record.end(), blob.begin() + static_cast<std::ptrdiff_t>(at));
}

class Carve : public ::testing::Test {
 protected:
  // Holds bytes as the source to carve.
  void open(const Bytes& bytes) {
    bytes_ = bytes;
    source_ = std::make_unique<MemorySource>(bytes_);
  }

  // offset -> (source type, parsed size) of every record carved from bytes.
  std::map<uint64_t, std::pair<std::string, uint32_t>> carve(const Bytes& bytes) {
    open(bytes);
    std::map<uint64_t, std::pair<std::string, uint32_t>> found;
    RecordOutlet outlet([&](const LnkRecord& record, const SourceInfo&) {
      found[record.lnk_offset] = {record.source_type, record.parsed_size};
    });
    carve_source(*source_, SourceInfo{}, outlet);
    return found;
  }

  Bytes bytes_;
  std::unique_ptr<MemorySource> source_;
  Bytes sample_ = test::sample_shortcut();
};

TEST_F(Carve, QuickPassFindsAlignedAndNearlyAlignedRecordsOnly) {
  Bytes blob = random_bytes(4 * 65536, 1);
  place(blob, 1024, sample_);                // aligned: quick hit, no full search
  place(blob, 65536 + 100, sample_);         // 100 into a sector, chunk without quick hits
  place(blob, 2 * 65536 + 40, sample_);      // 40 into a sector: full search of its chunk
  place(blob, 2 * 65536 + 5000, sample_);    // found by that full search
  auto found = carve(blob);
  std::vector<uint64_t> offsets;
  for (const auto& [offset, record] : found) offsets.push_back(offset);
  EXPECT_EQ(offsets, (std::vector<uint64_t>{1024, 2 * 65536 + 40, 2 * 65536 + 5000}));
  EXPECT_EQ(found[1024], std::make_pair(std::string("Shortcut LNK (carved - 0x00000400)"),
                                        static_cast<uint32_t>(sample_.size())));

  // An MFT record signature at a sector start also sets off the full search.
  Bytes mft = random_bytes(65536, 2);
  place(mft, 300, sample_);
  EXPECT_TRUE(carve(mft).empty());
  place(mft, 4096, {'F', 'I', 'L', 'E'});
  EXPECT_EQ(carve(mft).count(300), 1u);
}

TEST_F(Carve, LastHitNearTheChunkEndIsReReadFromItsSector) {
  ASSERT_GT(sample_.size(), 512u);
  Bytes blob = random_bytes(3 * 65536, 3);
  const size_t near_end = 65536 - 200;  // 200 bytes left in the first chunk
  place(blob, 40, sample_);             // sets off the full search of the chunk
  place(blob, near_end, sample_);
  place(blob, 2 * 65536 - 512, sample_);  // aligned, running into the third chunk
  auto found = carve(blob);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[near_end], std::make_pair(carved_type(near_end), static_cast<uint32_t>(sample_.size())));
  EXPECT_EQ(found[2 * 65536 - 512].second, sample_.size());
}

TEST_F(Carve, RecordIsCutAtTheNextHitOfItsChunk) {
  Bytes blob = random_bytes(65536, 7);
  place(blob, 0, sample_);
  place(blob, 300, {sample_.begin(), sample_.begin() + 20});
  place(blob, 1024 + 40, sample_);
  place(blob, 1024 + 40 + sample_.size(), sample_);  // ends the one before at its last byte
  auto found = carve(blob);
  // Parsed from 300 bytes only: too short for the sample's IDList, so rejected.
  EXPECT_EQ(found.count(0), 0u);
  EXPECT_EQ(found[1024 + 40].second, sample_.size());
  EXPECT_EQ(found[1024 + 40 + sample_.size()].second, sample_.size());
}

TEST_F(Carve, RangeLabelAndUnopenedSource) {
  CarveContext context;
  DiskSource unopened;
  EXPECT_FALSE(bind_carve_context(context, &unopened));
  EXPECT_FALSE(bind_carve_context(context, nullptr));
  RecordOutlet none(nullptr);
  EXPECT_FALSE(carve_range(context, SourceInfo{}, none));

  Bytes blob = random_bytes(4 * 65536, 4);
  for (size_t chunk = 0; chunk < 4; ++chunk) place(blob, chunk * 65536 + 512, sample_);
  open(blob);
  ASSERT_TRUE(bind_carve_context(context, source_.get()));
  EXPECT_EQ(context.range_end, 4 * 65536);
  context.position = 65536;
  context.range_end = 3 * 65536;
  context.label = "Unalloc";
  std::vector<std::string> types;
  RecordOutlet collect([&](const LnkRecord& r, const SourceInfo&) { types.push_back(r.source_type); });
  EXPECT_TRUE(carve_range(context, SourceInfo{}, collect));
  EXPECT_EQ(types, (std::vector<std::string>{"[Unalloc] " + carved_type(65536 + 512),
                                             "[Unalloc] " + carved_type(2 * 65536 + 512)}));
}

TEST_F(Carve, ProgressLines) {
  open(random_bytes(6 * 65536, 5));
  CarveContext context;
  auto progress = [&](bool percent) {
    EXPECT_TRUE(bind_carve_context(context, source_.get()));
    context.percent_display = percent;
    ::testing::internal::CaptureStderr();
    RecordOutlet none(nullptr);
    none.set_progress(true);
    carve_range(context, SourceInfo{}, none);
    return ::testing::internal::GetCapturedStderr();
  };
  std::string err = progress(true);
  EXPECT_EQ(err.substr(0, 46), "percent done: 0 [offset 0x0]" + std::string(17, ' ') + "\r");
  EXPECT_NE(err.find("percent done: 83 [offset 0x50000]"), std::string::npos);
  EXPECT_EQ(err.substr(err.size() - 46), std::string(45, ' ') + "\r");

  err = progress(false);  // offsets only, every fifth chunk
  EXPECT_EQ(err.find("percent"), std::string::npos);
  EXPECT_NE(err.find("offset 0x50000"), std::string::npos);
  EXPECT_EQ(err.find("offset 0x10000"), std::string::npos);
}

// A container that claims a petabyte and holds 64 KiB at its start and
// 96 KiB at 1 TiB: nothing else is read, and the progress counts 160 KiB.
// Where nothing is stored up to the claimed end, the carve says where the
// data stops and reads only to there, so a record just before it is whole.
TEST_F(Carve, StretchesWithoutDataAreNotRead) {
  constexpr uint64_t kFar = uint64_t{1} << 40;
  const uint64_t near_record = 512, far_records[] = {kFar + 65536 + 1024, kFar + 96 * 1024 - 2048};
  for (const Holding between : {Holding::zeros, Holding::not_stored}) {
    test::PiecedSource pieced(uint64_t{1} << 50, between);
    Bytes head = random_bytes(65536, 1), tail = random_bytes(96 * 1024, 2);
    place(head, near_record, sample_);
    for (uint64_t at : far_records) place(tail, at - kFar, sample_);
    pieced.put(0, head);
    pieced.put(kFar, tail);
    std::vector<uint64_t> offsets;
    RecordOutlet outlet([&](const LnkRecord& record, const SourceInfo&) { offsets.push_back(record.lnk_offset); });
    CarveContext context;
    ASSERT_TRUE(bind_carve_context(context, &pieced));
    outlet.set_progress(true);
    ::testing::internal::CaptureStderr();
    carve_range(context, SourceInfo{}, outlet);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(offsets, (std::vector<uint64_t>{near_record, far_records[0], far_records[1]}));
    EXPECT_EQ(context.bytes_to_read, 160u * 1024);
    EXPECT_NE(err.find("percent done: 40 [offset 0x10000000000]"), std::string::npos) << err;
    if (between == Holding::zeros) {
      // The far piece's second chunk is read whole, zeros after the piece.
      EXPECT_EQ(pieced.read_outside(), 32u * 1024);
      EXPECT_EQ(err.find("data"), std::string::npos) << err;
    } else {
      EXPECT_EQ(pieced.read_outside(), 0u);
      EXPECT_NE(err.find("no data stored from offset 0x10000 to 0x10000000000; passed over\n"), std::string::npos);
      EXPECT_NE(err.find("data ends at offset 0x10000018000: the container claims 0x4000000000000 bytes but stores "
                         "none past it; carving stops there\n"),
                std::string::npos)
          << err;
    }
  }
}

TEST_F(Carve, NothingButSignatures) {
  Bytes blob;
  while (blob.size() < 2 * 65536 + 77) blob.insert(blob.end(), sample_.begin(), sample_.begin() + 20);
  // Only a chunk's last hit, re-read whole, has 76 bytes to parse.
  EXPECT_LE(carve(blob).size(), 3u);
  Bytes headers;
  while (headers.size() < 65536) headers.insert(headers.end(), sample_.begin(), sample_.begin() + 76);
  carve(headers);  // every hit is cut by the next one; it only has to end
}

}  // namespace
}  // namespace lnk
