// One disk, many containers: shortcuts planted in the NTFS volume of a real
// VMware disk are found the same way in the raw disk (with -offset), in the
// VMware layouts qemu-img writes (as an image file and with -vmdk), in an
// E01 set split into segments, in VHD, VHDX and QCOW2 disks (alone and as
// parents of differencing disks) and in the raw disk split into segments.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "storage/ewf_source.h"
#include "storage/qcow_source.h"
#include "storage/vhdi_source.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"
#include "tests/vhd_child_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kVolumeOffset = 0x10000;  // mmls: NTFS at sector 128
// Past the partition's end (sector 18432), where every container holds zeros.
constexpr uint64_t kFreeOffset = 9728000;

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
    const fs::path vmdk =
        fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "images" / "vmdk-rs" / "monolithicSparse.vmdk";
    if (!fs::exists(vmdk)) GTEST_SKIP() << "corpus absent";
    disk_ = (dir_ / "disk.raw").string();
    const std::string volume = (dir_ / "volume.raw").string();
    const std::string sample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";
    const fs::path jump_list = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "jumplists" /
                               "plaso_9d1f905ce5044aee.automaticDestinations-ms";
    // Out of the disk, into the volume, and back.
    const std::string setup = "qemu-img convert -O raw " + test::quoted(vmdk.string()) + " " + test::quoted(disk_) +
                              " && dd if=" + test::quoted(disk_) + " of=" + test::quoted(volume) +
                              " bs=512 skip=128 count=18304 status=none" + " && ntfscp " + test::quoted(volume) + " " +
                              test::quoted(sample) + " /planted.lnk" + " && ntfscp " + test::quoted(volume) + " " +
                              test::quoted(jump_list.string()) + " /9d1f905ce5044aee.automaticDestinations-ms" +
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

  // The paths fls lists in the volume of an image (sleuthkit tells the container).
  std::set<std::string> fls_paths(const std::string& image) {
    std::set<std::string> paths;
    for (const test::FlsName& name : test::fls_names(image, kVolumeOffset / 512)) paths.insert(name.path);
    return paths;
  }
  void shell(const std::string& command) {
    ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::string disk_;
};

TEST_F(ImageScan, EveryContainerGivesTheRawDisksRecords) {
  const std::string offset = "0x" + hex_lower(kVolumeOffset, 1);
  const std::vector<std::string> expected = scan({disk_, "-ntfs_scan", "-offset", offset});
  ASSERT_EQ(expected.size(), 3u);  // the shortcut and the jump list's two
  const std::vector<std::string> carved = scan({disk_, "-rawscan"});
  ASSERT_EQ(carved.size(), 2u);
  // Without -offset the disk's only NTFS partition is scanned, after the listing.
  const test::CommandResult listing = run({disk_, "-ntfs_scan", "-csv", "-quiet"});
  EXPECT_EQ(listing.status, 0);
  EXPECT_EQ(rows_without_source(listing.out), expected);
  EXPECT_EQ(listing.err,
            "\nvolume offset [ " + offset + " ] : ntfs\n\nscanning the only NTFS partition, at " + offset + "\n");
  const std::set<std::string> paths = fls_paths(disk_);
  ASSERT_TRUE(paths.count("[root]\\planted.lnk"));

  for (const char* subformat : {"monolithicSparse", "streamOptimized", "twoGbMaxExtentSparse"}) {
    const std::string vmdk = path(std::string(subformat) + ".vmdk");
    shell("qemu-img convert -O vmdk -o subformat=" + std::string(subformat) + " " + test::quoted(disk_) + " " +
          test::quoted(vmdk));
    EXPECT_EQ(scan({vmdk, "-ntfs_scan", "-offset", offset}), expected) << subformat;
    // -vmdk finds the volume through the disk's partition table.
    EXPECT_EQ(scan({"-vmdk", vmdk}), expected) << subformat;
  }

  // Raw carving sees the media, not the container; so does fls, which
  // reads no QCOW. The E01 set and the split image are in segments.
  std::vector<std::string> images;
  if (test::have_tool("ewfacquirestream")) {
    shell("ewfacquirestream -q -S 2097152 -t " + test::quoted(path("disk")) + " < " + test::quoted(disk_));
    ASSERT_TRUE(fs::exists(path("disk.E02")));
    images.push_back(path("disk.E01"));
  }
  const std::pair<const char*, const char*> conversions[] = {{"fixed.vhd", "-O vpc -o subformat=fixed"},
                                                             {"dynamic.vhd", "-O vpc"},
                                                             {"disk.vhdx", "-O vhdx"},
                                                             {"plain.qcow2", "-O qcow2"},
                                                             {"packed.qcow2", "-O qcow2 -c"}};
  for (const auto& [name, options] : conversions) {
    shell("qemu-img convert " + std::string(options) + " " + test::quoted(disk_) + " " + test::quoted(path(name)));
    images.push_back(path(name));
  }
  shell("cd " + test::quoted(dir_.string()) + " && split -b 7M -d -a 3 disk.raw split. && mv split.001 split.002" +
        " && mv split.000 split.001");
  images.push_back(path("split.001"));
  for (const std::string& image : images) {
    const bool qcow = image.ends_with(".qcow2"), vhd = image.find(".vhd") != std::string::npos;
    if ((qcow && !qcow_support_available()) || (vhd && !vhdi_support_available()) ||
        (image.ends_with(".E01") && !ewf_support_available())) {
      EXPECT_TRUE(test::contains(run({image, "-ntfs_scan"}).err, "which this build lacks"));
      continue;
    }
    const test::CommandResult found = run({image, "-ntfs_scan", "-csv", "-quiet"});
    EXPECT_EQ(rows_without_source(found.out), expected) << image;
    EXPECT_EQ(found.err, listing.err) << image;
    EXPECT_EQ(scan({image, "-rawscan"}), carved) << image;
    if (!qcow) {
      EXPECT_EQ(fls_paths(image), paths) << image;
    }
  }
}

