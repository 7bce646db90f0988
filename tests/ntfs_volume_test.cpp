// The volume: boot sector geometry, record 0 and the $MFT runs, record
// offsets and reads, the block-wise MFT walk, and hostile MFTs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ntfs/mft_entry.h"
#include "ntfs/mft_walk.h"
#include "ntfs/ntfs_volume.h"
#include "storage/memory_source.h"
#include "tests/ntfs_builder.h"

namespace lnk {
namespace {

using test::Bytes;

bool open_volume(NtfsVolume& volume, const Bytes& image, std::vector<std::string>* diag = nullptr) {
  volume.attach(std::make_unique<OwnedMemorySource>(image), 0);
  if (diag) volume.set_diag_sink([diag](const std::string& line) { diag->push_back(line); });
  return volume.validate();
}

// Named files 16.. so a walk can tell records apart.
void add_files(test::VolumeImage& image, uint64_t first, uint64_t last) {
  for (uint64_t e = first; e <= last; ++e)
    image.put_record(e, test::file_record(make_reference(5, 5), "f" + std::to_string(e), {}, 1, 1,
                                          image.record_size()));
}

std::string name_of(std::span<const uint8_t> record) {
  AttributeWalker walker(record);
  AttributeView a;
  FileName name;
  while (walker.next(a))
    if (a.type == kAttrFileName && decode_file_name(a.value, name)) return name.name;
  return "";
}

TEST(NtfsVolume, GeometryFromTheBootSector) {
  // stored_per_record: what the boot sector says, when not per_record
  struct Case { const char* what; uint16_t sector; uint8_t per_cluster; int8_t per_record;
                uint32_t cluster, record, clusters_per_record; int8_t stored_per_record = 0; };
  const Case cases[] = {
      {"1,024-byte records (0xF6)", 512, 8, -10, 4096, 1024, 0},
      {"one cluster per record", 512, 8, 1, 4096, 4096, 1},
      {"two 1 KiB clusters per record", 512, 2, 2, 1024, 2048, 2},
      {"4,096-byte sectors", 4096, 1, 1, 4096, 4096, 1},
      {"2 MiB clusters (0xF4)", 512, 0xF4, -10, 2u << 20, 1024, 0},
      // Windows can write 4,096-byte records while the boot sector says
      // 1,024; the update sequence of record 0 (nine entries) tells.
      {"4,096-byte records under a boot sector saying 1,024", 512, 8, -12, 4096, 4096, 1, -10},
  };
  for (const Case& c : cases) {
    test::VolumeLayout layout;
    layout.sector_size = c.sector;
    layout.sectors_per_cluster = c.per_cluster;
    layout.clusters_per_record = c.per_record;
    layout.clusters = c.cluster > 65536 ? 4 : 64;
    layout.mft_cluster = c.cluster > 65536 ? 1 : 4;
    layout.mft_records = 16;
    test::VolumeImage image = test::basic_volume(layout, {});
    add_files(image, 6, 9);
    if (c.stored_per_record != 0) image.put_bytes(64, {static_cast<uint8_t>(c.stored_per_record)});
    NtfsVolume volume;
    ASSERT_TRUE(open_volume(volume, image.bytes())) << c.what;
    EXPECT_EQ(std::make_tuple(volume.cluster_size(), volume.record_size(), volume.clusters_per_record(),
                              volume.mft_start(), volume.total_clusters(), volume.record_offset(7)),
              std::make_tuple(c.cluster, c.record, c.clusters_per_record, uint64_t{layout.mft_cluster} * c.cluster,
                              uint64_t{layout.clusters}, uint64_t{layout.mft_cluster} * c.cluster + 7 * c.record))
        << c.what;
    std::vector<uint8_t> record;
    ASSERT_EQ(volume.read_record(7, record), RecordRead::fixed) << c.what;
    EXPECT_EQ(name_of(record), "f7") << c.what;
  }
}

TEST(NtfsVolume, RefusesBootSectorsNoVolumeHas) {
  struct Case { const char* what; size_t field; Bytes bytes; };
  const Case cases[] = {
      {"OEM id NTFS and zeros", 3, {'N', 'T', 'F', 'S', 0, 0, 0, 0}},
      {"OEM id NTFSX", 3, {'N', 'T', 'F', 'S', 'X', ' ', ' ', ' '}},
      {"record size 0", 64, {0}},       {"record size 2^31", 64, {0xE1}},
      {"record size 2^40", 64, {0xD8}}, {"record size 128 x 4 KiB", 64, {0x7F}},
      {"sector size 0", 11, {0, 0}},    {"sector size 300", 11, {0x2C, 0x01}},
      {"sectors per cluster 0", 13, {0}},
      {"MFT cluster past 2^64 bytes", 48, {0, 0, 0, 0, 0, 0, 0, 0x80}},
      {"MFT beyond the image", 48, {0, 0, 0, 1, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    test::VolumeImage image = test::basic_volume({}, {});
    image.put_bytes(c.field, c.bytes);
    NtfsVolume volume;
    EXPECT_FALSE(open_volume(volume, image.bytes())) << c.what;
    std::vector<uint8_t> record;
    EXPECT_TRUE(!volume.is_open() && volume.read_record(0, record) == RecordRead::absent &&
                volume.record_offset(0) == 0) << c.what;
  }
  NtfsVolume nothing;
  EXPECT_FALSE(nothing.validate());
  EXPECT_FALSE(nothing.open_path("/nonexistent", kOpenVolumeLetter) || nothing.open_path("/nonexistent", 40) ||
               nothing.open_physical_drive(25, 0));
  EXPECT_EQ(nothing.mode(), kOpenRefused);
}

TEST(NtfsVolume, RecordsBeyondTheRunsClusterReadsAndRunsInAnExtensionRecord) {
  test::VolumeImage image = test::basic_volume({}, {});
  image.put_cluster(100, Bytes(4096, 0x42));
  NtfsVolume volume;
  ASSERT_TRUE(open_volume(volume, image.bytes()));
  EXPECT_TRUE(volume.validate());  // the answer is kept
  EXPECT_EQ(std::make_tuple(volume.record_count(), volume.mode(), volume.record_offset(31), volume.record_offset(32)),
            std::make_tuple(32u, kOpenAttached, 4 * 4096 + 31 * 1024u, 0u));
  std::vector<uint8_t> record;
  EXPECT_EQ(volume.read_record(32, record), RecordRead::absent);
  EXPECT_EQ(volume.read_record(20, record), RecordRead::absent);  // zeros: no signature
  Bytes clusters(8192);
  EXPECT_TRUE(volume.read_clusters(100, clusters));
  EXPECT_TRUE(clusters[0] == 0x42 && clusters[4096] == 0);
  Bytes odd(5000);
  EXPECT_FALSE(volume.read_clusters(100, odd) || volume.read_clusters(255, clusters));  // 255: runs off the end
  volume.close();
  EXPECT_FALSE(volume.is_open() || volume.read_clusters(100, clusters));

  // A fragmented $MFT keeps the rest of its runs in an extension record that
  // its attribute list names; a list entry naming record 0 is not followed.
  Bytes list = test::attribute_list_entry(0x80, make_reference(0, 1), 2);
  for (const Bytes& e : {test::attribute_list_entry(0x80, make_reference(0, 1), 2, 8),
                         test::attribute_list_entry(0x80, make_reference(3, 1), 7, 8)})
    list.insert(list.end(), e.begin(), e.end());
  test::RecordLayout mft;
  mft.attributes = {test::resident_attribute(0x20, list),
                    test::nonresident_attribute(0x80, test::encode_runs({{8, 4}}), 16 * 4096, 16 * 4096, "", 2)};
  image.put_record(0, test::mft_record(mft));
  test::RecordLayout extension;
  extension.base_reference = make_reference(0, 1);
  extension.attributes = {test::nonresident_attribute(0x80, test::encode_runs({{8, 40}}), 0, 0, "", 7, 8)};
  image.put_record(3, test::mft_record(extension));
  image.put_bytes(40 * 4096 + 5 * 1024, test::file_record(make_reference(5, 5), "far"));
  NtfsVolume extended;
  ASSERT_TRUE(open_volume(extended, image.bytes()));
  EXPECT_EQ(std::make_tuple(extended.mft_data_runs().size(), extended.record_count(), extended.record_offset(37)),
            std::make_tuple(size_t{2}, uint64_t{64}, uint64_t{40 * 4096 + 5 * 1024}));
  ASSERT_EQ(extended.read_record(37, record), RecordRead::fixed);
  EXPECT_EQ(name_of(record), "far");
}

// An MFT in three pieces, the middle one with 512-byte clusters cut so that
// a record straddles two runs: reads and the walk follow the runs.
TEST(MftWalk, FollowsFragmentedRunsInBlocksAndMatchesSingleReads) {
  test::VolumeLayout layout;
  layout.sectors_per_cluster = 1;  // 512-byte clusters, 1,024-byte records
  layout.clusters = 2048;
  test::VolumeImage image(layout);
  // VCN 0-4 at cluster 8, VCN 5-11 at 200, VCN 12-15 sparse, VCN 16-39 at 900.
  const std::vector<std::pair<uint64_t, int64_t>> runs = {{5, 8}, {7, 200}, {4, -1}, {24, 900}};
  test::RecordLayout mft;
  mft.attributes = {test::resident_attribute(0x30, test::file_name(make_reference(5, 5), "$MFT", 3)),
                    test::nonresident_attribute(0x80, test::encode_runs(runs), 40 * 512, 40 * 512)};
  auto place = [&](uint64_t entry, const Bytes& record) {
    for (size_t half = 0; half < 2; ++half) {
      uint64_t vcn = entry * 2 + half, base = 0;
      for (const auto& [length, start] : runs) {
        if (vcn < base + length) {
          if (start >= 0)
            image.put_cluster(static_cast<uint64_t>(start) + vcn - base,
                              Bytes(record.begin() + half * 512, record.begin() + half * 512 + 512));
          break;
        }
        base += length;
      }
    }
  };
  place(0, test::mft_record(mft));
  for (uint64_t e = 1; e < 20; ++e) {
    if (e == 4) continue;  // left empty
    test::RecordLayout bad;
    bad.signature = "BAAD";
    place(e, e == 9 ? test::mft_record(bad) : test::file_record(make_reference(5, 5), "f" + std::to_string(e)));
  }
  image.put_bytes(48, {8, 0, 0, 0, 0, 0, 0, 0});  // the boot sector's MFT cluster
  NtfsVolume volume;
  std::vector<std::string> diag;
  ASSERT_TRUE(open_volume(volume, image.bytes(), &diag));
  // Record 3 starts half-way into the second run; record 6 is sparse.
  EXPECT_EQ((std::vector<uint64_t>{volume.record_count(), volume.record_offset(2), volume.record_offset(3),
                                   volume.record_offset(6), volume.record_offset(8)}),
            (std::vector<uint64_t>{20, 8 * 512 + 2 * 1024, 200 * 512 + 512, 0, 900 * 512}));

  std::vector<uint8_t> record;
  ASSERT_EQ(volume.read_record(2, record), RecordRead::fixed);  // straddles two runs
  EXPECT_EQ(name_of(record), "f2");
  for (uint32_t block : {1024u, 3072u, 1u << 20}) {
    MftWalk walk(volume, 0, 0, block);
    MftRecordView view;
    std::vector<uint64_t> entries;
    while (walk.next(view)) {
      entries.push_back(view.entry);
      if (view.bad) continue;
      ASSERT_EQ(volume.read_record(view.entry, record), RecordRead::fixed) << view.entry;
      EXPECT_TRUE(std::equal(record.begin(), record.end(), view.bytes.begin(), view.bytes.end())) << view.entry;
      EXPECT_EQ(view.volume_offset, volume.record_offset(view.entry)) << view.entry;
    }
    EXPECT_EQ(entries, (std::vector<uint64_t>{0, 1, 2, 3, 5, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}))
        << "block " << block;
  }
  EXPECT_EQ(std::count(diag.begin(), diag.end(), "err: fixup_mft type: BAAD"), 3);
  MftWalk part(volume, 10, 3);
  std::vector<uint64_t> entries;
  for (MftRecordView view; part.next(view);) entries.push_back(view.entry);
  EXPECT_EQ(entries, (std::vector<uint64_t>{10, 11, 12}));
  mft_entries_ctx context(volume);
  diag.clear();
  EXPECT_FALSE(parse_entry(context, 9));
  EXPECT_EQ(diag, (std::vector<std::string>{"err: fixup_mft type: BAAD", "err: recd bad 9"}));
  diag.clear();
  EXPECT_FALSE(parse_entry(context, 4));
  EXPECT_EQ(diag, (std::vector<std::string>{"err: mftfixup 4"}));
}

// MFTs no volume has: runs that repeat the same clusters, that point past
// the volume or claim 2^40 clusters, and a run list that does not decode.
TEST(MftWalk, HostileRunsStayWithinTheVolume) {
  // max_records: record_count is at most this; walked: records the walk returns
  struct Case { const char* what; Bytes runs; bool opens; uint64_t max_records; size_t walked; };
  Bytes loop;
  for (int i = 0; i < 250; ++i) loop.insert(loop.end(), {0x11, 0x08, static_cast<uint8_t>(i == 0 ? 4 : 0)});
  loop.push_back(0);
  const Case cases[] = {
      {"runs that repeat", loop, true, 1024, 1024 / 32 * 5},
      {"a run past the volume", test::encode_runs({{8, 4}, {8, 1000000}}), true, 1024, 5},
      {"2^40 clusters", test::encode_runs({{uint64_t{1} << 40, 4}}), true, 1024, 5},
      {"a run list that does not decode", {0x11, 0x08, 0x04, 0x10, 0x05, 0x00}, false, 0, 0},
  };
  for (const Case& c : cases) {
    test::VolumeImage image = test::basic_volume({}, {});
    add_files(image, 16, 18);
    test::RecordLayout mft;
    mft.attributes = {test::nonresident_attribute(0x80, c.runs, 8 * 4096, 8 * 4096)};
    image.put_record(0, test::mft_record(mft));
    NtfsVolume volume;
    ASSERT_EQ(open_volume(volume, image.bytes()), c.opens) << c.what;
    if (!c.opens) continue;
    EXPECT_LE(volume.record_count(), c.max_records) << c.what;
    MftWalk walk(volume);
    size_t walked = 0;
    for (MftRecordView view; walk.next(view);) ++walked;
    EXPECT_EQ(walked, c.walked) << c.what;
  }
}

}  // namespace
}  // namespace lnk
