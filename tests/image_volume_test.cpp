#include "images/image_volume.h"

#include <gtest/gtest.h>

#include <sstream>

#include "cmdline/partition_listing.h"
#include "images/image_open.h"
#include "platform/text.h"
#include "storage/disk_source.h"
#include "tests/image_test_support.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::have_tools;
using test::q;
using test::shell;

// One partition row of an independent tool.
struct Row {
  uint64_t start = 0, sectors = 0;
  std::string type;  // MBR id in hex, or GPT type GUID in lower case
  bool operator==(const Row&) const = default;
};

std::vector<Row> fdisk_rows(const fs::path& image, bool& gpt) {
  gpt = shell("fdisk -l " + q(image) + " | grep -q 'Disklabel type: gpt'").status == 0;
  const std::string columns = gpt ? "Start,Sectors,Type-UUID" : "Start,Sectors,Id";
  std::istringstream lines(shell("fdisk -l -o " + columns + " " + q(image)).out);
  std::vector<Row> rows;
  bool table = false;
  for (std::string line; std::getline(lines, line);) {
    if (trim_blanks(line).rfind("Start", 0) == 0) {
      table = true;
      continue;
    }
    Row row;
    std::istringstream fields(line);
    if (table && fields >> row.start >> row.sectors >> row.type) {
      row.type = to_lower_ascii(row.type);
      rows.push_back(row);
    }
  }
  return rows;
}

// mmls rows that are partitions (not tables, not unallocated space).
std::vector<std::pair<uint64_t, uint64_t>> mmls_rows(const fs::path& image) {
  std::istringstream lines(shell("mmls " + q(image)).out);
  std::vector<std::pair<uint64_t, uint64_t>> rows;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string index, slot;
    uint64_t start = 0, end = 0, length = 0;
    if (fields >> index >> slot >> start >> end >> length && slot != "Meta" && slot != "-------")
      rows.emplace_back(start, length);
  }
  return rows;
}

bool sleuthkit_says_ntfs(const fs::path& image, uint64_t start) {
  return shell("fsstat -t -o " + std::to_string(start) + " " + q(image)).out.rfind("ntfs", 0) == 0;
}

// The OEM id of an NTFS boot sector at the sector, as dd reads it.
bool boot_sector_says_ntfs(const fs::path& image, uint64_t start) {
  return shell("dd if=" + q(image) + " bs=1 skip=" + std::to_string(start * 512 + 3) + " count=8 status=none").out ==
         "NTFS    ";
}

class CorpusDisks : public ::testing::TestWithParam<const char*> {};

// The table as fdisk and mmls read it, and the listing pointing at the last
// NTFS volume that sleuthkit recognises (in a partial copy, whose volumes
// lack their MFT, the last whose boot sector was copied), or taking the
// only one.
TEST_P(CorpusDisks, ListingMatchesFdiskAndMmls) {
  if (!have_tools({"fdisk", "mmls", "fsstat", "tar", "zcat"})) GTEST_SKIP() << "fdisk or sleuthkit missing";
  const test::ScratchDir scratch("corpus_disk");
  const fs::path& dir = scratch.path;
  const fs::path image = test::unpack_corpus_image(GetParam(), dir);
  if (image.empty()) GTEST_SKIP() << "corpus absent";
  const bool whole = std::string(GetParam()).find(".raw.gz") == std::string::npos;

  bool gpt = false;
  const std::vector<Row> expected = fdisk_rows(image, gpt);
  ASSERT_FALSE(expected.empty());
  DiskSource disk;
  ASSERT_TRUE(disk.open_image(image.string()));
  const ImageVolumeSearch search = find_image_volume(disk, 0);

  std::vector<Row> rows;
  std::vector<std::pair<uint64_t, uint64_t>> without_extended;
  for (const Partition& p : search.partitions) {
    if (p.unallocated) continue;
    rows.push_back({p.start_sector, p.sector_count, gpt ? guid_text(p.type_guid) : hex_lower(p.type & 0xFF, 1)});
    if (p.type != 0x05 && p.type != 0x0F) without_extended.emplace_back(p.start_sector, p.sector_count);
  }
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(without_extended, mmls_rows(image));

  std::string ntfs_line = "prob detecting ntfs partition\n";
  uint64_t ntfs_offset = 0, ntfs_end = 0;
  size_t ntfs_count = 0;
  for (const Row& row : expected) {
    const bool ntfs = whole ? sleuthkit_says_ntfs(image, row.start) : boot_sector_says_ntfs(image, row.start);
    if (!ntfs) continue;
    ++ntfs_count;
    ntfs_offset = row.start * 512;
    ntfs_end = (row.start + row.sectors) * 512;
    ntfs_line = "use option [-offset 0x" + hex_lower(ntfs_offset, 1) + "]\n";
  }
  // The only NTFS volume is taken, when the image holds all of it.
  const bool sole = ntfs_count == 1 && ntfs_end <= fs::file_size(image);
  if (sole) ntfs_line = "scanning the only NTFS partition, at 0x" + hex_lower(ntfs_offset, 1) + "\n";
  if (ntfs_count == 1 && !sole)
    ntfs_line = "volume offset 0x" + hex_lower(ntfs_offset, 1) +
                " is a NTFS partition, however image size does not encapsulate entire volume\n";
  const std::string text = render_volume_search(search);
  EXPECT_EQ(search.success, sole);
  if (ntfs_count == 1) {
    EXPECT_EQ(search.volume_offset, ntfs_offset);
  }
  ASSERT_GE(text.size(), ntfs_line.size() + 2);
  EXPECT_EQ(text.substr(text.size() - ntfs_line.size() - 1), "\n" + ntfs_line) << text;
  size_t lines = 0;
  for (const Partition& p : search.partitions) {
    const std::string line = render_partition_line(p);
    EXPECT_NE(text.find("\n" + line), std::string::npos) << line;
    lines += 1;
  }
  EXPECT_EQ(lines, search.partitions.size());
  if (ntfs_offset != 0) {
    const ImageVolumeSearch chosen = find_image_volume(disk, ntfs_offset);
    EXPECT_TRUE(chosen.success);
    EXPECT_EQ(chosen.volume_offset, ntfs_offset);
    EXPECT_EQ(render_volume_search(chosen), "");
  }
}

