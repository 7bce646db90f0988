// Where the NTFS volume of a disk starts: corpus disks and disks laid out by
// sfdisk and sgdisk, against fdisk and sleuthkit; containers told by content.
#include "images/image_volume.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cmdline/partition_listing.h"
#include "images/image_open.h"
#include "platform/text.h"
#include "storage/disk_source.h"
#include "tests/image_test_support.h"
#include "tests/ntfs_reference.h"

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
  std::istringstream lines(shell("fdisk -l -o Start,Sectors," + std::string(gpt ? "Type-UUID " : "Id ") + q(image)).out);
  std::vector<Row> rows;
  bool table = false;
  for (std::string line; std::getline(lines, line);) {
    Row row;
    std::istringstream fields(line);
    if (table && fields >> row.start >> row.sectors >> row.type) rows.push_back({row.start, row.sectors, to_lower_ascii(row.type)});
    table = table || trim_blanks(line).rfind("Start", 0) == 0;
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<Row> search_rows(const ImageVolumeSearch& search) {
  std::vector<Row> rows;
  for (const Partition& p : search.partitions)
    if (!p.unallocated && !(p.type & kPartitionTypeGuessed))
      rows.push_back({p.start_sector, p.sector_count, p.type_guid != Guid{} ? guid_text(p.type_guid) : hex_lower(p.type & 0xFF, 1)});
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
  EXPECT_EQ(std::tuple(chosen.success, chosen.volume_offset, render_volume_search(chosen)), std::tuple(true, ntfs.back(), ""));
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
    {"NTFS at sector 63 whose entry was lost", "label: dos\nstart=2048, size=4096, type=5\nstart=4096, size=1024, type=83\n",
     8, {63}, 0, 0, true,
     "\nvolume offset [ 0x100000 ] : extended\nvolume offset [ 0x200000 ] : linux native\n"
     "volume offset [ 0x7e00 ] : empty [guess]\n\nscanning the only NTFS partition, at 0x7e00\n"},
    {"NTFS type over another file system", "label: dos\nstart=2048, size=4096, type=7\nstart=8192, size=4096, type=83\n",
     8, {8192}, 0, 0, true,
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
     "\nvolume offset [ 0x4400 ] : unalloc\nvolume offset [ 0x100000 ] : unk\nvolume offset [ 0x500000 ] : unalloc\nvolume offset [ 0xa00000 ] : ntfs\n"
     "volume offset [ 0x1200000 ] : unalloc\n\nscanning the only NTFS partition, at 0xa00000\n"},
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

// Each container told by its first bytes; a fixed VHD, a raw disk with a
// footer, only by a footer whose checksum holds.
TEST(ImageOpen, ContainersAreRecognisedByContent) {
  const auto bytes = [](const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); };
  const std::vector<uint8_t> mbr = bytes("\xEBR\x90NTFS    ");
  EXPECT_EQ(detect_image_container(bytes(std::string("KDMV\1\0\0\0", 8))), ImageContainer::vmware);
  EXPECT_EQ(detect_image_container(bytes("# Disk DescriptorFile\nversion=1\n")), ImageContainer::vmware);
  EXPECT_EQ(detect_image_container(bytes(std::string("EVF\x09\x0D\x0A\xFF\0", 8))), ImageContainer::ewf);
  EXPECT_EQ(detect_image_container(bytes("vhdxfile")), ImageContainer::vhd);
  EXPECT_EQ(detect_image_container(bytes(std::string("QFI\xFB\0\0\0\3", 8))), ImageContainer::qcow);
  EXPECT_EQ(detect_image_container(mbr), ImageContainer::raw);
  std::vector<uint8_t> footer = bytes("conectix");
  footer.resize(512);
  footer[63] = 2;  // fixed
  footer[64] = 0xFF, footer[65] = 0xFF, footer[66] = 0xFC, footer[67] = 0xA0;  // ~(sum of the other bytes)
  EXPECT_EQ(detect_image_container(mbr, footer), ImageContainer::vhd);
  footer[100] = 1;
  EXPECT_EQ(detect_image_container(mbr, footer), ImageContainer::raw);
  EXPECT_EQ(render_image_open_error(open_image_by_content("/nonexistent/absent.img"), "absent.img"),
            "invalid image: absent.img\n");
}

}  // namespace
}  // namespace lnk
