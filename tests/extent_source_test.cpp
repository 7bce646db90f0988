// Byte sources: files pieced from extents of a parent, windows, the loop of
// pieced reads, and whole-sector reads of images and devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <vector>

#include "storage/disk_source.h"
#include "storage/extent_source.h"
#include "storage/memory_source.h"
#include "storage/window_source.h"
#include "tests/image_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> numbered(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + i / 256);
  return b;
}

// File bytes 0-99 from parent 500-599, 100-149 sparse, 150-199 not mapped,
// 200-299 from parent 0-99; size 320 (the rest past the last extent).
TEST(ExtentSource, ReadsAcrossPiecesZerosAndHoles) {
  const std::vector<uint8_t> parent_bytes = numbered(1000);
  MemorySource parent(parent_bytes);
  const std::vector<Extent> extents = {{0, 100, 500, false}, {100, 50, 0, true}, {200, 100, 0, false}};
  ExtentSource file(parent, extents, 320, 260);
  EXPECT_EQ(std::make_pair(file.well_formed(), file.size()), std::make_pair(true, uint64_t{320}));
  struct Case { uint64_t offset, length; int64_t result; };
  for (const Case& c : {Case{0, 100, 100}, Case{90, 40, 40}, Case{140, 10, 10}, Case{140, 20, -1},
                        Case{200, 50, 50}, Case{250, 70, 70}, Case{300, 100, 20}, Case{320, 5, 0}}) {
    std::vector<uint8_t> out(c.length, 0xEE);
    ASSERT_EQ(file.read_at(c.offset, out), c.result) << c.offset << "+" << c.length;
    for (int64_t i = 0; i < c.result; ++i) {
      const uint64_t at = c.offset + static_cast<uint64_t>(i);
      uint8_t expected = 0;
      if (at < 100) expected = parent_bytes[500 + at];
      if (at >= 200 && at < 260) expected = parent_bytes[at - 200];  // valid size ends at 260
      ASSERT_EQ(out[static_cast<size_t>(i)], expected) << at;
    }
  }
  const auto mapped = [&](uint64_t at) {
    uint64_t to = 0;
    return file.map(at, to) ? static_cast<int64_t>(to) : -1;
  };
  EXPECT_EQ((std::vector<int64_t>{mapped(99), mapped(299), mapped(120), mapped(170), mapped(320)}),
            (std::vector<int64_t>{599, 99, -1, -1, -1}));

  // What a scan may pass over: sparse runs and bytes past the valid size
  // hold zeros, the hole stores nothing; a window sees the same, clipped.
  const std::pair<uint64_t, HoldingRun> runs[] = {
      {0, {Holding::data, 100}},         {120, {Holding::zeros, 150}}, {150, {Holding::not_stored, 200}},
      {230, {Holding::data, 260}},       {260, {Holding::zeros, 320}}};
  for (const auto& [offset, run] : runs) EXPECT_EQ(file.holding_at(offset), run) << offset;
  WindowSource part(file, 90, 100);
  EXPECT_EQ(std::make_pair(part.holding_at(0), part.holding_at(65)),
            std::make_pair(HoldingRun{Holding::data, 10}, HoldingRun{Holding::not_stored, 100}));
  EXPECT_EQ(bytes_holding_data(file, 0, 320), 160u);
  WindowSource window(parent, 10, 20);
  std::vector<uint8_t> tail(10);
  EXPECT_EQ(window.read_at(15, tail), 5);
  EXPECT_TRUE(std::equal(tail.begin(), tail.begin() + 5, parent_bytes.begin() + 25));
}

TEST(ExtentSource, ParentFailuresAndMalformedExtents) {
  const std::vector<uint8_t> parent_bytes = numbered(100);
  MemorySource parent(parent_bytes);
  ExtentSource beyond(parent, {{0, 50, 80, false}}, 50, 50);  // parent ends 30 bytes in
  std::vector<uint8_t> out(50);
  EXPECT_EQ(beyond.read_at(0, out), -1);
  EXPECT_EQ(beyond.read_at(0, std::span(out).first(20)), 20);
  EXPECT_EQ(std::make_pair(beyond.holding_at(0), beyond.holding_at(20)),
            std::make_pair(HoldingRun{Holding::data, 20}, HoldingRun{Holding::not_stored, 50}));

  ExtentSource overlapping(parent, {{0, 10, 0, false}, {5, 10, 20, false}, {30, 5, 0, false}}, 40, 40);
  ExtentSource wrapping(parent, {{UINT64_MAX - 5, 10, 0, false}}, UINT64_MAX, UINT64_MAX);
  EXPECT_EQ(std::make_tuple(overlapping.well_formed(), overlapping.extents().size(), wrapping.well_formed(),
                            wrapping.extents().size()),
            std::make_tuple(false, size_t{1}, false, size_t{0}));
  EXPECT_EQ(wrapping.read_at(UINT64_MAX - 5, std::span(out).first(3)), -1);
}

