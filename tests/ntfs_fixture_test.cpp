// The NTFS layer on volumes made by mkntfs and ntfs-3g
// (tests/data/make_ntfs_fixtures.sh; the images are committed, packed), and
// against sleuthkit's view of the same images.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "ntfs/file_data.h"
#include "ntfs/mft_entry.h"
#include "ntfs/path_lookup.h"
#include "ntfs/record_summary.h"
#include "ntfs/shadow_catalog.h"
#include "storage/memory_source.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> sample_lnk() {
  const std::string bytes = test::slurp(fs::path(ROOK_SOURCE_DIR) / "tests" / "data" / "sample.lnk");
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// The sample shortcut, then zeros up to size.
std::vector<uint8_t> padded_sample(size_t size, size_t at = 0) {
  std::vector<uint8_t> out(size, 0);
  const std::vector<uint8_t> sample = sample_lnk();
  std::copy(sample.begin(), sample.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  return out;
}

class NtfsFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::make_scratch_dir("ntfs");
    if (!test::unpack_ntfs_fixtures(dir_)) GTEST_SKIP() << "tar with xz is needed to unpack the fixture volumes";
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string image(const char* name) const { return (dir_ / name).string(); }
  uint64_t entry_of(NtfsVolume& volume, const std::string& path) {
    uint64_t entry = 0;
    EXPECT_TRUE(lookup_path(volume, path, entry)) << path;
    return entry;
  }
  // A copy of the small volume in memory, to edit.
  std::vector<uint8_t> small_bytes() {
    const std::string text = test::slurp(dir_ / "ntfs_small.img");
    return std::vector<uint8_t>(text.begin(), text.end());
  }
  fs::path dir_;
};

TEST_F(NtfsFixture, ShortcutsOfEveryShapeReadThroughTheMft) {
  NtfsVolume volume;
  ASSERT_TRUE(volume.open_image(image("ntfs_small.img"), 0));
  ASSERT_TRUE(volume.validate());
  EXPECT_EQ(volume.mode(), kOpenImageFile);
  EXPECT_EQ(volume.record_size(), 1024u);
  EXPECT_EQ(volume.cluster_size(), 4096u);
  struct Case {
    const char* path;
    std::vector<uint8_t> data;
    bool resident;
    size_t min_runs;
  };
  std::vector<uint8_t> resident_lnk(106, 0);
  const Case cases[] = {
      {"report.LNK", sample_lnk(), false, 1},
      {"x.lnk\\inside.lnk", sample_lnk(), false, 1},
      {"\\Users\\alice\\Desktop\\big.lnk", padded_sample(9000), false, 1},
      {"users/alice/desktop/FRAGMENTED.lnk", padded_sample(33486), false, 5},
      {"links\\another_rather_long_name_for_the_same_shortcut_file_number_05.lnk", sample_lnk(), false, 1},
      {"pagefile.sys", padded_sample(61198, 20480), false, 1},
  };
  for (const Case& c : cases) {
    const uint64_t entry = entry_of(volume, c.path);
    mft_entries_ctx context(volume);
    ASSERT_TRUE(parse_entry(context, entry)) << c.path;
    const ParsedAttribute* data = context.entry.find(kAttrData);
    ASSERT_NE(data, nullptr) << c.path;
    EXPECT_EQ(!data->non_resident, c.resident) << c.path;
    EXPECT_GE(data->runs.size(), c.min_runs) << c.path;
    FileRequest request;
    request.entry = entry;
    ASSERT_TRUE(read_file(volume, request)) << c.path;
    EXPECT_TRUE(request.data == c.data) << c.path;
    EXPECT_EQ(request.first_cluster_offset, static_cast<uint64_t>(data->runs.at(0).start_cluster) * 4096) << c.path;
  }
  // The resident one: its bytes live in the record, no cluster offset.
  FileRequest resident;
  resident.path = "resident.lnk";
  ASSERT_TRUE(read_file(volume, resident));
  EXPECT_EQ(resident.data.size(), 106u);
  EXPECT_EQ(resident.data.at(0), 0x4C);
  EXPECT_EQ(resident.first_cluster_offset, 0u);
  DataStream stream;
  ASSERT_TRUE(open_entry_data(volume, resident.entry, stream));
  EXPECT_TRUE(stream.resident);

  // The linked file keeps every name in extension records.
  const uint64_t linked = entry_of(volume, "links\\another_rather_long_name_for_the_same_shortcut_file_number_12.lnk");
  std::vector<uint8_t> record;
  ASSERT_EQ(volume.read_record(linked, record), RecordRead::fixed);
  RecordSummary summary;
  ASSERT_TRUE(summarize_record(record, summary));
  EXPECT_FALSE(summary.has_name);
  EXPECT_TRUE(summary.has_attribute_list);
  mft_entries_ctx context(volume);
  ASSERT_TRUE(parse_entry(context, linked));
  EXPECT_EQ(context.entry.names.size(), 10u);
  for (const FileName& name : context.entry.names) EXPECT_NE(name.name.find("number_"), std::string::npos);

  // A directory named like a shortcut.
  ASSERT_TRUE(parse_entry(context, entry_of(volume, "x.lnk")));
  EXPECT_TRUE(context.entry.is_directory());
  uint64_t missing = 0;
  EXPECT_FALSE(lookup_path(volume, "Users\\alice\\Recent\\gone.lnk", missing));
}

