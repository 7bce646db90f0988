// One disk, many containers: shortcuts planted in the NTFS volume of a real
// VMware disk are found the same way in the raw disk, in the VMware, E01,
// VHD, VHDX and QCOW2 disks and split segments made from it (alone and as
// parents of differencing disks), and through a loop device.
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
    if (header_seen && !line.empty()) rows.push_back(line.substr(line.find(',')));
    header_seen = header_seen || line.rfind("source path/filename,", 0) == 0;
  }
  return rows;
}

class ImageScan : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    if (!test::have_tools({"qemu-img", "qemu-io", "ntfscp"})) GTEST_SKIP() << "qemu-utils and ntfs-3g are needed";
    const fs::path corpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus";
    const fs::path vmdk = corpus / "images" / "vmdk-rs" / "monolithicSparse.vmdk";
    if (!fs::exists(vmdk)) GTEST_SKIP() << "corpus absent";
    disk_ = path("disk.raw");
    const std::string volume = test::q(path("volume.raw")), disk = test::q(disk_);
    const std::string list = "9d1f905ce5044aee.automaticDestinations-ms";
    // Out of the disk, into the volume, and back.
    shell("qemu-img convert -O raw " + test::q(vmdk) + " " + disk + " && dd if=" + disk + " of=" + volume +
          " bs=512 skip=128 count=18304 status=none && ntfscp " + volume + " " + test::q(sample_) + " /planted.lnk" +
          " && ntfscp " + volume + " " + test::q(corpus / "jumplists" / ("plaso_" + list)) + " /" + list +
          " && dd if=" + volume + " of=" + disk + " bs=512 seek=128 conv=notrunc status=none");
    if (HasFatalFailure()) return;
    records_ = scan({disk_, "-ntfs_scan", "-offset", offset_});
    carved_ = scan({disk_, "-rawscan"});
  }

  std::vector<std::string> scan(std::vector<std::string> args) {
    args.insert(args.end(), {"-csv", "-quiet"});
    const test::CommandResult r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return rows_without_source(r.out);
  }
  void shell(const std::string& command) { ASSERT_EQ(test::shell(command).status, 0) << command; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  const std::string offset_ = "0x" + hex_lower(kVolumeOffset, 1);
  const std::string& sample_ = test::kSampleLnk;
  std::string disk_;
  std::vector<std::string> records_, carved_;
};

TEST_F(ImageScan, EveryContainerGivesTheRawDisksRecords) {
  ASSERT_EQ(records_.size(), 3u);  // the shortcut and the jump list's two
  ASSERT_EQ(carved_.size(), 2u);
  // Without -offset the disk's only NTFS partition is scanned, after the listing.
  const test::CommandResult listing = run({disk_, "-ntfs_scan", "-csv", "-quiet"});
  const std::string said = "\nvolume offset [ " + offset_ + " ] : ntfs\n\nscanning the only NTFS partition, at ";
  EXPECT_EQ(std::tuple(listing.status, rows_without_source(listing.out), listing.err),
            std::tuple(0, records_, said + offset_ + "\n"));
  std::set<std::string> paths;
  for (const test::FlsName& name : test::fls_names(disk_, kVolumeOffset / 512)) paths.insert(name.path);
  ASSERT_TRUE(paths.count("[root]\\planted.lnk"));

  // Each told by its content, whatever its name (a VMware disk as ".001").
  // Raw carving sees the media, not the container; so does fls, which
  // reads neither VMware nor QCOW here.
  // make: run in the scratch folder, from disk.raw.
  const struct { const char *image, *make; bool (*supported)(); bool fls; } containers[] = {
      {"stream.001", "qemu-img convert -O vmdk -o subformat=streamOptimized disk.raw stream.001", nullptr, false},
      {"split.vmdk", "qemu-img convert -O vmdk -o subformat=twoGbMaxExtentSparse disk.raw split.vmdk", nullptr, false},
      {"disk.E01", "ewfacquirestream -q -S 2097152 -t disk < disk.raw && test -f disk.E02", ewf_support_available,
       true},
      {"fixed.vhd", "qemu-img convert -O vpc -o subformat=fixed disk.raw fixed.vhd", vhdi_support_available, true},
      {"dynamic.vhd", "qemu-img convert -O vpc disk.raw dynamic.vhd", vhdi_support_available, true},
      {"disk.vhdx", "qemu-img convert -O vhdx disk.raw disk.vhdx", vhdi_support_available, true},
      {"plain.qcow2", "qemu-img convert -O qcow2 disk.raw plain.qcow2", qcow_support_available, false},
      {"packed.qcow2", "qemu-img convert -O qcow2 -c disk.raw packed.qcow2", qcow_support_available, false},
      {"segments.001", "split -b 7M -d -a 3 disk.raw segments. && mv segments.001 segments.002 && "
                       "mv segments.000 segments.001", nullptr, true},
  };
  for (const auto& c : containers) {
    const std::string maker = std::string(c.make).substr(0, std::string(c.make).find(' '));
    if (!test::have_tools({maker})) continue;
    shell("cd " + test::q(dir_) + " && " + c.make);
    const std::string image = path(c.image);
    if (c.supported != nullptr && !c.supported()) {
      EXPECT_TRUE(test::contains(run({image, "-ntfs_scan"}).err, "which this build lacks")) << c.image;
      continue;
    }
    const test::CommandResult found = run({image, "-ntfs_scan", "-csv", "-quiet"});
    EXPECT_EQ(std::pair(rows_without_source(found.out), found.err), std::pair(records_, listing.err)) << c.image;
    EXPECT_EQ(scan({image, "-rawscan"}), carved_) << c.image;
    if (test::contains(c.make, "-O vmdk")) {
      EXPECT_EQ(scan({"-vmdk", image}), records_) << c.image;
    }
    if (c.fls) {
      std::set<std::string> listed;
      for (const test::FlsName& name : test::fls_names(image, kVolumeOffset / 512)) listed.insert(name.path);
      EXPECT_EQ(listed, paths) << c.image;
    }
  }
}

