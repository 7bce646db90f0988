// One disk, many containers: shortcuts planted in the NTFS volume of a real
// VMware disk are found the same way in the raw disk (with -offset), in the
// VMware layouts qemu-img writes (as an image file and with -vmdk) and in
// an E01 set split into segments.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kVolumeOffset = 0x10000;  // mmls: NTFS at sector 128

// The CSV rows after the header, with the first column (the input's name)
// dropped: every container of the same disk must give the same rows.
std::vector<std::string> rows_without_source(const std::string& out) {
  std::vector<std::string> rows;
  bool header_seen = false;
  for (const std::string& line : test::split_lines(out)) {
    if (line.rfind("source path/filename,", 0) == 0) {
      header_seen = true;
      continue;
    }
    if (!header_seen || line.empty()) continue;
    rows.push_back(line.substr(line.find(',')));
  }
  return rows;
}

class ImageScan : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    for (const char* tool : {"qemu-img", "ntfscp", "dd"})
      if (!test::have_tool(tool)) GTEST_SKIP() << tool << " is needed";
    const fs::path vmdk = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "images" / "vmdk-rs" /
                          "monolithicSparse.vmdk";
    if (!fs::exists(vmdk)) GTEST_SKIP() << "corpus absent";
    disk_ = (dir_ / "disk.raw").string();
    const std::string volume = (dir_ / "volume.raw").string();
    const std::string sample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";
    const fs::path jump_list = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "jumplists" /
                               "plaso_9d1f905ce5044aee.automaticDestinations-ms";
    // Out of the disk, into the volume, and back.
    const std::string setup =
        "qemu-img convert -O raw " + test::quoted(vmdk.string()) + " " + test::quoted(disk_) +
        " && dd if=" + test::quoted(disk_) + " of=" + test::quoted(volume) + " bs=512 skip=128 count=18304 status=none" +
        " && ntfscp " + test::quoted(volume) + " " + test::quoted(sample) + " /planted.lnk" +
        " && ntfscp " + test::quoted(volume) + " " + test::quoted(jump_list.string()) +
        " /9d1f905ce5044aee.automaticDestinations-ms" +
        " && dd if=" + test::quoted(volume) + " of=" + test::quoted(disk_) +
        " bs=512 seek=128 conv=notrunc status=none";
    ASSERT_EQ(std::system((setup + " >/dev/null 2>&1").c_str()), 0);
  }

  std::vector<std::string> scan(const std::vector<std::string>& args) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-csv", "-quiet"});
    const test::CommandResult r = run(all);
    EXPECT_EQ(r.status, 0) << r.err;
    return rows_without_source(r.out);
  }

  std::string disk_;
};

TEST_F(ImageScan, EveryContainerGivesTheRawDisksRecords) {
  const std::string offset = "0x" + hex_lower(kVolumeOffset, 1);
  const std::vector<std::string> expected = scan({disk_, "-ntfs_scan", "-offset", offset});
  ASSERT_EQ(expected.size(), 3u);  // the shortcut and the jump list's two

  // Without -offset a disk gets the partition listing and the option to use.
  const test::CommandResult listing = run({disk_, "-ntfs_scan"});
  EXPECT_EQ(listing.status, 255);
  EXPECT_TRUE(test::contains(listing.err, "use option [-offset " + offset + "]")) << listing.err;

  const std::pair<const char*, const char*> layouts[] = {
      {"monolithicSparse", "vmdk"}, {"streamOptimized", "vmdk"}, {"twoGbMaxExtentSparse", "vmdk"}};
  for (const auto& [subformat, extension] : layouts) {
    const std::string vmdk = (dir_ / (std::string(subformat) + "." + extension)).string();
    ASSERT_EQ(std::system(("qemu-img convert -O vmdk -o subformat=" + std::string(subformat) + " " +
                           test::quoted(disk_) + " " + test::quoted(vmdk) + " >/dev/null 2>&1").c_str()),
              0);
    EXPECT_EQ(scan({vmdk, "-ntfs_scan", "-offset", offset}), expected) << subformat;
    // -vmdk finds the volume through the disk's partition table.
    EXPECT_EQ(scan({"-vmdk", vmdk}), expected) << subformat;
  }

  if (test::have_tool("ewfacquirestream")) {
    const std::string e01 = (dir_ / "disk").string();
    ASSERT_EQ(std::system(("ewfacquirestream -q -S 2097152 -t " + test::quoted(e01) + " < " + test::quoted(disk_) +
                           " >/dev/null 2>&1").c_str()),
              0);
    ASSERT_TRUE(fs::exists(e01 + ".E02")) << "the set is split into segments";
    EXPECT_EQ(scan({e01 + ".E01", "-ntfs_scan", "-offset", offset}), expected);
    // Raw carving sees the media, not the container.
    EXPECT_EQ(scan({e01 + ".E01", "-rawscan"}), scan({disk_, "-rawscan"}));
  }
}

}  // namespace
}  // namespace lnk

namespace lnk {
namespace {

// -partition on POSIX takes a block device: a loop device over a fixture
// volume reads as the image does (read-only, whole sectors).
TEST_F(ImageScan, BlockDeviceReadsAsTheImage) {
  if (::geteuid() != 0 || !test::have_tool("losetup")) GTEST_SKIP() << "a loop device needs root and losetup";
  const std::string fixtures = (dir_ / "fixtures").string();
  fs::create_directories(fixtures);
  ASSERT_TRUE(test::unpack_ntfs_fixtures(fixtures));
  const std::string volume = fixtures + "/ntfs_small.img";
  const std::string device = test::command_output("losetup -f --show -r " + test::quoted(volume) + " 2>/dev/null");
  if (device.empty() || device.rfind("/dev/", 0) != 0) GTEST_SKIP() << "no loop device available";
  const std::string path = device.substr(0, device.find('\n'));
  const std::vector<std::string> from_device = scan({"-partition", path});
  std::system(("losetup -d " + path).c_str());
  const std::vector<std::string> from_image = scan({volume, "-ntfs_scan"});
  EXPECT_GE(from_image.size(), 10u);
  EXPECT_EQ(from_device, from_image);
}

}  // namespace
}  // namespace lnk