// The image opened as a device (whole-sector reads) and as a volume path
// reads the same as the image file.
TEST_F(NtfsFixture, DeviceAndVolumeModesReadLikeTheImage) {
  std::vector<uint8_t> expected;
  for (uint32_t mode : {kOpenImageFile, kOpenDevicePath, kOpenVolumeLetter}) {
    NtfsVolume volume;
    ASSERT_TRUE(volume.open_path(image("ntfs_small.img"), mode)) << mode;
    EXPECT_EQ(volume.mode(), mode);
    ASSERT_TRUE(volume.validate()) << mode;
    ASSERT_NE(volume.disk(), nullptr);
    EXPECT_EQ(volume.disk()->kind(), mode == kOpenImageFile     ? kSourceImageFile
                                     : mode == kOpenDevicePath ? kSourceDevicePath
                                                               : kSourceVolumeLetter);
    std::vector<uint8_t> data;
    ASSERT_TRUE(read_entry_data(volume, entry_of(volume, "Users\\alice\\Desktop\\fragmented.lnk"), data));
    if (expected.empty()) expected = data;
    EXPECT_TRUE(data == expected) << mode;
    EXPECT_EQ(volume.disk_offset(), 0u);
  }
}

TEST_F(NtfsFixture, SmallVolumeAgreesWithSleuthkit) {
  if (!test::have_tool("fls") || !test::have_tool("istat") || !test::have_tool("icat"))
    GTEST_SKIP() << "sleuthkit (fls, istat, icat) is not installed";
  NtfsVolume volume;
  ASSERT_TRUE(volume.open_image(image("ntfs_small.img"), 0));
  ASSERT_TRUE(volume.validate());
  const test::Comparison result = test::compare_with_sleuthkit(volume, image("ntfs_small.img"), 0, 30);
  std::cout << "ntfs_small.img: " << result << "\n";
  // resident, report.LNK, x.lnk\inside, dosonly, big, fragmented, the
  // linked file, both jump lists, and the deleted one.
  EXPECT_EQ(result.selected, 10u);
  EXPECT_EQ(result.selected_deleted, 1u);
  EXPECT_EQ(result.data_checked, result.istat_checked);

  // The profile volume: compressed shortcuts and custom list, the deleted
  // tree's three and the orphan.
  NtfsVolume profile;
  ASSERT_TRUE(profile.open_image(image("ntfs_compressed.img"), 0));
  ASSERT_TRUE(profile.validate());
  const test::Comparison compressed = test::compare_with_sleuthkit(profile, image("ntfs_compressed.img"), 0, 30);
  std::cout << "ntfs_compressed.img: " << compressed << "\n";
  EXPECT_EQ(compressed.selected, 8u);
  EXPECT_EQ(compressed.selected_deleted, 4u);
  EXPECT_GE(compressed.compressed_checked, 4u);
}

TEST_F(NtfsFixture, FourKilobyteRecordsAndSectors) {
  NtfsVolume volume;
  ASSERT_TRUE(volume.open_image(image("ntfs_4k.img"), 0));
  ASSERT_TRUE(volume.validate());
  EXPECT_EQ(volume.sector_size(), 4096u);
  EXPECT_EQ(volume.record_size(), 4096u);
  EXPECT_EQ(volume.clusters_per_record(), 1u);
  std::vector<uint8_t> data;
  ASSERT_TRUE(read_entry_data(volume, entry_of(volume, "dir\\big.lnk"), data));
  EXPECT_TRUE(data == padded_sample(20000));
  if (!test::have_tool("fls") || !test::have_tool("istat") || !test::have_tool("icat")) return;
  const test::Comparison result = test::compare_with_sleuthkit(volume, image("ntfs_4k.img"), 0);
  std::cout << "ntfs_4k.img: " << result << "\n";
  EXPECT_EQ(result.selected, 2u);
}