// Differencing VHD and VHDX disks and a QCOW2 disk with a backing file: the
// child's own write (a shortcut past the partition) over the parent's disk,
// found from the names the child recorded; without its parent, with another
// disk under the parent's name, or with a loop for one, the run ends saying so.
TEST_F(ImageScan, ChildDisksReadOverTheirParents) {
  const uint64_t sample_size = fs::file_size(sample_);
  const auto write_sample = [&](const std::string& format, const std::string& disk) {
    shell("qemu-io -f " + format + " -c 'write -s " + sample_ + " " + std::to_string(kFreeOffset) + " " +
          std::to_string(sample_size) + "' " + test::q(path(disk)));
  };
  const auto convert = [&](const std::string& options, const std::string& to) {
    shell("qemu-img convert " + options + " " + test::q(disk_) + " " + test::q(path(to)));
  };
  const auto refused = [&](const std::string& image, const std::string& why) {
    const test::CommandResult r = run({path(image), "-rawscan", "-quiet"});
    EXPECT_EQ(std::pair(r.status, r.err), std::pair(255, "invalid image: " + path(image) + "\n  " + why + "\n"));
  };
  fs::create_directories(dir_ / "children");
  struct Chain { std::string child, recorded; };  // recorded: the parent's name in the message
  std::vector<Chain> chains;
  if (vhdi_support_available()) {
    // VHD: the child beside its parent. VHDX: the child one folder down.
    convert("-O vpc", "parent.vhd");
    shell("qemu-img create -f vpc " + test::q(path("child.vhd")) + " $(qemu-img info --output=json " +
          test::q(path("parent.vhd")) + " | jq '.\"virtual-size\"')");
    write_sample("vpc", "child.vhd");
    test::make_vhd_child(path("child.vhd"), path("parent.vhd"), ".\\parent.vhd", {{kFreeOffset, sample_size}});
    chains.push_back({path("child.vhd"), ".\\parent.vhd"});
    convert("-O vhdx", "parent.vhdx");
    shell("qemu-img create -f vhdx -o block_size=1M " + test::q(path("children/child.vhdx")) + " 10M");
    write_sample("vhdx", "children/child.vhdx");
    test::make_vhdx_child(path("children/child.vhdx"), path("parent.vhdx"), "..\\parent.vhdx");
    chains.push_back({path("children/child.vhdx"), "..\\parent.vhdx"});

    shell("qemu-img create -f vhdx " + test::q(path("self.vhdx")) + " 10M");
    test::make_vhdx_child(path("self.vhdx"), path("self.vhdx"), ".\\self.vhdx");
    refused("self.vhdx", path("self.vhdx") + " names itself as its parent disk");
  }
  if (qcow_support_available()) {
    // The backing file recorded by its absolute path, found beside the child.
    convert("-O qcow2", "children/base.qcow2");
    shell("qemu-img create -f qcow2 -F qcow2 -b " + test::q(path("children/base.qcow2")) + " " +
          test::q(path("children/child.qcow2")));
    write_sample("qcow2", "children/child.qcow2");
    fs::create_directories(dir_ / "moved");
    for (const char* name : {"base.qcow2", "child.qcow2"})
      fs::copy_file(dir_ / "children" / name, dir_ / "moved" / name);
    chains.push_back({path("moved/child.qcow2"), path("children/base.qcow2")});

    // a and b each the backing file of the other.
    shell("cd " + test::q(dir_) + " && qemu-img create -f qcow2 -F qcow2 -b moved/base.qcow2 a.qcow2" +
          " && qemu-img create -f qcow2 -F qcow2 -b a.qcow2 b.qcow2 && qemu-img rebase -u -F qcow2 -b b.qcow2 a.qcow2");
    refused("b.qcow2",
            "the chain loops: " + path("a.qcow2") + " names " + path("b.qcow2") + ", which is already in it");
  }
  for (const Chain& chain : chains) {
    EXPECT_EQ(scan({chain.child, "-ntfs_scan", "-offset", offset_}), records_) << chain.child;
    std::vector<std::string> with_write = scan({chain.child, "-rawscan"});
    ASSERT_EQ(with_write.size(), carved_.size() + 1) << chain.child;
    EXPECT_TRUE(test::contains(with_write.back(), "(carved - 0x" + hex_lower(kFreeOffset, 8) + ")"))
        << with_write.back();
    with_write.pop_back();
    EXPECT_EQ(with_write, carved_);

    // Two folders down: "..\\" does not lead back to the parent.
    const std::string folder = "alone/" + std::to_string(&chain - chains.data()) + "/";
    fs::create_directories(path(folder));
    const std::string alone = path(folder + fs::path(chain.child).filename().string());
    fs::copy_file(chain.child, alone);
    const test::CommandResult missing = run({alone, "-ntfs_scan", "-offset", offset_, "-quiet"});
    EXPECT_EQ(missing.status, 255);
    EXPECT_TRUE(test::contains(missing.err, "invalid image: " + alone + "\n  ")) << missing.err;
    EXPECT_TRUE(test::contains(missing.err, " of " + alone + " not found: " + chain.recorded + " (looked for "))
        << missing.err;
  }
  if (vhdi_support_available()) {
    shell("qemu-img create -f vpc " + test::q(path("alone/0/parent.vhd")) + " 10M");
    const std::string child = path("alone/0/child.vhd");
    refused("alone/0/child.vhd", path("alone/0/parent.vhd") + " is not the parent disk of " + child +
                                     ": its identifier differs from the one " + child + " keeps");
  }
}