// The loop every pieced read goes through: a pass that reads nothing (a
// lookup that makes no progress) fails the read at once rather than asking
// again forever; for a library's reader it ends the read where it is.
TEST(ReadInPasses, StalledPassFailsOrEndsTheRead) {
  std::vector<uint8_t> out(10);
  int calls = 0;
  auto stalls = [&calls](uint64_t, std::span<uint8_t> rest) -> int64_t {
    if (++calls > 100) return -1;
    return calls == 1 ? static_cast<int64_t>(std::min<size_t>(4, rest.size())) : 0;
  };
  const int64_t failed = read_in_passes(0, out, 10, stalls, StalledPass::fails_read);
  EXPECT_EQ(std::make_pair(failed, calls), std::make_pair(int64_t{-1}, 2));
  calls = 0;
  const int64_t ended = read_in_passes(0, out, 10, stalls, StalledPass::ends_read);
  EXPECT_EQ(std::make_pair(ended, calls), std::make_pair(int64_t{4}, 2));
}

TEST(AlignedSpan, WholeSectorsAndDriveLettersAsDevicePaths) {
  struct Case { uint64_t offset, count; uint32_t sector; uint64_t start, length, skip; };
  for (const Case& c : {Case{700, 100, 512, 512, 512, 188}, Case{700, 400, 512, 512, 1024, 188},
                        Case{1024, 4096, 4096, 0, 8192, 1024}, Case{512, 512, 512, 512, 512, 0}}) {
    AlignedSpan span;
    ASSERT_TRUE(aligned_span(c.offset, c.count, c.sector, span)) << c.offset;
    EXPECT_EQ(std::make_tuple(span.start, span.length, span.skip), std::make_tuple(c.start, c.length, c.skip))
        << c.offset << "+" << c.count;
  }
  AlignedSpan span;
  EXPECT_FALSE(aligned_span(0, 10, 0, span) || aligned_span(511, UINT64_MAX, 512, span));
  const std::tuple<const char*, uint32_t, const char*> cases[] = {
      {"C:", kSourceVolumeLetter, "\\\\.\\C:"},    {"d", kSourceDevicePath, "\\\\.\\d:"},
      {"e:\\", kSourceVolumeLetter, "\\\\.\\e:"},  {"1:", kSourceVolumeLetter, "1:"},
      {"C:", kSourcePhysicalDrive, "C:"},          {"/dev/sdb1", kSourceVolumeLetter, "/dev/sdb1"}};
  for (const auto& [path, kind, device] : cases) EXPECT_EQ(device_path_for(path, kind), device) << path;
}

// A regular file opened as a device goes through the whole-sector reads.
TEST(DiskSource, ImageAndDeviceReadsCutAtTheEnd) {
  const test::ScratchDir scratch("source");
  const fs::path path_ = scratch.path / "image.bin";
  const std::vector<uint8_t> bytes = numbered(3000);
  test::write_file(path_, bytes);
  DiskSource source;
  EXPECT_EQ(source.kind(), kSourceNothing);
#ifdef _WIN32
  // Windows asks the disk driver for the geometry, which a plain file does
  // not have: that refuses a device path, not a volume.
  EXPECT_FALSE(source.open_path(path_.string(), kSourceDevicePath, true));
  const uint32_t device_kind = kSourceVolumeLetter;
#else
  const uint32_t device_kind = kSourceDevicePath;
#endif
  for (const uint32_t kind : std::initializer_list<uint32_t>{kSourceImageFile, device_kind}) {
    ASSERT_TRUE(kind == kSourceImageFile ? source.open_image(path_.string())
                                         : source.open_path(path_.string(), kind, true));
    EXPECT_EQ(std::make_tuple(source.kind(), source.size(), source.sector_size()), std::make_tuple(kind, 3000u, 512u));
    for (auto [offset, length] : {std::pair<uint64_t, uint64_t>{700, 100}, {700, 400}, {0, 1024}, {2999, 1},
                                  {2500, 600}, {511, 2}}) {
      std::vector<uint8_t> buffer(length, 0);
      uint64_t count = length;
      ASSERT_TRUE(source.read(buffer.data(), count, offset)) << offset;
      EXPECT_EQ(count, std::min<uint64_t>(length, 3000 - offset));
      for (uint64_t i = 0; i < count; ++i) ASSERT_EQ(buffer[i], bytes[offset + i]) << offset + i;
    }
    uint8_t buffer[16];
    uint64_t count = 10, none = 0;
    EXPECT_FALSE(source.read(buffer, count, 3000) || source.read(buffer, none, 0));
    source.close();
    EXPECT_EQ(std::make_tuple(source.kind(), source.size()), std::make_tuple(kSourceNothing, 0u));
    count = 10;
    EXPECT_FALSE(source.read(buffer, count, 0));
  }
  EXPECT_FALSE(source.open_image(path_.string() + ".absent") || source.open_path(path_.string(), kSourceImageFile, true) ||
               source.open_path("/nonexistent/device", kSourceVolumeLetter, true) || source.is_open());
}

}  // namespace
}  // namespace lnk
