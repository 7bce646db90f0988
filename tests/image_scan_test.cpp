// One disk, many containers: shortcuts planted in the NTFS volume of a real
// VMware disk are found the same way in the raw disk (with -offset), in the
// VMware layouts qemu-img writes (as an image file and with -vmdk) and in
// an E01 set split into segments.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
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
  // The same device under a name sysfs does not know: where it starts on
  // its disk cannot be read, and the run says so once.
  const std::string alias = (dir_ / "volume_node").string();
  const bool aliased = std::system(("mknod " + test::quoted(alias) + " b $(stat -c '0x%t 0x%T' " + path + ")").c_str()) == 0;
  const test::CommandResult unknown = run({"-partition", alias, "-csv", "-quiet"});
  std::system(("losetup -d " + path).c_str());
  const std::vector<std::string> from_image = scan({volume, "-ntfs_scan"});
  EXPECT_GE(from_image.size(), 10u);
  EXPECT_EQ(from_device, from_image);
  if (!aliased) return;
  EXPECT_EQ(rows_without_source(unknown.out), from_image);
  const std::string note = "the start of " + alias + " on its disk cannot be read from /sys/class/block/volume_node/start; "
                           "offsets are counted from the start of " + alias + "\n";
  EXPECT_EQ(unknown.err.find(note), unknown.err.rfind(note));
  EXPECT_NE(unknown.err.find(note), std::string::npos) << unknown.err;
}

// A disk whose MBR slots do not follow the disk's order (sfdisk puts the
// extended entry in slot 1, the NTFS volume in slot 2, the logical ones in
// the chain; the listing is the built-disk tests'): -offset scans the NTFS
// one, and where the kernel lists the partitions, -partition on it reports
// the same disk offsets.
class SlotOrderDisk : public test::ScratchDirTest {};

TEST_F(SlotOrderDisk, EveryPartitionListedAndTheNtfsOneScanned) {
  for (const char* tool : {"sfdisk", "mkntfs", "ntfscp", "dd"})
    if (!test::have_tool(tool)) GTEST_SKIP() << tool << " is needed";
  const fs::path dir = dir_;
  const std::string disk = (dir / "disk.img").string(), volume = (dir / "volume.img").string();
  const std::string sample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";
  const std::string setup =
      "truncate -s 16M " + test::quoted(disk) + " && printf 'label: dos\\nstart=2048, size=12288, type=5\\n"
      "start=14336, size=16384, type=7\\nstart=4096, size=2048, type=83\\nstart=8192, size=4096, type=c\\n' | "
      "sfdisk -q " + test::quoted(disk) + " && truncate -s 8M " + test::quoted(volume) + " && mkntfs -F -q -f " +
      test::quoted(volume) + " && ntfscp " + test::quoted(volume) + " " + test::quoted(sample) + " /planted.lnk" +
      " && dd if=" + test::quoted(volume) + " of=" + test::quoted(disk) + " bs=512 seek=14336 conv=notrunc status=none";
  ASSERT_EQ(std::system((setup + " >/dev/null 2>&1").c_str()), 0);

  const test::CommandResult listing = run({disk, "-ntfs_scan"});
  EXPECT_EQ(listing.status, 255);
  EXPECT_TRUE(test::contains(listing.err, "use option [-offset 0x700000]\n")) << listing.err;
  const test::CommandResult scanned = run({disk, "-ntfs_scan", "-offset", "0x700000", "-csv", "-quiet"});
  const std::vector<std::string> rows = rows_without_source(scanned.out);
  ASSERT_EQ(rows.size(), 1u) << scanned.err;

  if (::geteuid() == 0 && test::have_tool("losetup")) {
    const std::string device = test::command_output("losetup -P -r -f --show " + test::quoted(disk) + " 2>/dev/null");
    const std::string path = device.substr(0, device.find('\n'));
    if (path.rfind("/dev/", 0) == 0) {
      std::system("udevadm settle >/dev/null 2>&1");
      const std::string partition = path + "p2";
      if (fs::exists(partition)) {
        const test::CommandResult live = run({"-partition", partition, "-csv", "-quiet"});
        EXPECT_EQ(rows_without_source(live.out), rows) << live.err;
        EXPECT_EQ(live.err, "");
      } else {
        std::cout << "the kernel lists no partitions of " << path << "; -partition not tried\n";
      }
      std::system(("losetup -d " + path).c_str());
    }
  }
}

}  // namespace
}  // namespace lnk