INSTANTIATE_TEST_SUITE_P(Images, CorpusDisks,
                         ::testing::Values("dfir_ntfs/gpt-512-3p.raw.gz", "dfir_ntfs/mbr-win-512.raw.tgz",
                                           "dfir_ntfs/vss_1_vol.tar.gz", "dfir_ntfs/vss_2_stor.tar.gz",
                                           "dfir_ntfs/vss_3_volstor.tar.gz", "dfir_ntfs/vss_2003.tgz",
                                           "dfir_ntfs/ntfs_index.raw.gz", "ntfs-samples/ntfs-2m.raw.gz",
                                           "ntfs-samples/ntfs-lastaccess.raw.gz", "ntfs-samples/ntfs-ramslack.raw.gz",
                                           "ntfs-samples/ntfs-si-vs-fn.raw.gz", "ntfs-samples/ntfs.tgz",
                                           "tsk_volume_system.raw"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           name = name.substr(name.rfind('/') + 1);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

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
// sfdisk puts the extended entry in slot 1, NTFS in slot 2, the logical
// partitions in the chain.
const char* kExtendedFirst =
    "label: dos\nstart=2048, size=12288, type=5\nstart=14336, size=16384, type=7\nstart=4096, size=2048, type=83\n"
    "start=8192, size=4096, type=c\n";

const BuiltDisk kBuiltDisks[] = {
    // The only NTFS partition is taken without -offset, after the listing.
    {"one NTFS partition without -offset", kFatAndNtfs, 16, {10240}, 0, 0, true,
     "\nvolume offset [ 0x100000 ] : fat32\nvolume offset [ 0x500000 ] : ntfs\n\n"
     "scanning the only NTFS partition, at 0x500000\n"},
    {"NTFS partition chosen by -offset", kFatAndNtfs, 16, {10240}, 0, 0x500000, true, ""},
    // The walk stops at the chosen partition, so the NTFS one after it is
    // listed but was never seen.
    {"FAT32 chosen by -offset", kFatAndNtfs, 16, {10240}, 0, 0x100000, false,
     "volume offset selected 0x100000 is not a NTFS partition, but [fat32]\n"
     "\nvolume offset [ 0x100000 ] : fat32\nvolume offset [ 0x500000 ] : ntfs\n\nprob detecting ntfs partition\n"},
    {"-offset between partitions", kFatAndNtfs, 16, {10240}, 0, 0x200000, false,
     "\nvolume offset [ 0x100000 ] : fat32\nvolume offset [ 0x500000 ] : ntfs\n\nuse option [-offset 0x500000]\n"},
    {"truncated image cuts the chosen volume", kFatAndNtfs, 16, {10240}, 12u << 20, 0x500000, false,
     "volume offset 0x500000 is a NTFS partition, however image size does not encapsulate entire volume\n"},
    {"truncated image cuts the only NTFS volume", kFatAndNtfs, 16, {10240}, 12u << 20, 0, false,
     "\nvolume offset [ 0x100000 ] : fat32\nvolume offset [ 0x500000 ] : ntfs\n\n"
     "volume offset 0x500000 is a NTFS partition, however image size does not encapsulate entire volume\n"},
    {"truncated image before the volume starts", kFatAndNtfs, 16, {10240}, 4u << 20, 0, false,
     "volume offset 0x500000 is not within image bounds\n"
     "\nvolume offset [ 0x100000 ] : fat32\nvolume offset [ 0x500000 ] : ntfs\n\nuse option [-offset 0x500000]\n"},
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
  if (!have_tools({"sfdisk", "sgdisk", "truncate", "mmls"})) GTEST_SKIP() << "sfdisk, sgdisk or mmls missing";
  const test::ScratchDir scratch("built_disk");
  const fs::path& dir = scratch.path;
  const fs::path image = dir / "disk.img";
  ASSERT_EQ(shell("truncate -s " + std::to_string(c.size_mib) + "M " + q(image)).status, 0);
  const std::string layout = c.layout;
  if (layout.rfind("sgdisk:", 0) == 0) {
    ASSERT_EQ(shell("sgdisk " + layout.substr(7) + " " + q(image)).status, 0);
  } else if (!layout.empty()) {
    ASSERT_EQ(shell("printf '" + layout + "' | sfdisk -q " + q(image)).status, 0);
  }
  // The first bytes of an NTFS boot sector: jump, then the OEM id.
  for (uint64_t sector : c.ntfs_sectors) {
    ASSERT_EQ(shell("printf '\\353R\\220NTFS    ' | dd of=" + q(image) + " bs=512 seek=" + std::to_string(sector) +
                    " conv=notrunc status=none")
                  .status,
              0);
  }
  if (c.truncate_to != 0) {
    ASSERT_EQ(shell("truncate -s " + std::to_string(c.truncate_to) + " " + q(image)).status, 0);
  }
  DiskSource disk;
  ASSERT_TRUE(disk.open_image(image.string()));
  const ImageVolumeSearch search = find_image_volume(disk, c.offset);
  EXPECT_EQ(search.success, c.success);
  EXPECT_EQ(render_volume_search(search), c.text);
  // Every partition mmls names on the whole disk is found, in whatever slot
  // order (extended entries and guesses are not partitions to mmls).
  if (c.truncate_to != 0 || c.offset >= (c.size_mib << 20)) return;
  std::vector<std::pair<uint64_t, uint64_t>> found, listed = mmls_rows(image);
  for (const Partition& p : search.partitions)
    if (!p.unallocated && p.type != 0x05 && !(p.type & kPartitionTypeGuessed))
      found.emplace_back(p.start_sector, p.sector_count);
  std::sort(found.begin(), found.end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(found, listed);
  if (c.success) {
    EXPECT_EQ(search.volume_offset, c.ntfs_sectors.back() * 512);
  }
}

INSTANTIATE_TEST_SUITE_P(Edges, BuiltDisks, ::testing::ValuesIn(kBuiltDisks),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

TEST(ImageOpen, ContainersAreRecognisedByContent) {
  const uint8_t kdmv[] = {'K', 'D', 'M', 'V', 1, 0, 0, 0};
  const uint8_t evf[] = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
  const std::string descriptor = "# Disk DescriptorFile\nversion=1\n";
  const uint8_t mbr[] = {0xEB, 0x52, 0x90, 'N', 'T', 'F', 'S'};
  EXPECT_EQ(detect_image_container(kdmv), ImageContainer::vmware);
  EXPECT_EQ(detect_image_container(evf), ImageContainer::ewf);
  EXPECT_EQ(detect_image_container(
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(descriptor.data()), descriptor.size())),
            ImageContainer::vmware);
  EXPECT_EQ(detect_image_container(mbr), ImageContainer::raw);
  const uint8_t vhdx[] = {'v', 'h', 'd', 'x', 'f', 'i', 'l', 'e'};
  const uint8_t qcow[] = {'Q', 'F', 'I', 0xFB, 0, 0, 0, 3};
  EXPECT_EQ(detect_image_container(vhdx), ImageContainer::vhd);
  EXPECT_EQ(detect_image_container(qcow), ImageContainer::qcow);
  // A fixed VHD is a raw disk with a footer at its end: cookie and checksum.
  std::vector<uint8_t> footer(512, 0);
  std::copy_n("conectix", 8, footer.begin());
  footer[60 + 3] = 2;  // fixed
  footer[64] = 0xFF, footer[65] = 0xFF, footer[66] = 0xFC, footer[67] = 0xA0;  // ~(sum of the other bytes)
  EXPECT_EQ(detect_image_container(mbr, footer), ImageContainer::vhd);
  footer[100] = 1;
  EXPECT_EQ(detect_image_container(mbr, footer), ImageContainer::raw);

  const test::ScratchDir scratch("image_open");
  const fs::path& dir = scratch.path;
  const ImageOpenResult missing = open_image_by_content((dir / "absent.img").string());
  EXPECT_EQ(render_image_open_error(missing, "absent.img"), "invalid image: absent.img\n");
  // A VMware disk under any name opens as the virtual disk.
  const fs::path vmdk = test::corpus_images() / "vmdk-rs" / "monolithicSparse.vmdk";
  if (fs::exists(vmdk)) {
    fs::copy_file(vmdk, dir / "evidence.001");
    const ImageOpenResult opened = open_image_by_content((dir / "evidence.001").string());
    ASSERT_TRUE(opened.ok());
    EXPECT_EQ(opened.container, ImageContainer::vmware);
    EXPECT_EQ(opened.source->size(), 20480u * 512);
    ASSERT_NE(opened.disk_source(), nullptr);
    EXPECT_EQ(opened.disk_source()->kind(), kSourceVmdkChain);
    const ImageVolumeSearch search = find_image_volume(*opened.source, 0);
    EXPECT_TRUE(search.success);
    EXPECT_EQ(render_volume_search(search),
              "\nvolume offset [ 0x10000 ] : ntfs\n\nscanning the only NTFS partition, at 0x10000\n");
  }
}

}  // namespace
}  // namespace lnk
