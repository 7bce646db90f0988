// MFT record pieces (fixups, run lists, the attribute walk, the two values
// every caller reads, attribute lists, the one-pass record summary), then the
// volume: boot sector geometry, record 0 and the $MFT runs, record offsets and
// reads, the block-wise MFT walk, and hostile MFTs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ntfs/mft_entry.h"
#include "ntfs/mft_record.h"
#include "ntfs/mft_walk.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/record_summary.h"
#include "storage/memory_source.h"
#include "tests/ntfs_builder.h"

namespace lnk {
namespace {

using test::Bytes;

TEST(Fixups, SectorEndsComeBackOnlyForAcceptedAndCarvedRecords) {
  // stride 0: refused; an accepted record has its own bytes back at both sector ends.
  const struct { const char* signature; uint16_t offset; int count; uint32_t stride; bool accepted; } cases[] = {
      {"FILE", 48, 3, 512, true},  {"FILE", 56, 3, 512, false}, {"FILE", 48, 10, 512, false},
      {"FILE", 48, 9, 512, true},  {"INDX", 56, 3, 512, true},  {"INDX", 200, 3, 512, true},
      {"BAAD", 48, 3, 512, false}, {"XXXX", 48, 3, 512, false}, {"FILE", 48, 1, 512, true},
      {"FILE", 48, 0, 512, true},  {"FILE", 48, 3, 0, false},   {"FILE", 48, 2, 1024, true},
  };
  for (const auto& c : cases) {
    test::RecordLayout layout;
    layout.signature = c.signature;
    layout.update_sequence_offset = c.offset;
    layout.update_sequence_count = c.count;
    layout.sector_size = c.stride == 0 ? 512 : c.stride;
    layout.first_attribute = 216;
    layout.attributes = {test::resident_attribute(0x80, Bytes(900, 0xAB))};  // reaches both sector ends
    const Bytes protected_record = test::mft_record(layout);
    Bytes record = protected_record;
    const std::string what = std::string(c.signature) + " offset " + std::to_string(c.offset) + " count " +
                             std::to_string(c.count) + " stride " + std::to_string(c.stride);
    EXPECT_EQ(apply_fixups(record, c.stride), c.accepted) << what;
    EXPECT_TRUE(c.accepted || record == protected_record) << what;
    EXPECT_EQ(record[510] == 0xAB && record[511] == 0xAB && record[1022] == 0xAB && record[1023] == 0xAB, c.accepted)
        << what;
  }
  // Words are not compared: a torn write no longer holds the sequence value.
  test::RecordLayout layout;
  layout.first_attribute = 216;
  layout.attributes = {test::resident_attribute(0x80, Bytes(900, 0x5A))};
  Bytes record = test::mft_record(layout);
  record[510] = 0xEE;
  ASSERT_TRUE(apply_fixups(record, 512));
  EXPECT_TRUE(record[510] == 0x5A && record[1023] == 0x5A);

  // An "INDX" block whose array itself ends at the first sector end: the
  // second entry must be the stored one, not the word the first wrote.
  Bytes block(1024, 0x11);
  std::memcpy(block.data(), "INDX", 4);
  test::set_u16(block, 4, 506);
  test::set_u16(block, 6, 3);
  test::set_u16(block, 506, 0x0102);
  test::set_u16(block, 508, 0x3333);
  test::set_u16(block, 510, 0x4444);
  test::set_u16(block, 1022, 0x0102);
  ASSERT_TRUE(apply_fixups(block, 512));
  EXPECT_EQ(block[510] | block[511] << 8, 0x3333);
  EXPECT_EQ(block[1022] | block[1023] << 8, 0x4444);

  // What the carver does with a record it finds in raw clusters: take as
  // many bytes as the update sequence covers and fix them.
  for (uint32_t size : {1024u, 4096u}) {
    test::RecordLayout layout;
    layout.size = size;
    layout.first_attribute = 216;
    layout.attributes = {test::resident_attribute(0x80, Bytes(size, 0x6C))};
    Bytes raw = test::mft_record(layout);
    raw.insert(raw.end(), 3000, 0x99);  // whatever follows in the cluster
    std::vector<uint8_t> fixed;
    ASSERT_TRUE(fixed_file_record(raw, 512, fixed)) << size;
    ASSERT_EQ(fixed.size(), size);
    for (uint32_t end = 510; end < size; end += 512) EXPECT_EQ(fixed[end], 0x6C) << size << " at " << end;
    EXPECT_FALSE(fixed_file_record(std::span<const uint8_t>(raw).first(size - 1), 512, fixed)) << size;
    EXPECT_TRUE(fixed.empty());
  }
  test::RecordLayout odd, index;
  odd.update_sequence_count = 1;
  index.signature = "INDX";
  std::vector<uint8_t> fixed;
  EXPECT_FALSE(fixed_file_record(test::mft_record(odd), 512, fixed));
  EXPECT_FALSE(fixed_file_record(test::mft_record(index), 512, fixed));
}

TEST(DataRuns, DecodeLengthsSignedOffsetsAndSparseRuns) {
  const struct { Bytes bytes; bool ok; std::vector<std::pair<int64_t, uint64_t>> runs; /* start, length */ } cases[] = {
      {{0x21, 0x18, 0x34, 0x56, 0x00}, true, {{0x5634, 0x18}}},
      {{0x21, 0x08, 0x00, 0x01, 0x11, 0x04, 0xF0, 0x00}, true, {{0x100, 8}, {0xF0, 4}}},
      {{0x11, 0x01, 0x05, 0x01, 0x10, 0x11, 0x01, 0x02, 0x00}, true, {{5, 1}, {-1, 16}, {7, 1}}},
      {{0x21, 0x18, 0x34, 0x56}, true, {{0x5634, 0x18}}},  // ends with the bytes
      {{0x00, 0x21, 0x18, 0x34, 0x56}, true, {}},
      {{0x10, 0x05, 0x00}, false, {}},                       // no length field
      {{0x09, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0x00}, false, {}},  // 9-byte length
      {{0x91, 0x01, 1, 0, 0, 0, 0, 0, 0, 0, 0}, false, {}},  // 9-byte offset
      {{0x11, 0x00, 0x05, 0x00}, false, {}},                 // zero clusters
      {{0x11, 0x01, 0xFB, 0x00}, false, {}},                 // cluster -5
      {{0x21, 0x18, 0x34}, false, {}},                       // cut short
      {{0x11, 0x01, 0x05, 0x11, 0x01, 0xF0, 0x00}, false, {{5, 1}}},
      {{0x81, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x11, 0x01, 0x01, 0x00},
       false,
       {{INT64_MAX, 1}}},  // the next run would pass 2^63
      {{0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x01, 0x00}, false, {{-1, UINT64_MAX}}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<DataRun> runs;
    EXPECT_EQ(decode_data_runs(cases[i].bytes, runs), cases[i].ok) << "case " << i;
    std::vector<std::pair<int64_t, uint64_t>> got;
    for (const DataRun& r : runs) got.emplace_back(r.start_cluster, r.length);
    EXPECT_EQ(got, cases[i].runs) << "case " << i;
  }
  // A sparse run leaves the base of the next relative offset alone.
  std::vector<DataRun> runs;
  EXPECT_TRUE(decode_data_runs(test::encode_runs({{3, 1000}, {7, -1}, {2, 10}, {1, 70000}}), runs));
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_EQ(std::make_pair(runs[2].start_cluster, runs[3].start_cluster), std::make_pair(int64_t{10}, int64_t{70000}));
}

Bytes sample_record() {
  test::RecordLayout layout;
  layout.attributes = {
      test::resident_attribute(0x10, test::standard_information(11, 22, 33, 44)),
      test::resident_attribute(0x30, test::file_name(make_reference(5, 5), "REPORT~1.LNK", kNameSpaceDos), "", 3),
      test::resident_attribute(0x30, test::file_name(make_reference(40, 2), "report.lnk", kNameSpaceWin32, 718), "",
                               2),
      test::resident_attribute(0x80, Bytes(10, 0x77), "Zone.Identifier", 5),
      test::nonresident_attribute(0x80, test::encode_runs({{1, 50}}), 718, 4096, "", 4),
  };
  return test::mft_record(layout);
}

TEST(AttributeWalker, WalksValuesNamesAndRunsInOrder) {
  Bytes record = sample_record();
  ASSERT_TRUE(apply_fixups(record, 512));
  AttributeWalker walker(record);
  AttributeView a;
  std::vector<uint32_t> types;
  while (walker.next(a)) {
    ASSERT_TRUE(a.well_formed);
    types.push_back(a.type);
    if (a.type == 0x80 && a.named()) {
      EXPECT_TRUE(a.name_is("zone.IDENTIFIER") && !a.name_is("zone.identifie"));
      EXPECT_EQ(a.name(), "Zone.Identifier");
      EXPECT_EQ(Bytes(a.value.begin(), a.value.end()), Bytes(10, 0x77));
    }
    if (a.non_resident) {
      EXPECT_EQ(std::make_tuple(a.real_size, a.allocated_size), std::make_tuple(718u, 4096u));
      std::vector<DataRun> runs;
      EXPECT_TRUE(decode_data_runs(a.run_bytes, runs) && runs.at(0).start_cluster == 50);
    }
  }
  EXPECT_EQ(types, (std::vector<uint32_t>{0x10, 0x30, 0x30, 0x80, 0x80}));
  RecordSummary summary;
  ASSERT_TRUE(summarize_record(record, summary));
  // The DOS name before it is passed over; the named stream is not the data.
  EXPECT_EQ(std::make_tuple(summary.has_name, summary.name.name, reference_entry(summary.name.parent_reference),
                            reference_sequence(summary.name.parent_reference), summary.standard_information.accessed),
            std::make_tuple(true, "report.lnk", 40u, 2u, 44u));
  EXPECT_EQ(std::make_tuple(summary.has_data, summary.data_resident, summary.data_size, summary.is_extension()),
            std::make_tuple(true, false, 718u, false));
}

TEST(AttributeWalker, StopsAtDamageWithoutReadingPastTheRecord) {
  // field: offset within the second attribute; walked: attributes returned; last_sound: the last one is well formed
  const struct { const char* what; size_t field; uint32_t value; size_t walked; bool last_sound; } cases[] = {
      {"length past the record", 4, 5000, 1, true},
      {"length under a header", 4, 8, 1, true},
      {"length zero", 4, 0, 1, true},
      {"end marker", 0, 0xFFFFFFFF, 1, true},
      {"value past the attribute", 16, 4000, 2, false},
      {"value offset past it", 20, 0xFFFF, 2, false},
      {"name past it", 10, 0xFFF0, 2, false},
  };
  for (const auto& c : cases) {
    Bytes record = sample_record();
    ASSERT_TRUE(apply_fixups(record, 512));
    AttributeWalker first(record);
    AttributeView a;
    ASSERT_TRUE(first.next(a));
    const size_t second = a.record_offset + a.length;
    if (c.field == 10) record[second + 9] = 4;  // give it a name to misplace
    test::set_u32(record, second + c.field, c.value);
    if (c.field == 10 || c.field == 20) test::set_u16(record, second + c.field, static_cast<uint16_t>(c.value));
    AttributeWalker walker(record);
    size_t walked = 0;
    bool sound = false;
    while (walker.next(a)) {
      ++walked;
      sound = a.well_formed;
    }
    EXPECT_EQ(std::make_pair(walked, sound), std::make_pair(c.walked, c.last_sound)) << c.what;
  }
  Bytes record = sample_record();
  test::set_u16(record, 20, 8);  // first attribute inside the header
  AttributeView a;
  EXPECT_FALSE(AttributeWalker(record).next(a));
  EXPECT_FALSE(AttributeWalker(std::span<const uint8_t>(record).first(30)).next(a));
}

TEST(RecordValues, NamesTimesSummaryAndAttributeListEdges) {
  FileName name;
  EXPECT_TRUE(decode_file_name(test::file_name(7, "a.lnk", 3, 5), name));
  EXPECT_EQ(std::make_tuple(name.name, name.name_space, name.real_size), std::make_tuple("a.lnk", 3, 5u));
  for (uint8_t length : {0, 40}) {  // none, or more characters than the value holds
    Bytes bad = test::file_name(7, "x", 1);
    bad[64] = length;
    EXPECT_FALSE(decode_file_name(bad, name)) << int(length);
  }
  StandardInformation si;
  EXPECT_FALSE(decode_standard_information(Bytes(35, 0), si));
  EXPECT_TRUE(decode_standard_information(test::standard_information(1, 2, 3, 4), si) && si.mft_changed == 3);

  test::RecordLayout layout;
  layout.base_reference = make_reference(77, 3);
  layout.attributes = {test::resident_attribute(0x30, test::file_name(5, "SHORT~1.LNK", kNameSpaceDos)),
                     test::resident_attribute(0x20, Bytes(32, 0)),
                     test::resident_attribute(0x80, Bytes(3, 1))};
  Bytes record = test::mft_record(layout);
  ASSERT_TRUE(apply_fixups(record, 512));
  RecordSummary summary;
  ASSERT_TRUE(summarize_record(record, summary));
  EXPECT_EQ(std::make_tuple(summary.has_name, summary.has_dos_name_only, summary.has_attribute_list,
                            summary.is_extension(), summary.data_resident, summary.data_size),
            std::make_tuple(false, true, true, true, true, 3u));
  EXPECT_FALSE(summarize_record(std::span<const uint8_t>(record).first(41), summary));

  // Attribute list entries end at a short or overlong length.
  Bytes list = test::attribute_list_entry(0x30, make_reference(41, 1), 3);
  const Bytes second = test::attribute_list_entry(0x80, make_reference(42, 1), 4, 16);
  list.insert(list.end(), second.begin(), second.end());
  Bytes cut = list;
  test::set_u16(cut, 36, 25);  // second entry shorter than its fixed part
  Bytes over = list;
  test::set_u16(over, 36, 64);  // second entry past the value
  for (const auto& [bytes, expected] : {std::pair{list, 2}, {cut, 1}, {over, 1}}) {
    AttributeListWalker walker(bytes);
    int n = 0;
    for (AttributeListEntry e; walker.next(e);) ++n;
    EXPECT_EQ(n, expected);
  }
  AttributeListWalker walker(list);
  AttributeListEntry e;
  ASSERT_TRUE(walker.next(e) && walker.next(e));
  EXPECT_EQ(std::make_tuple(e.type, reference_entry(e.reference), e.id, e.starting_vcn),
            std::make_tuple(0x80u, 42u, 4u, 16u));
}

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