// Edits of a copy: a name space changed to DOS only, a parent loop, a
// parent whose record was reused.
TEST_F(NtfsFixture, EditedCopiesDosNamesLoopsAndReusedParents) {
  std::vector<uint8_t> bytes = small_bytes();
  uint64_t dosonly = 0, big = 0, users = 0, alice = 0, desktop = 0;
  std::vector<std::pair<uint64_t, uint64_t>> name_values;  // entry, volume offset of its $FILE_NAME value
  {
    NtfsVolume volume;
    volume.attach(std::make_unique<MemorySource>(bytes), 0);
    ASSERT_TRUE(volume.validate());
    dosonly = entry_of(volume, "dosonly.lnk");
    big = entry_of(volume, "Users\\alice\\Desktop\\big.lnk");
    users = entry_of(volume, "Users");
    alice = entry_of(volume, "Users\\alice");
    desktop = entry_of(volume, "Users\\alice\\Desktop");
    for (uint64_t entry : {dosonly, users, alice}) {
      std::vector<uint8_t> record;
      ASSERT_EQ(volume.read_record(entry, record), RecordRead::fixed);
      AttributeWalker walker(record);
      AttributeView a;
      while (walker.next(a))
        if (a.type == kAttrFileName)
          name_values.emplace_back(entry, volume.record_offset(entry) + (a.value.data() - record.data()));
    }
  }
  ASSERT_EQ(name_values.size(), 3u);
  auto edit = [&](uint64_t at, std::vector<uint8_t> with) {
    // Sector ends hold the update sequence value on disk; leave them alone.
    for (size_t i = 0; i < with.size(); ++i) ASSERT_LT((at + i) % 512, 510u) << "edit at a sector end";
    std::copy(with.begin(), with.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  };
  auto reference_bytes = [](uint64_t reference) {
    std::vector<uint8_t> out(8);
    for (int i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(reference >> (8 * i));
    return out;
  };
  edit(name_values[0].second + 65, {kNameSpaceDos});
  // Users names Desktop as its parent: Desktop -> alice -> Users -> Desktop.
  edit(name_values[1].second, reference_bytes(make_reference(desktop, 1)));

  NtfsVolume volume;
  volume.attach(std::make_unique<MemorySource>(bytes), 0);
  ASSERT_TRUE(volume.validate());
  std::vector<uint8_t> record;
  ASSERT_EQ(volume.read_record(dosonly, record), RecordRead::fixed);
  RecordSummary summary;
  ASSERT_TRUE(summarize_record(record, summary));
  EXPECT_FALSE(summary.has_name);
  EXPECT_TRUE(summary.has_dos_name_only);
  for (const test::LayerEntry& e : test::layer_entries(volume)) EXPECT_NE(e.entry, dosonly) << e.path;

  mft_entries_ctx context(volume);
  ASSERT_TRUE(parse_entry(context, big));
  std::string path;
  ASSERT_TRUE(build_parent_path(volume, context.entry.names.at(0).parent_reference, path));
  EXPECT_EQ(path, "[root]\\<path corrupted>\\Users\\alice\\Desktop\\");

  // alice's record reused (its sequence moved on): the chain breaks above Desktop.
  edit(name_values[1].second, reference_bytes(make_reference(5, 5)));
  edit(volume.record_offset(alice) + 16, {9, 0});
  NtfsVolume reused;
  reused.attach(std::make_unique<MemorySource>(bytes), 0);
  ASSERT_TRUE(reused.validate());
  ASSERT_TRUE(build_parent_path(reused, context.entry.names.at(0).parent_reference, path));
  EXPECT_EQ(path, "[root]\\<path corrupted>\\Desktop\\");
  ASSERT_TRUE(build_parent_path(reused, make_reference(users, 1), path));
  EXPECT_EQ(path, "[root]\\Users\\");
}

TEST_F(NtfsFixture, ShadowCopyCatalogNamesItsStoreFile) {
  NtfsVolume volume;
  ASSERT_TRUE(volume.open_image(image("ntfs_small.img"), 0));
  std::array<uint8_t, kCatalogHeaderSize> header{};
  std::vector<ShadowStore> stores;
  ASSERT_TRUE(read_shadow_catalog(volume, header, stores));
  ASSERT_EQ(stores.size(), 1u);
  EXPECT_EQ(stores[0].key, "11111111-2222-3333-4444-555555555555");
  EXPECT_EQ(stores[0].creation_time, 0x01D7426A8C9E3000u);
  const uint64_t store = entry_of(volume, "System Volume Information\\{11111111-2222-3333-4444-555555555555}"
                                          "{3808876b-c176-4e48-b7ae-04046e6cc752}");
  EXPECT_EQ(reference_entry(stores[0].store_file_reference), store);
  std::vector<uint8_t> data;
  ASSERT_TRUE(read_entry_data(volume, store, data));
  EXPECT_TRUE(data == padded_sample(65536, 8192));

  NtfsVolume without;
  ASSERT_TRUE(without.open_image(image("ntfs_4k.img"), 0));
  EXPECT_FALSE(read_shadow_catalog(without, header, stores));
  EXPECT_TRUE(stores.empty());
}

}  // namespace
}  // namespace lnk