// -partition on POSIX takes a block device: a loop device over a fixture
// volume reads as the image does (read-only, whole sectors), and so does a
// partition of a looped disk, at its offsets on the disk. Under a name sysfs
// does not know, where the device starts cannot be read: the run says so
// once and counts from the device's start.
class BlockDevice : public test::ScratchDirTest {};

TEST_F(BlockDevice, ReadsAsTheImage) {
  if (::geteuid() != 0 || !test::have_tools({"losetup", "sfdisk"}))
    GTEST_SKIP() << "a loop device needs root, losetup and sfdisk";
  ASSERT_TRUE(test::unpack_ntfs_fixtures(dir_));
  const std::string volume = (dir_ / "ntfs_small.img").string(), disk = (dir_ / "disk.img").string();
  ASSERT_EQ(test::shell("truncate -s 16M " + test::q(disk) + " && echo 'start=2048, type=7' | sfdisk -q " +
                        test::q(disk) + " && dd if=" + test::q(volume) + " of=" + test::q(disk) +
                        " bs=512 seek=2048 conv=notrunc status=none").status, 0);
  const auto rows = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"-csv", "-quiet"});
    const test::CommandResult r = run(args);
    return std::make_pair(rows_without_source(r.out), r.err);
  };
  const auto loop = [](const std::string& options, const std::string& file) {
    const std::string device = test::shell("losetup -f --show -r " + options + test::q(file)).out;
    return device.substr(0, device.find('\n'));
  };
  const std::vector<std::string> from_image = rows({volume, "-ntfs_scan"}).first;
  EXPECT_GE(from_image.size(), 10u);
  const std::string device = loop("", volume);
  if (device.rfind("/dev/", 0) != 0) GTEST_SKIP() << "no loop device available";
  const auto from_device = rows({"-partition", device});
  const std::string alias = (dir_ / "volume_node").string();
  const bool aliased = test::shell("mknod " + test::q(alias) + " b $(stat -c '0x%t 0x%T' " + device + ")").status == 0;
  const auto unknown = rows({"-partition", alias});
  test::shell("losetup -d " + device);
  EXPECT_EQ(from_device.first, from_image);
  if (aliased) {
    EXPECT_EQ(unknown.first, from_image);
    const std::string note = "the start of " + alias + " on its disk cannot be read from /sys/class/block/volume_node/"
                             "start; offsets are counted from the start of " + alias + "\n";
    EXPECT_NE(unknown.second.find(note), std::string::npos) << unknown.second;
    EXPECT_EQ(unknown.second.find(note), unknown.second.rfind(note));
  }

  const std::string whole = loop("-P ", disk);
  if (whole.rfind("/dev/", 0) != 0) return;
  test::shell("udevadm settle");
  if (fs::exists(whole + "p1")) {
    EXPECT_EQ(rows({"-partition", whole + "p1"}), std::pair(rows({disk, "-ntfs_scan"}).first, std::string()));
  } else {
    std::cout << "the kernel lists no partitions of " << whole << "; -partition on one not tried\n";
  }
  test::shell("losetup -d " + whole);
}

}  // namespace
}  // namespace lnk
