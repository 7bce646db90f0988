// Carving: chunks, the quick pass and the full search of raw sources, and
// the file scan of plain files.
#include "carve/carve_context.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <set>

#include "carve/process_file.h"
#include "carve/source_type.h"
#include "carve/status_line.h"
#include "lnk/signature_search.h"
#include "storage/disk_source.h"
#include "storage/memory_source.h"
#include "tests/lnk_builder.h"
#include "tests/pieced_source.h"
#include "tests/run_program.h"

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