// Differencing VHD and VHDX disks and a QCOW2 disk with a backing file: the
// child's own writes over the parent's disk, found from the names the child
// recorded; without its parent, or with a loop for one, the run ends saying so.
TEST_F(ImageScan, ChildDisksReadOverTheirParents) {
  const std::string offset = "0x" + hex_lower(kVolumeOffset, 1);
  const std::vector<std::string> records = scan({disk_, "-ntfs_scan", "-offset", offset});
  const std::vector<std::string> carved = scan({disk_, "-rawscan"});
  const std::string sample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";
  const uint64_t sample_size = fs::file_size(sample);
  const auto write_sample = [&](const std::string& format, const std::string& disk) {
    shell("qemu-io -f " + format + " -c 'write -s " + sample + " " + std::to_string(kFreeOffset) + " " +
          std::to_string(sample_size) + "' " + test::quoted(disk));
  };
  fs::create_directories(dir_ / "children");
  struct Chain {
    std::string child;
    std::string recorded;  // the parent's name in the message
  };
  std::vector<Chain> chains;
  if (vhdi_support_available()) {
    // VHD: the child beside its parent. VHDX: the child one folder down.
    shell("qemu-img convert -O vpc " + test::quoted(disk_) + " " + test::quoted(path("parent.vhd")));
    const std::string size = trim_blanks(test::command_output(
        "qemu-img info --output=json " + test::quoted(path("parent.vhd")) + " | jq '.\"virtual-size\"'"));
    shell("qemu-img create -f vpc " + test::quoted(path("child.vhd")) + " " + size);
    write_sample("vpc", path("child.vhd"));
    test::make_vhd_child(path("child.vhd"), path("parent.vhd"), ".\\parent.vhd", {{kFreeOffset, sample_size}});
    chains.push_back({path("child.vhd"), ".\\parent.vhd"});

    shell("qemu-img convert -O vhdx " + test::quoted(disk_) + " " + test::quoted(path("parent.vhdx")));
    shell("qemu-img create -f vhdx -o block_size=1M " + test::quoted(path("children/child.vhdx")) + " 10M");
    write_sample("vhdx", path("children/child.vhdx"));
    test::make_vhdx_child(path("children/child.vhdx"), path("parent.vhdx"), "..\\parent.vhdx");
    chains.push_back({path("children/child.vhdx"), "..\\parent.vhdx"});

    // A disk that names itself as its parent.
    shell("qemu-img create -f vhdx " + test::quoted(path("self.vhdx")) + " 10M");
    test::make_vhdx_child(path("self.vhdx"), path("self.vhdx"), ".\\self.vhdx");
    const test::CommandResult self = run({path("self.vhdx"), "-rawscan", "-quiet"});
    EXPECT_EQ(self.err, "invalid image: " + path("self.vhdx") + "\n  " + path("self.vhdx") +
                            " names itself as its parent disk\n");
  }
  if (qcow_support_available()) {
    // The backing file recorded by its absolute path, found beside the child.
    shell("qemu-img convert -O qcow2 " + test::quoted(disk_) + " " + test::quoted(path("children/base.qcow2")));
    shell("qemu-img create -f qcow2 -F qcow2 -b " + test::quoted(path("children/base.qcow2")) + " " +
          test::quoted(path("children/child.qcow2")));
    write_sample("qcow2", path("children/child.qcow2"));
    fs::create_directories(dir_ / "moved");
    for (const char* name : {"base.qcow2", "child.qcow2"})
      fs::copy_file(dir_ / "children" / name, dir_ / "moved" / name);
    chains.push_back({path("moved/child.qcow2"), path("children/base.qcow2")});

    // a and b each the backing file of the other.
    shell("cd " + test::quoted(dir_.string()) + " && qemu-img create -f qcow2 -F qcow2 -b moved/base.qcow2 a.qcow2" +
          " && qemu-img create -f qcow2 -F qcow2 -b a.qcow2 b.qcow2 && qemu-img rebase -u -F qcow2 -b b.qcow2 a.qcow2");
    const test::CommandResult loop = run({path("b.qcow2"), "-ntfs_scan", "-quiet"});
    EXPECT_EQ(loop.status, 255);
    EXPECT_EQ(loop.err, "invalid image: " + path("b.qcow2") + "\n  the chain loops: " + path("a.qcow2") + " names " +
                            path("b.qcow2") + ", which is already in it\n");
  }
  for (const Chain& chain : chains) {
    EXPECT_EQ(scan({chain.child, "-ntfs_scan", "-offset", offset}), records) << chain.child;
    std::vector<std::string> with_write = scan({chain.child, "-rawscan"});
    ASSERT_EQ(with_write.size(), carved.size() + 1) << chain.child;
    EXPECT_TRUE(test::contains(with_write.back(), "(carved - 0x" + hex_lower(kFreeOffset, 8) + ")"))
        << with_write.back();
    with_write.pop_back();
    EXPECT_EQ(with_write, carved);

    // Two folders down: "..\\" does not lead back to the parent.
    const fs::path folder = dir_ / "alone" / std::to_string(&chain - chains.data());
    fs::create_directories(folder);
    const std::string alone = (folder / fs::path(chain.child).filename()).string();
    fs::copy_file(chain.child, alone);
    const test::CommandResult missing = run({alone, "-ntfs_scan", "-offset", offset, "-quiet"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_TRUE(test::contains(missing.err, "invalid image: " + alone + "\n  ")) << missing.err;
    EXPECT_TRUE(test::contains(missing.err, " of " + alone + " not found: " + chain.recorded + " (looked for "))
        << missing.err;
  }
  if (vhdi_support_available()) {
    // Another disk under the parent's name is refused.
    shell("qemu-img create -f vpc " + test::quoted(path("alone/0/parent.vhd")) + " 10M");
    const std::string child = path("alone/0/child.vhd");
    const test::CommandResult wrong = run({child, "-rawscan", "-quiet"});
    EXPECT_EQ(wrong.err, "invalid image: " + child + "\n  " + path("alone/0/parent.vhd") +
                             " is not the parent disk of " + child + ": its identifier differs from the one " + child +
                             " keeps\n");
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
// the chain; the listing is the built-disk tests'): the NTFS one is scanned
// with or without -offset, and where the kernel lists the partitions,
// -partition on it reports the same disk offsets; a second NTFS volume
// brings back the listing and the -offset to use.
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

  // The only NTFS partition is scanned without -offset as with it.
  const test::CommandResult scanned = run({disk, "-ntfs_scan", "-csv", "-quiet"});
  EXPECT_EQ(scanned.status, 0);
  EXPECT_TRUE(test::contains(scanned.err, "volume offset [ 0x700000 ] : ntfs\n\nscanning the only NTFS partition, at "
                                          "0x700000\n")) << scanned.err;
  const std::vector<std::string> rows = rows_without_source(scanned.out);
  ASSERT_EQ(rows.size(), 1u) << scanned.err;
  EXPECT_EQ(rows_without_source(run({disk, "-ntfs_scan", "-offset", "0x700000", "-csv", "-quiet"}).out), rows);

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

  // With a second NTFS volume (an NTFS boot sector in the FAT32 slot) the
  // choice is the user's: the listing, and the run ends.
  ASSERT_EQ(std::system(("dd if=" + test::quoted(volume) + " of=" + test::quoted(disk) +
                         " bs=512 count=1 seek=8192 conv=notrunc status=none").c_str()), 0);
  const test::CommandResult listing = run({disk, "-ntfs_scan", "-csv"});
  EXPECT_EQ(listing.status, 255);
  EXPECT_TRUE(test::contains(listing.err, "volume offset [ 0x400000 ] : fat32\nvolume offset [ 0x700000 ] : ntfs\n\n"
                                          "use option [-offset 0x700000]\n")) << listing.err;
  EXPECT_TRUE(rows_without_source(listing.out).empty());
}

}  // namespace
}  // namespace lnk
