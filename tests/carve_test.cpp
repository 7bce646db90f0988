// Carving: the signature search and its kernels, the quick pass, chunks and
// the full search of raw sources, and the file scan of plain files.
#include "carve/carve_context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>

#include "carve/process_file.h"
#include "carve/quick_pass.h"
#include "carve/source_type.h"
#include "carve/status_line.h"
#include "lnk/signature_search.h"
#include "storage/disk_source.h"
#include "storage/memory_source.h"
#include "tests/lnk_builder.h"
#include "tests/ntfs_builder.h"
#include "tests/pieced_source.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::Bytes;

Bytes random_bytes(size_t size, uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(generator());
  return bytes;
}

// Writes piece (its first count bytes) over bytes at at, as far as they reach.
void put(Bytes& bytes, uint64_t at, const Bytes& piece, size_t count = SIZE_MAX) {
  count = std::min({count, piece.size(), bytes.size() - at});
  std::copy_n(piece.begin(), count, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

class Carve : public ::testing::Test {
 protected:
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

TEST_F(Carve, QuickPassChunkEndsCutsAndBareSignatures) {
  Bytes blob = random_bytes(4 * 65536, 1);
  put(blob, 1024, sample_);                // aligned: quick hit, no full search
  put(blob, 65536 + 100, sample_);         // 100 into a sector, chunk without quick hits
  put(blob, 2 * 65536 + 40, sample_);      // 40 into a sector: full search of its chunk
  put(blob, 2 * 65536 + 5000, sample_);    // found by that full search
  auto found = carve(blob);
  std::vector<uint64_t> offsets;
  for (const auto& [offset, record] : found) offsets.push_back(offset);
  EXPECT_EQ(offsets, (std::vector<uint64_t>{1024, 2 * 65536 + 40, 2 * 65536 + 5000}));
  EXPECT_EQ(found[1024], std::make_pair(std::string("Shortcut LNK (carved - 0x00000400)"),
                                        static_cast<uint32_t>(sample_.size())));

  // An MFT record signature at a sector start also sets off the full search.
  Bytes mft = random_bytes(65536, 2);
  put(mft, 300, sample_);
  EXPECT_TRUE(carve(mft).empty());
  put(mft, 4096, {'F', 'I', 'L', 'E'});
  EXPECT_EQ(carve(mft).count(300), 1u);

  // The last hit near a chunk's end is re-read from its sector.
  ASSERT_GT(sample_.size(), 512u);
  blob = random_bytes(3 * 65536, 3);
  const size_t near_end = 65536 - 200;  // 200 bytes left in the first chunk
  put(blob, 40, sample_);             // sets off the full search of the chunk
  put(blob, near_end, sample_);
  put(blob, 2 * 65536 - 512, sample_);  // aligned, running into the third chunk
  found = carve(blob);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[near_end], std::make_pair(shortcut_source_type(near_end, ""), static_cast<uint32_t>(sample_.size())));
  EXPECT_EQ(found[2 * 65536 - 512].second, sample_.size());

  // A record is cut at the next hit.
  blob = random_bytes(65536, 7);
  put(blob, 0, sample_);
  put(blob, 300, {sample_.begin(), sample_.begin() + 20});
  put(blob, 1024 + 40, sample_);
  put(blob, 1024 + 40 + sample_.size(), sample_);  // ends the one before at its last byte
  found = carve(blob);
  // The one at 0, parsed from 300 bytes only, is too short for the sample's IDList.
  EXPECT_EQ(std::make_tuple(found.count(0), found[1024 + 40].second, found[1024 + 40 + sample_.size()].second),
            std::make_tuple(size_t{0}, sample_.size(), sample_.size()));

  // Nothing but signatures: only a chunk's last hit, re-read whole, has 76
  // bytes to parse; nothing but headers: each is cut by the next and the
  // carve only has to end.
  blob.clear();
  while (blob.size() < 2 * 65536 + 77) blob.insert(blob.end(), sample_.begin(), sample_.begin() + 20);
  EXPECT_LE(carve(blob).size(), 3u);
  blob.clear();
  while (blob.size() < 65536) blob.insert(blob.end(), sample_.begin(), sample_.begin() + 76);
  carve(blob);
}

TEST_F(Carve, RangeLabelUnopenedSourceAndProgressLines) {
  CarveContext context;
  DiskSource unopened;
  EXPECT_FALSE(bind_carve_context(context, &unopened));
  EXPECT_FALSE(bind_carve_context(context, nullptr));
  RecordOutlet none(nullptr);
  EXPECT_FALSE(carve_range(context, SourceInfo{}, none));

  Bytes blob = random_bytes(4 * 65536, 4);
  for (size_t chunk = 0; chunk < 4; ++chunk) put(blob, chunk * 65536 + 512, sample_);
  open(blob);
  ASSERT_TRUE(bind_carve_context(context, source_.get()));
  EXPECT_EQ(context.range_end, 4 * 65536);
  context.position = 65536;
  context.range_end = 3 * 65536;
  context.label = "Unalloc";
  std::vector<std::string> types;
  RecordOutlet collect([&](const LnkRecord& r, const SourceInfo&) { types.push_back(r.source_type); });
  EXPECT_TRUE(carve_range(context, SourceInfo{}, collect));
  EXPECT_EQ(types, (std::vector<std::string>{"[Unalloc] " + shortcut_source_type(65536 + 512, ""),
                                             "[Unalloc] " + shortcut_source_type(2 * 65536 + 512, "")}));

  open(random_bytes(6 * 65536, 5));
  context = CarveContext{};
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
// 96 KiB at 1 TiB: nothing else is read; where nothing is stored up to the
// claimed end, the carve says where the data stops and reads to there.
// A shortcut in an MFT record whose header crosses a sector end: raw, the
// update sequence number stands in two of its bytes; found once, fixed.
TEST_F(Carve, HeaderAcrossAnMftRecordsSectorEnd) {
  const Bytes shortcut = test::LnkBuilder{}.build();
  for (const size_t start : {size_t{496}, size_t{508}}) {  // the word at 510 in the CLSID, in the size field
    Bytes value(start - 80, 0);  // the value starts 80 bytes into the record
    value.insert(value.end(), shortcut.begin(), shortcut.end());
    test::RecordLayout layout;
    layout.attributes = {test::resident_attribute(0x80, value)};
    Bytes disk(8192, 0);
    put(disk, 1024, test::mft_record(layout));
    ASSERT_NE(Bytes(disk.begin() + 1024 + 510, disk.begin() + 1024 + 512),
              Bytes(shortcut.begin() + (510 - start), shortcut.begin() + (512 - start)));
    const auto found = carve(disk);
    ASSERT_EQ(found.size(), 1u) << start;
    EXPECT_EQ(found.begin()->first, 1024 + start);
    EXPECT_EQ(found.begin()->second.second, shortcut.size());
  }
}

TEST_F(Carve, StretchesWithoutDataAreNotRead) {
  constexpr uint64_t kFar = uint64_t{1} << 40;
  const uint64_t near_record = 512, far_records[] = {kFar + 65536 + 1024, kFar + 96 * 1024 - 2048};
  for (const Holding between : {Holding::zeros, Holding::not_stored}) {
    test::PiecedSource pieced(uint64_t{1} << 50, between);
    Bytes head = random_bytes(65536, 1), tail = random_bytes(96 * 1024, 2);
    put(head, near_record, sample_);
    for (uint64_t at : far_records) put(tail, at - kFar, sample_);
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

  // Offsets of the records parsed, from the dump names; clears the dumps.
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
TEST_F(ProcessFile, OnlyFilesLongerThanAHeaderAndWhereRecordsAreFound) {
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

  // Only the first 32 KiB without -deepscan, every 512th byte without it and
  // every byte with it, except the last 76 of each chunk.
  progress_ = false;
  const struct { size_t size, offset; bool deepscan, found; } placed[] = {
      {sample_.size(), 0, false, true}, {40960, 1024, false, true}, {40960, 33280, false, false},
      {40960, 33280, true, true},       {4096, 300, false, false},   {4096, 300, true, true},
      {40960, 32692, true, false},      {40960, 32691, true, true},
  };
  for (const auto& c : placed) {
    options_.deepscan = c.deepscan;
    options_.scan_step = c.deepscan ? 1 : 512;
    EXPECT_EQ(run_file(file_with_records(c.size, {c.offset})), c.found) << c.offset;
    EXPECT_EQ(parsed_offsets(), c.found ? Offsets{c.offset} : Offsets{}) << c.offset;
  }
}

TEST_F(ProcessFile, SeveralRecordsARejectedHitAndAForeignCompoundFile) {
  Bytes bytes(8192, 0);
  for (size_t at : {0, 1024, 2048}) std::copy(sample_.begin(), sample_.end(), bytes.begin() + at);
  test::set_u16(bytes, 76, 0x7000);  // IDListSize past the buffer: rejected
  EXPECT_TRUE(run_file(write(bytes)));
  EXPECT_EQ(parsed_offsets(), (Offsets{1024, 2048}));
  // A compound file not taken as a jump list falls back to the hit.
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

// Past eight digits a carved offset is not cut.
TEST(SourceTypeAndStatusLine, LongOffsetsFoundFilesCutsAndPads) {
  EXPECT_EQ(shortcut_source_type(0x123456789aULL, ""), "Shortcut LNK (carved - 0x123456789a)");
  EXPECT_EQ(shortcut_source_type(0x400, "[root]\\x.lnk"), "[root]\\x.lnk (carved - 0x00000400)");
  auto shown = [](auto&&... args) {
    ::testing::internal::CaptureStderr();
    status_line(args...);
    return ::testing::internal::GetCapturedStderr();
  };
  EXPECT_EQ(shown(10, "ab\ncd%d", 5), "abcd5     \r");
  EXPECT_EQ(shown(4, "percent done: %d", 7), "perc\r");
  EXPECT_EQ(shown(0, "%s", "x"), "\r");
  EXPECT_EQ(shown(300, "%s", "y"), "y" + std::string(255, ' ') + "\r");
  EXPECT_EQ(shown(256, "%s", std::string(400, 'z').c_str()), std::string(255, 'z') + " \r");
}

// The signature search, checked against the plain position-by-position test.
const Bytes kSignature(kLnkHeaderSignature.begin(), kLnkHeaderSignature.end());
const Bytes kFile = {'F', 'I', 'L', 'E'};

bool signature_at(const Bytes& bytes, uint64_t p, uint64_t length) {
  return p + kSignature.size() <= length && std::equal(kSignature.begin(), kSignature.end(), bytes.begin() + p);
}

std::vector<uint64_t> naive_all(const Bytes& bytes, uint64_t from, uint64_t limit) {
  std::vector<uint64_t> hits;
  for (uint64_t p = from; p < limit; ++p)
    if (signature_at(bytes, p, bytes.size())) hits.push_back(p);
  return hits;
}

bool naive_find_lnk(uint64_t& pos, const Bytes& bytes, uint64_t length, uint32_t step) {
  if (length < 76) return false;
  for (uint64_t p = pos; p + 76 < length; p += step == 0 ? 1 : step) {
    if (signature_at(bytes, p, length)) {
      pos = p;
      return true;
    }
  }
  return false;
}

// A signature with one byte changed: the probes may still all match.
Bytes near_miss(size_t changed) {
  Bytes bytes = kSignature;
  bytes[changed] ^= 0x01;
  return bytes;
}

struct Layout { std::string name; Bytes bytes; };

std::vector<Layout> layouts() {
  std::vector<Layout> list;
  Bytes planted = random_bytes(200000, 1);
  for (uint64_t at : {0, 512, 1025, 4095, 32768 - 10, 32768 - 76, 32768 - 77, 65536 - 7, 65536 + 200})
    put(planted, at, kSignature);
  put(planted, planted.size() - 20, kSignature);  // the last position that holds one
  list.push_back({"planted in random bytes", planted});

  Bytes partial = random_bytes(4096, 2);
  put(partial, 100, kSignature, 19);  // a prefix, then the whole one right after it
  put(partial, 119, kSignature);
  put(partial, 300, kSignature, 4);
  put(partial, 304, kSignature);
  for (size_t changed : {1, 5, 11, 13, 18}) put(partial, 600 + 40 * changed, near_miss(changed));
  put(partial, partial.size() - 19, kSignature);  // cut by the end
  list.push_back({"partial and near-miss signatures", partial});

  Bytes repeated;
  while (repeated.size() < 70000) repeated.insert(repeated.end(), kSignature.begin(), kSignature.end());
  list.push_back({"nothing but signatures", repeated});
  list.push_back({"nothing but signatures, off by 7", Bytes(repeated.begin() + 7, repeated.end())});
  list.push_back({"nothing but 0x4C", Bytes(70000, 0x4C)});

  Bytes probes(5000, 0);
  for (uint64_t at = 0; at + 20 <= probes.size(); at += 33) {
    probes[at] = 0x4C;
    probes[at + 12] = 0xC0;
    probes[at + 19] = 0x46;
  }
  list.push_back({"zeros holding the probe bytes only", probes});
  return list;
}

TEST(SignatureSearch, EveryKernelFindsWhatTheNaiveSearchFindsAtEveryEdge) {
  ASSERT_FALSE(signature_kernels().empty());
  EXPECT_STREQ(signature_kernels().back().name, "scalar");
  for (const Layout& layout : layouts()) {
    const Bytes& bytes = layout.bytes;
    const uint64_t size = bytes.size();
    for (const SignatureKernel& kernel : signature_kernels()) {
      SCOPED_TRACE(layout.name + " / " + kernel.name);
      std::vector<uint64_t> found;
      for (uint64_t at = kernel.find(bytes, 0, size); at < size; at = kernel.find(bytes, at + 1, size))
        found.push_back(at);
      EXPECT_EQ(found, naive_all(bytes, 0, size));
      // A limit past the last whole signature.
      for (uint64_t limit : {size - 21, size - 20, size - 19, size + 100}) {
        const auto expected = naive_all(bytes, size / 2, std::min(limit, size));
        EXPECT_EQ(kernel.find(bytes, size / 2, limit), expected.empty() ? limit : expected.front()) << limit;
      }
    }
    std::vector<uint64_t> hits = {12345};  // find_all appends
    SignatureSearch().find_all(bytes, hits);
    auto expected = naive_all(bytes, 0, size);
    expected.insert(expected.begin(), 12345);
    EXPECT_EQ(hits, expected) << layout.name;
  }

  // Every buffer length and hit position around the vector widths, in bytes
  // that make a candidate of every position.
  for (uint64_t length = 0; length <= 100; ++length) {
    for (const SignatureKernel& kernel : signature_kernels()) {
      const Bytes none(length, 0x4C);
      EXPECT_EQ(kernel.find(none, 0, length), length) << kernel.name << " " << length;
      for (uint64_t at = 0; at + 20 <= length; ++at) {
        Bytes bytes = none;
        put(bytes, at, kSignature);
        SCOPED_TRACE(std::string(kernel.name) + " length " + std::to_string(length) + " at " + std::to_string(at));
        EXPECT_EQ(kernel.find(bytes, 0, length), at);
        EXPECT_EQ(kernel.find(bytes, at, at + 1), at);
        EXPECT_EQ(kernel.find(bytes, 0, at), at);  // limit is exclusive
        EXPECT_EQ(kernel.find(bytes, at + 1, length), length);
      }
    }
  }
  EXPECT_EQ(find_signature({}, 0, 10), 10u);
}

// Steps 1 (-deepscan), 4 (the MFT scan) and 512 (plain files), from several
// starts and over lengths that put a hit on either side of the last tested
// position of a chunk.
TEST(FindLnkSignature, EveryStepMatchesTheNaiveStepSearch) {
  for (const Layout& layout : layouts()) {
    const Bytes& bytes = layout.bytes;
    std::vector<uint64_t> lengths;
    for (uint64_t length : {uint64_t{0}, uint64_t{75}, uint64_t{76}, uint64_t{77}, uint64_t{96}, uint64_t{97},
                            uint64_t{32768}, bytes.size() - 1, bytes.size()})
      if (length <= bytes.size()) lengths.push_back(length);
    for (uint64_t hit : naive_all(bytes, 0, std::min<uint64_t>(bytes.size(), 40000)))
      for (uint64_t extra : {19, 20, 76, 77})
        if (hit + extra <= bytes.size() && lengths.size() < 200) lengths.push_back(hit + extra);
    for (uint32_t step : {1u, 4u, 512u}) {
      for (uint64_t start : {0, 1, 7, 300, 512}) {
        for (uint64_t length : lengths) {
          uint64_t expected = start, got = start;
          const bool want = naive_find_lnk(expected, bytes, length, step);
          ASSERT_EQ(find_lnk_signature(got, bytes.data(), length, step), want)
              << layout.name << " step " << step << " start " << start << " length " << length;
          EXPECT_EQ(got, want ? expected : start);
        }
      }
    }
  }
  uint64_t pos = 0;
  EXPECT_FALSE(find_lnk_signature(pos, nullptr, 1000, 1));
}

struct QuickCase {
  std::string name;
  uint32_t quick_run = 64;
  uint32_t sector = 512;
  std::vector<Bytes> patterns = {kSignature, kFile};
};

// Straight from the rule: the first quick_run positions of every sector, the
// first pattern that fits and matches.
std::vector<CarveHit> naive_quick(const QuickCase& c, const Bytes& chunk) {
  std::vector<CarveHit> hits;
  const uint64_t sector = c.sector == 0 ? 512 : c.sector;
  for (uint64_t start = 0; start < chunk.size(); start += sector) {
    for (uint64_t p = start; p < std::min<uint64_t>(start + c.quick_run, chunk.size()); ++p) {
      for (uint32_t kind = 0; kind < c.patterns.size(); ++kind) {
        const Bytes& pattern = c.patterns[kind];
        if (!pattern.empty() && p + pattern.size() <= chunk.size() &&
            std::equal(pattern.begin(), pattern.end(), chunk.begin() + static_cast<std::ptrdiff_t>(p))) {
          hits.push_back({p, kind});
          break;
        }
      }
    }
  }
  return hits;
}

std::vector<Bytes> quick_chunks() {
  std::vector<Bytes> chunks;
  Bytes planted = random_bytes(65536, 3);
  for (uint64_t at : {0, 40, 63, 64, 512 + 1, 1024 + 62, 4096 + 300}) put(planted, at, kSignature);
  for (uint64_t at : {2048, 2560 + 10, 3072 + 60, 3584 + 61}) put(planted, at, kFile);
  put(planted, 65536 - 512 + 10, kSignature);  // runs past the chunk end: not whole, no hit
  put(planted, 65536 - 512 + 30, kSignature, 12);
  chunks.push_back(planted);
  chunks.emplace_back(planted.begin(), planted.begin() + 65536 - 500);  // the last sector is short
  chunks.emplace_back(planted.begin(), planted.begin() + 75);
  chunks.emplace_back(planted.begin(), planted.begin() + 64);
  chunks.emplace_back();
  Bytes repeated;
  while (repeated.size() < 9000) repeated.insert(repeated.end(), kSignature.begin(), kSignature.end());
  chunks.push_back(repeated);
  chunks.emplace_back(9000, 0x4C);
  Bytes files;
  while (files.size() < 9000) files.insert(files.end(), kFile.begin(), kFile.end());
  chunks.push_back(files);
  return chunks;
}

TEST(QuickPass, MatchesTheNaiveRuleForEverySetting) {
  const Bytes short_header(kSignature.begin(), kSignature.begin() + 4);
  const std::vector<QuickCase> cases = {
      {"defaults"},
      {"no quick run", 0},
      {"run of 100", 100},
      {"run longer than a sector", 600},
      {"sector 0 means 512", 64, 0},
      {"sector 4096", 64, 4096},
      {"a pattern that starts like the other", 64, 512, {short_header, kSignature, kFile}},
      {"one-byte and empty patterns", 64, 512, {Bytes{}, Bytes{0x46}, kSignature}},
      {"five patterns", 64, 512, {Bytes{1}, Bytes{2}, Bytes{3}, kFile, kSignature}},
  };
  for (const QuickCase& c : cases) {
    CarveContext context;
    context.quick_run = c.quick_run;
    context.sector = c.sector;
    context.quick_patterns = c.patterns;
    std::vector<CarveHit> hits = {{1, 1}};  // stale hits are dropped
    for (const Bytes& chunk : quick_chunks()) {
      quick_pass(context, chunk, hits);
      const auto expected = naive_quick(c, chunk);
      ASSERT_EQ(hits.size(), expected.size()) << c.name << ", chunk of " << chunk.size();
      for (size_t i = 0; i < hits.size(); ++i)
        EXPECT_EQ(std::tie(hits[i].position, hits[i].pattern), std::tie(expected[i].position, expected[i].pattern))
            << c.name << " hit " << i;
    }
  }
}

}  // namespace
}  // namespace lnk
