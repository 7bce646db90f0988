// Where the NTFS volume of a disk starts: corpus disks and disks laid out by
// sfdisk and sgdisk, against fdisk and sleuthkit; containers told by content.
// Then one disk, many containers: shortcuts planted in the NTFS volume of a
// real VMware disk are found the same way in the raw disk, in the VMware,
// E01, VHD, VHDX and QCOW2 disks and split segments made from it (alone and
// as parents of differencing disks), and through a loop device.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cmdline/partition_listing.h"
#include "images/image_open.h"
#include "images/image_volume.h"
#include "platform/text.h"
#include "storage/disk_source.h"
#include "storage/ewf_source.h"
#include "tests/image_test_support.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"
#include "tests/text_lines.h"
#include "tests/vhd_child_builder.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::have_tools;
using test::q;
using test::shell;

// One partition row as fdisk lists it (extended entries included, the
// partitions a search only guessed not).
struct Row {
  uint64_t start = 0, sectors = 0;
  std::string type;  // MBR id in hex, or GPT type GUID in lower case
  auto operator<=>(const Row&) const = default;
};

std::vector<Row> fdisk_rows(const fs::path& image) {
  const bool gpt = shell("fdisk -l " + q(image) + " | grep -q 'Disklabel type: gpt'").status == 0;
  const std::string columns = gpt ? "Start,Sectors,Type-UUID " : "Start,Sectors,Id ";
  std::istringstream lines(shell("fdisk -l -o " + columns + q(image)).out);
  std::vector<Row> rows;
  bool table = false;
  for (std::string line; std::getline(lines, line);) {
    Row row;
    std::istringstream fields(line);
    if (table && fields >> row.start >> row.sectors >> row.type)
      rows.push_back({row.start, row.sectors, to_lower_ascii(row.type)});
    table = table || trim_blanks(line).rfind("Start", 0) == 0;
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<Row> search_rows(const ImageVolumeSearch& search) {
  std::vector<Row> rows;
  for (const Partition& p : search.partitions)
    if (!p.unallocated && !(p.type & kPartitionTypeGuessed))
      rows.push_back({p.start_sector, p.sector_count,
                      p.type_guid != Guid{} ? guid_text(p.type_guid) : hex_lower(p.type & 0xFF, 1)});
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string test_name(std::string name) {
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

// The corpus disk below the images folder; unpacked, it keeps its name up to
// the first dot, with ".raw".
class CorpusDisks : public ::testing::TestWithParam<const char*> {};

std::string raw_name(const std::string& archive) {
  const std::string name = fs::path(archive).filename().string();
  return name.substr(0, name.find('.')) + ".raw";
}

// The table as fdisk reads it, and the NTFS volume taken.
TEST_P(CorpusDisks, ListingMatchesFdisk) {
  if (!have_tools({"fdisk"})) GTEST_SKIP() << "fdisk missing";
  const std::string archive = GetParam(), raw = raw_name(archive);
  const test::ScratchDir scratch("corpus_disk");
  fs::path image = archive.ends_with(".raw") ? test::corpus_images() / archive
                                             : test::corpus_raw_image("images/" + archive, raw);
  // An uncompressed tar, which the shared unpacking does not take.
  if (image.empty() && shell("tar -xf " + q(test::corpus_images() / archive) + " -C " + q(scratch.path)).status == 0)
    image = scratch.path / raw;
  if (!fs::exists(image)) GTEST_SKIP() << "corpus absent";
  DiskSource disk;
  ASSERT_TRUE(disk.open_image(image.string()));
  const ImageVolumeSearch search = find_image_volume(disk, 0);
  const std::vector<Row> expected = fdisk_rows(image);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(search_rows(search), expected);

  // Taken without -offset only when one partition holds an NTFS boot sector
  // (its OEM id as dd reads it); the built disks check what is said.
  std::vector<uint64_t> ntfs;
  for (const Row& row : expected)
    if (shell("dd if=" + q(image) + " bs=1 count=8 status=none skip=" + std::to_string(row.start * 512 + 3)).out ==
        "NTFS    ")
      ntfs.push_back(row.start * 512);
  EXPECT_EQ(search.success, ntfs.size() == 1);
  if (ntfs.empty()) return;
  EXPECT_TRUE(!search.success || search.volume_offset == ntfs[0]) << search.volume_offset;
  const ImageVolumeSearch chosen = find_image_volume(disk, ntfs.back());
  EXPECT_EQ(std::tuple(chosen.success, chosen.volume_offset, render_volume_search(chosen)),
            std::tuple(true, ntfs.back(), ""));
}

INSTANTIATE_TEST_SUITE_P(Images, CorpusDisks,
                         ::testing::Values("dfir_ntfs/gpt-512-3p.raw.gz", "dfir_ntfs/mbr-win-512.raw.tgz",
                                           "dfir_ntfs/vss_1_vol.tar.gz", "dfir_ntfs/vss_2_stor.tar.gz",
                                           "dfir_ntfs/vss_3_volstor.tar.gz", "dfir_ntfs/vss_2003.tgz",
                                           "dfir_ntfs/ntfs_index.raw.gz", "ntfs-samples/ntfs-2m.raw.gz",
                                           "ntfs-samples/ntfs-lastaccess.raw.gz", "ntfs-samples/ntfs-ramslack.raw.gz",
                                           "ntfs-samples/ntfs-si-vs-fn.raw.gz", "ntfs-samples/ntfs.tgz",
                                           "tsk_volume_system.raw"),
                         [](const auto& info) { return test_name(raw_name(info.param)); });

// Disks laid out by sfdisk or sgdisk on a sparse file, with the OEM id of
// NTFS written where a volume would start.
struct BuiltDisk {
  const char* name;
  const char* layout;     // sfdisk script, or sgdisk arguments after "sgdisk:"
  uint64_t size_mib;
  std::vector<uint64_t> ntfs_sectors;
  uint64_t truncate_to;   // bytes, 0 to keep
  uint64_t offset;        // the user's -offset
  bool success;
  std::string text;
};

void PrintTo(const BuiltDisk& disk, std::ostream* out) { *out << disk.name; }

const char* kFatAndNtfs = "label: dos\nstart=2048, size=8192, type=c\nstart=10240, size=20480, type=7\n";
const std::string kFatAndNtfsListing = "\nvolume offset [ 0x100000 ] : fat32\nvolume offset [ 0x500000 ] : ntfs\n\n";
const std::string kCutVolume = "volume offset 0x500000 is a NTFS partition, however image size does not encapsulate "
                               "entire volume\n";
// sfdisk puts the extended entry in slot 1, NTFS in slot 2, the logical
// partitions in the chain.
const char* kExtendedFirst =
    "label: dos\nstart=2048, size=12288, type=5\nstart=14336, size=16384, type=7\nstart=4096, size=2048, type=83\n"
    "start=8192, size=4096, type=c\n";

const BuiltDisk kBuiltDisks[] = {
    {"one NTFS partition without -offset", kFatAndNtfs, 16, {10240}, 0, 0, true,
     kFatAndNtfsListing + "scanning the only NTFS partition, at 0x500000\n"},
    // The walk stops at the chosen partition, so the NTFS one after it is
    // listed but was never seen.
    {"FAT32 chosen by -offset", kFatAndNtfs, 16, {10240}, 0, 0x100000, false,
     "volume offset selected 0x100000 is not a NTFS partition, but [fat32]\n" + kFatAndNtfsListing +
         "prob detecting ntfs partition\n"},
    {"-offset between partitions", kFatAndNtfs, 16, {10240}, 0, 0x200000, false,
     kFatAndNtfsListing + "use option [-offset 0x500000]\n"},
    {"truncated image cuts the chosen volume", kFatAndNtfs, 16, {10240}, 12u << 20, 0x500000, false, kCutVolume},
    {"truncated image cuts the only NTFS volume", kFatAndNtfs, 16, {10240}, 12u << 20, 0, false,
     kFatAndNtfsListing + kCutVolume},
    {"truncated image before the volume starts", kFatAndNtfs, 16, {10240}, 4u << 20, 0, false,
     "volume offset 0x500000 is not within image bounds\n" + kFatAndNtfsListing + "use option [-offset 0x500000]\n"},
    {"-offset beyond the image", kFatAndNtfs, 16, {10240}, 0, 0x7000000, false,
     "volume offset 0x7000000 is not within image bounds\n"},
    {"two NTFS volumes: the last one is suggested",
     "label: dos\nstart=2048, size=4096, type=7\nstart=8192, size=4096, type=7\n", 8, {2048, 8192}, 0, 0, false,
     "\nvolume offset [ 0x100000 ] : ntfs\nvolume offset [ 0x400000 ] : ntfs\n\nuse option [-offset 0x400000]\n"},
    {"extended chain of Linux partitions",
     "label: dos\nstart=2048, size=2048, type=83\nstart=4096, size=8192, type=5\nstart=6144, size=2048, type=82\n"
     "start=10240, size=1024, type=8e\n",
     8, {}, 0, 0, false,
     "\nvolume offset [ 0x100000 ] : linux native\nvolume offset [ 0x200000 ] : extended\n"
     "volume offset [ 0x300000 ] : linux swap\nvolume offset [ 0x500000 ] : linux Logical Volume Mgr\n\n"
     "prob detecting ntfs partition\n"},
    // Told by its boot sector, not by the type its table gives.
    {"NTFS at sector 63 whose entry was lost",
     "label: dos\nstart=2048, size=4096, type=5\nstart=4096, size=1024, type=83\n", 8, {63}, 0, 0, true,
     "\nvolume offset [ 0x100000 ] : extended\nvolume offset [ 0x200000 ] : linux native\n"
     "volume offset [ 0x7e00 ] : empty [guess]\n\nscanning the only NTFS partition, at 0x7e00\n"},
    {"NTFS type over another file system",
     "label: dos\nstart=2048, size=4096, type=7\nstart=8192, size=4096, type=83\n", 8, {8192}, 0, 0, true,
     "\nvolume offset [ 0x100000 ] : ntfs\nvolume offset [ 0x400000 ] : linux native\n\n"
     "scanning the only NTFS partition, at 0x400000\n"},
    {"table without partitions", "label: dos\n", 8, {}, 0, 0, false, "couldn't find any partitions on disk.\n"},
    {"NTFS primary in the slot after the extended entry", kExtendedFirst, 16, {14336}, 0, 0, true,
     "\nvolume offset [ 0x100000 ] : extended\nvolume offset [ 0x200000 ] : linux native\n"
     "volume offset [ 0x400000 ] : fat32\nvolume offset [ 0x700000 ] : ntfs\n\n"
     "scanning the only NTFS partition, at 0x700000\n"},
    {"raw NTFS volume", "", 8, {0}, 0, 0, true, ""},
    {"neither a table nor a volume", "", 8, {}, 0, 0, false, "couldn't find any partitions on disk\n"},
    {"GPT with reserved and NTFS partitions",
     "sgdisk:-n 1:2048:+4M -t 1:0C01 -n 2:20480:+8M -t 2:0700", 32, {20480}, 0, 0, true,
     "\nvolume offset [ 0x4400 ] : unalloc\nvolume offset [ 0x100000 ] : unk\nvolume offset [ 0x500000 ] : unalloc\n"
     "volume offset [ 0xa00000 ] : ntfs\nvolume offset [ 0x1200000 ] : unalloc\n\n"
     "scanning the only NTFS partition, at 0xa00000\n"},
};

class BuiltDisks : public ::testing::TestWithParam<BuiltDisk> {};

TEST_P(BuiltDisks, SearchTellsWhichOffsetToUse) {
  const BuiltDisk& c = GetParam();
  if (!have_tools({"sfdisk", "sgdisk", "fdisk"})) GTEST_SKIP() << "sfdisk, sgdisk or fdisk missing";
  const test::ScratchDir scratch("built_disk");
  const fs::path image = scratch.path / "disk.img";
  const std::string layout = c.layout;
  std::string script = "truncate -s " + std::to_string(c.size_mib) + "M " + q(image);
  if (layout.rfind("sgdisk:", 0) == 0) script += " && sgdisk " + layout.substr(7) + " " + q(image);
  if (!layout.empty() && layout[0] != 's') script += " && printf '" + layout + "' | sfdisk -q " + q(image);
  // The first bytes of an NTFS boot sector: jump, then the OEM id.
  for (uint64_t sector : c.ntfs_sectors)
    script += " && printf '\\353R\\220NTFS    ' | dd of=" + q(image) + " conv=notrunc status=none bs=512 seek=" +
              std::to_string(sector);
  if (c.truncate_to != 0) script += " && truncate -s " + std::to_string(c.truncate_to) + " " + q(image);
  ASSERT_EQ(shell(script).status, 0) << script;
  DiskSource disk;
  ASSERT_TRUE(disk.open_image(image.string()));
  const ImageVolumeSearch search = find_image_volume(disk, c.offset);
  EXPECT_EQ(search.success, c.success);
  EXPECT_EQ(render_volume_search(search), c.text);
  EXPECT_TRUE(!c.success || search.volume_offset == c.ntfs_sectors.back() * 512) << search.volume_offset;
  // Every partition fdisk names on the whole disk is found, in whatever slot order.
  if (c.truncate_to == 0 && c.offset < (c.size_mib << 20)) {
    EXPECT_EQ(search_rows(search), fdisk_rows(image));
  }
}

INSTANTIATE_TEST_SUITE_P(Edges, BuiltDisks, ::testing::ValuesIn(kBuiltDisks),
                         [](const auto& info) { return test_name(info.param.name); });

// A fixed VHD, a raw disk with a footer, is told only by a footer whose
// checksum holds (the containers told by their first bytes are made below).
TEST(ImageOpen, FixedVhdToldByAFooterWhoseChecksumHolds) {
  const std::vector<uint8_t> mbr = {0xEB, 'R', 0x90, 'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
  EXPECT_EQ(detect_image_container(mbr), ImageContainer::raw);
  std::vector<uint8_t> footer = {'c', 'o', 'n', 'e', 'c', 't', 'i', 'x'};
  footer.resize(512);
  footer[63] = 2;  // fixed
  footer[64] = 0xFF, footer[65] = 0xFF, footer[66] = 0xFC, footer[67] = 0xA0;  // ~(sum of the other bytes)
  EXPECT_EQ(detect_image_container(mbr, footer), ImageContainer::vhd);
  footer[100] = 1;
  EXPECT_EQ(detect_image_container(mbr, footer), ImageContainer::raw);
  EXPECT_EQ(render_image_open_error(open_image_by_content("/nonexistent/absent.img"), "absent.img"),
            "invalid image: absent.img\n");
}

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
    if (!have_tools({"qemu-img", "qemu-io", "ntfscp"})) GTEST_SKIP() << "qemu-utils and ntfs-3g are needed";
    const fs::path corpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus";
    const fs::path vmdk = corpus / "images" / "vmdk-rs" / "monolithicSparse.vmdk";
    if (!fs::exists(vmdk)) GTEST_SKIP() << "corpus absent";
    disk_ = path("disk.raw");
    const std::string volume = q(path("volume.raw")), disk = q(disk_);
    const std::string list = "9d1f905ce5044aee.automaticDestinations-ms";
    // Out of the disk, into the volume, and back.
    shell("qemu-img convert -O raw " + q(vmdk) + " " + disk + " && dd if=" + disk + " of=" + volume +
          " bs=512 skip=128 count=18304 status=none && ntfscp " + volume + " " + q(sample_) + " /planted.lnk" +
          " && ntfscp " + volume + " " + q(corpus / "jumplists" / ("plaso_" + list)) + " /" + list +
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
      {"fixed.vhd", "qemu-img convert -O vpc -o subformat=fixed disk.raw fixed.vhd", nullptr, true},
      {"dynamic.vhd", "qemu-img convert -O vpc disk.raw dynamic.vhd", nullptr, true},
      {"disk.vhdx", "qemu-img convert -O vhdx disk.raw disk.vhdx", nullptr, true},
      {"plain.qcow2", "qemu-img convert -O qcow2 disk.raw plain.qcow2", nullptr, false},
      {"packed.qcow2", "qemu-img convert -O qcow2 -c disk.raw packed.qcow2", nullptr, false},
      {"segments.001", "split -b 7M -d -a 3 disk.raw segments. && mv segments.001 segments.002 && "
                       "mv segments.000 segments.001", nullptr, true},
  };
  for (const auto& c : containers) {
    const std::string maker = std::string(c.make).substr(0, std::string(c.make).find(' '));
    if (!have_tools({maker})) continue;
    shell("cd " + q(dir_) + " && " + c.make);
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

// The volume of a disk is chosen by one rule, whatever holds the disk:
// -vmdk on a GPT disk whose NTFS partition follows another finds it as the
// image named alone does; with an EFI partition first and two NTFS ones it
// lists them as the image does; an -offset where an NTFS boot sector is
// is taken though no partition lists it (a deleted one).
TEST_F(ImageScan, VolumeChoiceIsOneRuleForImagesAndVmdkSets) {
  if (!have_tools({"sgdisk"})) GTEST_SKIP() << "sgdisk is needed";
  shell("cd " + q(dir_) + " && truncate -s 16M gpt.raw && sgdisk -n 1:2048:+1M -t 1:8300 -n 2:4096:+18304"
        " -t 2:0700 gpt.raw >/dev/null && dd if=volume.raw of=gpt.raw bs=512 seek=4096 conv=notrunc status=none"
        " && qemu-img convert -O vmdk gpt.raw gpt.vmdk && truncate -s 16M none.raw && sgdisk -n 1:2048:+1M"
        " none.raw >/dev/null && qemu-img convert -O vmdk none.raw none.vmdk && truncate -s 32M two.raw"
        " && sgdisk -n 1:2048:+1M -t 1:ef00 -n 2:4096:+18304 -t 2:0700 -n 3:24576:+18304 -t 3:0700 two.raw >/dev/null"
        " && for at in 4096 24576; do dd if=volume.raw of=two.raw bs=512 seek=$at conv=notrunc status=none; done"
        " && qemu-img convert -O vmdk two.raw two.vmdk && cp disk.raw deleted.raw"
        " && dd if=/dev/zero of=deleted.raw bs=1 seek=446 count=64 conv=notrunc status=none");
  const std::vector<std::string> found = scan({"-vmdk", path("gpt.vmdk")});
  EXPECT_EQ(found.size(), records_.size());
  EXPECT_EQ(found, scan({path("gpt.vmdk"), "-ntfs_scan"}));
  for (const char* disk : {"none.vmdk", "two.vmdk"}) {
    const test::CommandResult named = run({path(disk), "-ntfs_scan", "-quiet"});
    const test::CommandResult listed = run({"-vmdk", path(disk), "-quiet"});
    EXPECT_EQ(std::pair(listed.status, listed.err), std::pair(255, "defaulting to -ntfs_scan option\n" + named.err));
  }
  const std::string third = std::to_string(24576 * 512);
  EXPECT_EQ(scan({"-vmdk", path("two.vmdk"), "-offset", third}), scan({path("two.vmdk"), "-ntfs_scan", "-offset", third}));
  EXPECT_EQ(scan({path("deleted.raw"), "-ntfs_scan", "-offset", offset_}), records_);
  // An offset that holds nothing is said so, not replaced by a volume found elsewhere.
  for (const char* disk : {"deleted.raw", "volume.raw"}) {
    const test::CommandResult r = run({path(disk), "-ntfs_scan", "-offset", "0x1000", "-quiet"});
    EXPECT_EQ(std::pair(r.status, r.err), std::pair(255, std::string("volume offset 0x1000 holds no NTFS volume: no partition "
                                                                     "starts there and no NTFS boot sector is there\n"))) << disk;
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
          std::to_string(sample_size) + "' " + q(path(disk)));
  };
  const auto convert = [&](const std::string& options, const std::string& to) {
    shell("qemu-img convert " + options + " " + q(disk_) + " " + q(path(to)));
  };
  const auto refused = [&](const std::string& image, const std::string& why) {
    const test::CommandResult r = run({path(image), "-rawscan", "-quiet"});
    EXPECT_EQ(std::pair(r.status, r.err), std::pair(255, "invalid image: " + path(image) + "\n  " + why + "\n"));
  };
  fs::create_directories(dir_ / "children");
  struct Chain { std::string child, recorded; };  // recorded: the parent's name in the message
  std::vector<Chain> chains;
  {
    // VHD: the child beside its parent. VHDX: the child one folder down.
    convert("-O vpc", "parent.vhd");
    shell("qemu-img create -f vpc " + q(path("child.vhd")) + " $(qemu-img info --output=json " +
          q(path("parent.vhd")) + " | jq '.\"virtual-size\"')");
    write_sample("vpc", "child.vhd");
    test::make_vhd_child(path("child.vhd"), path("parent.vhd"), ".\\parent.vhd", {{kFreeOffset, sample_size}});
    chains.push_back({path("child.vhd"), ".\\parent.vhd"});
    convert("-O vhdx", "parent.vhdx");
    shell("qemu-img create -f vhdx -o block_size=1M " + q(path("children/child.vhdx")) + " 10M");
    write_sample("vhdx", "children/child.vhdx");
    test::make_vhdx_child(path("children/child.vhdx"), path("parent.vhdx"), "..\\parent.vhdx");
    chains.push_back({path("children/child.vhdx"), "..\\parent.vhdx"});

    shell("qemu-img create -f vhdx " + q(path("self.vhdx")) + " 10M");
    test::make_vhdx_child(path("self.vhdx"), path("self.vhdx"), ".\\self.vhdx");
    refused("self.vhdx", path("self.vhdx") + " names itself as its parent disk");
  }
  {
    // The backing file recorded by its absolute path, found beside the child.
    convert("-O qcow2", "children/base.qcow2");
    shell("qemu-img create -f qcow2 -F qcow2 -b " + q(path("children/base.qcow2")) + " " +
          q(path("children/child.qcow2")));
    write_sample("qcow2", "children/child.qcow2");
    fs::create_directories(dir_ / "moved");
    for (const char* name : {"base.qcow2", "child.qcow2"})
      fs::copy_file(dir_ / "children" / name, dir_ / "moved" / name);
    chains.push_back({path("moved/child.qcow2"), path("children/base.qcow2")});

    // Three levels, 64 KiB cluster i held by level i mod 3, junk under it.
    shell("cd " + q(dir_) + " && python3 -c \"import sys; d=open('disk.raw','rb').read()\n"
          "for k in (0, 1):\n"
          " b=bytearray(d)\n"
          " for c in range(len(d)>>16):\n"
          "  if c%3>k: b[c<<16:(c+1)<<16]=bytes([c%251+1])*65536\n"
          " open('level%d.raw'%k,'wb').write(b)\""
          " && qemu-img convert -O qcow2 level0.raw level0.qcow2 && qemu-img convert -O qcow2 -F qcow2"
          " -B level0.qcow2 level1.raw level1.qcow2 && qemu-img convert -O qcow2 -F qcow2 -B level1.qcow2 disk.raw"
          " level2.qcow2");
    write_sample("qcow2", "level2.qcow2");
    chains.push_back({path("level2.qcow2"), "level1.qcow2"});

    // a and b each the backing file of the other.
    shell("cd " + q(dir_) + " && qemu-img create -f qcow2 -F qcow2 -b moved/base.qcow2 a.qcow2" +
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
  {
    shell("qemu-img create -f vpc " + q(path("alone/0/parent.vhd")) + " 10M");
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
  if (::geteuid() != 0 || !have_tools({"losetup", "sfdisk"}))
    GTEST_SKIP() << "a loop device needs root, losetup and sfdisk";
  ASSERT_TRUE(test::unpack_ntfs_fixtures(dir_));
  const std::string volume = (dir_ / "ntfs_small.img").string(), disk = (dir_ / "disk.img").string();
  ASSERT_EQ(test::shell("truncate -s 16M " + q(disk) + " && echo 'start=2048, type=7' | sfdisk -q " +
                        q(disk) + " && dd if=" + q(volume) + " of=" + q(disk) +
                        " bs=512 seek=2048 conv=notrunc status=none").status, 0);
  const auto rows = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"-csv", "-quiet"});
    const test::CommandResult r = run(args);
    return std::make_pair(rows_without_source(r.out), r.err);
  };
  const auto loop = [](const std::string& options, const std::string& file) {
    const std::string device = test::shell("losetup -f --show -r " + options + q(file)).out;
    return device.substr(0, device.find('\n'));
  };
  const std::vector<std::string> from_image = rows({volume, "-ntfs_scan"}).first;
  EXPECT_GE(from_image.size(), 10u);
  const std::string device = loop("", volume);
  if (device.rfind("/dev/", 0) != 0) GTEST_SKIP() << "no loop device available";
  const auto from_device = rows({"-partition", device});
  const std::string alias = (dir_ / "volume_node").string();
  const bool aliased = test::shell("mknod " + q(alias) + " b $(stat -c '0x%t 0x%T' " + device + ")").status == 0;
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
