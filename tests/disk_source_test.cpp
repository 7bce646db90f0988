#include "storage/disk_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "tests/image_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

uint8_t expected(uint64_t i) { return static_cast<uint8_t>(i * 7 + i / 256); }

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
  std::vector<uint8_t> bytes(3000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = expected(i);
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
      for (uint64_t i = 0; i < count; ++i) ASSERT_EQ(buffer[i], expected(offset + i)) << offset + i;
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
