// The NTFS layer on structures and small volumes built in memory: MFT
// record pieces (fixups, run lists, the attribute walk, the two values every
// caller reads, attribute lists, the one-pass record summary); the volume
// (boot sector geometry, record 0 and the $MFT runs, record offsets and
// reads, the block-wise MFT walk, hostile MFTs); directory indexes, path
// lookup, parent paths, entries spread over extension records, file data,
// LZNT1 and the shadow-copy catalog.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ntfs/file_data.h"
#include "ntfs/lznt1.h"
#include "ntfs/mft_entry.h"
#include "ntfs/mft_record.h"
#include "ntfs/mft_walk.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/path_lookup.h"
#include "ntfs/record_summary.h"
#include "ntfs/shadow_catalog.h"
#include "platform/text.h"
#include "storage/memory_source.h"
#include "storage/wof_codec.h"
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

constexpr uint64_t kRoot = make_reference(5, 5);
constexpr uint64_t kUsers = 30, kX = 31, kALnk = 32, kSplit = 33, kPagefile = 40, kSvi = 41, kCatalog = 42;
const char kCatalogName[] = "{3808876b-c176-4e48-b7ae-04046e6cc752}";

Bytes pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

Bytes named_entry(uint64_t entry, uint64_t parent, const std::string& name) {
  return test::index_entry(make_reference(entry, 1), test::file_name(parent, name));
}

Bytes catalog_entry(uint64_t type, const std::string& guid, uint64_t a, uint64_t b) {
  Bytes e(128, 0);
  test::set_u32(e, 0, static_cast<uint32_t>(type));
  Guid g{};
  parse_guid(guid, g);
  std::copy(g.begin(), g.end(), e.begin() + 16);
  for (int i = 0; i < 8; ++i) {
    e[8 + i] = static_cast<uint8_t>(a >> (8 * i));  // volume size / block list
    e[(type == 2 ? 48 : 32) + i] = static_cast<uint8_t>(b >> (8 * i));  // time / store header
  }
  if (type == 3) test::set_u32(e, 56, 0x77);  // the store file's entry
  return e;
}

Bytes catalog_bytes() {
  Bytes data(128, 0xC0);  // header
  for (const Bytes& e : {catalog_entry(3, "bbaa7663-8204-11eb-90f4-080027768df7", 1, 70 * 4096),
                         catalog_entry(1, "00000000-0000-0000-0000-000000000001", 0, 0),
                         catalog_entry(2, "bbaa765b-8204-11eb-90f4-080027768df7", 5u << 30, 1234),
                         catalog_entry(2, "bbaa7663-8204-11eb-90f4-080027768df7", 5u << 30, 5678)})
    data.insert(data.end(), e.begin(), e.end());
  data.resize(4096 + 64, 0);  // a partial entry at the end is not read
  return data;
}

test::VolumeImage paths_volume() {
  test::VolumeLayout layout;
  layout.mft_records = 64;
  test::VolumeImage image = test::basic_volume(
      layout, {named_entry(kPagefile, kRoot, "pagefile.sys"), named_entry(kSvi, kRoot, "System Volume Information"),
             named_entry(kUsers, kRoot, "Users")});
  // Users: an empty root node and two allocation blocks, one entry in each,
  // with a cluster between them that is not an index block.
  image.put_cluster(50, test::index_block({named_entry(kX, kUsers, "x")}));
  image.put_cluster(51, Bytes(4096, 0x33));
  image.put_cluster(52, test::index_block({named_entry(kALnk, kUsers, "a.lnk")}));
  image.put_record(kUsers, test::file_record(kRoot, "Users",
                                             {test::resident_attribute(0x90, test::index_root({}), "$I30", 5),
                                              test::nonresident_attribute(0xA0, test::encode_runs({{3, 50}}),
                                                                          3 * 4096, 3 * 4096, "$I30", 6)},
                                             3));
  image.put_record(kX, test::file_record(make_reference(kUsers, 1), "x", {}, 3));
  image.put_record(kALnk, test::file_record(make_reference(kUsers, 1), "a.lnk",
                                            {test::resident_attribute(0x80, pattern(300, 1), "", 4)}));
  // Clusters 80 and 82 hold data, 81 is sparse; the size ends 100 bytes short.
  image.put_cluster(80, pattern(4096, 80));
  image.put_cluster(82, pattern(4096, 82));
  image.put_record(kPagefile,
                   test::file_record(kRoot, "pagefile.sys",
                                     {test::nonresident_attribute(0x80, test::encode_runs({{1, 80}, {1, -1}, {1, 82}}),
                                                                  3 * 4096 - 100, 3 * 4096, "", 4)}));
  image.put_record(kSvi, test::file_record(kRoot, "System Volume Information",
                                           {test::resident_attribute(
                                               0x90, test::index_root({named_entry(kCatalog, make_reference(kSvi, 1),
                                                                                   kCatalogName)}),
                                               "$I30", 5)},
                                           3));
  image.put_record(kCatalog, test::file_record(make_reference(kSvi, 1), kCatalogName, {}));
  return image;
}

class NtfsPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = paths_volume();
    rebuild();
  }
  void rebuild() { ASSERT_TRUE(open_volume(volume_, image_.bytes(), &diag_)); }
  test::VolumeImage image_;
  NtfsVolume volume_;
  std::vector<std::string> diag_;
};

TEST(IndexNode, EntriesUpToTheLastOrTheFirstDamagedOne) {
  const Bytes a = named_entry(20, kRoot, "a"), b = named_entry(21, kRoot, "b"), c = named_entry(22, kRoot, "c");
  auto with = [](Bytes entry, size_t field, uint16_t value) {
    test::set_u16(entry, field, value);
    return entry;
  };
  auto in_use = [](Bytes node, size_t size) {  // the node's in-use size
    test::set_u32(node, 4, static_cast<uint32_t>(size));
    return node;
  };
  struct Case { const char* what; Bytes node; std::set<uint64_t> children; };
  const Case cases[] = {
      {"three entries", test::index_node({a, b, c}), {20, 21, 22}},
      {"a last entry with flags 3 first", test::index_node({with(a, 12, 3), b}), {}},
      {"flags 2 in the middle", test::index_node({a, with(b, 12, 2), c}), {20}},
      {"sub-node flag alone is kept", test::index_node({with(a, 12, 1), b}), {20, 21}},
      {"in-use size over 4,096", in_use(test::index_node({a, b}), 4097), {}},
      {"in-use size 0", in_use(test::index_node({a, b}), 0), {}},
      {"reference 0 ends it", test::index_node({a, with(with(b, 0, 0), 6, 0), c}), {20}},
      {"key longer than the entry", test::index_node({a, with(b, 10, 200), c}), {20}},
      {"next length over 768", test::index_node({a, with(b, 8, 800), c}), {20}},
      {"length 0", test::index_node({with(a, 8, 0), b}), {}},
      // c no longer fits
      {"entries past the in-use size", in_use(test::index_node({a, b, c}), 16 + a.size() + b.size() + 8), {20, 21}},
      {"shorter than a node header", Bytes(7, 0), {}},
  };
  for (const Case& k : cases) {
    std::set<uint64_t> children;
    walk_index_node(k.node, children);
    EXPECT_EQ(children, k.children) << k.what;
  }
}

TEST_F(NtfsPaths, ChildrenFromTheRootNodeAndEveryIndexBlock) {
  std::set<uint64_t> root, children;
  ASSERT_TRUE(list_children(volume_, 5, root) && list_children(volume_, kUsers, children));
  EXPECT_EQ(std::make_pair(root, children),
            std::make_pair(std::set<uint64_t>{kUsers, kPagefile, kSvi}, std::set<uint64_t>{kX, kALnk}));
  // The allocation's blocks with their fixups, as a copy of the attribute.
  mft_entries_ctx context(volume_);
  ASSERT_TRUE(parse_entry(context, kUsers));
  const ParsedAttribute* allocation = context.entry.find(kAttrIndexAllocation, "$i30");
  ASSERT_NE(allocation, nullptr);
  std::vector<uint8_t> copy;
  DataStream stream;
  ASSERT_TRUE(copy_attribute_data(volume_, *allocation, copy, UINT64_MAX, stream));
  ASSERT_EQ(copy.size(), 3 * 4096u);
  Bytes block = test::index_block({named_entry(kX, kUsers, "x")});
  ASSERT_TRUE(apply_fixups(block, 512));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), copy.begin()));
  EXPECT_FALSE(list_children(volume_, 60, children));  // no record there

  // An allocation that claims 2^40 sparse clusters before its one block:
  // only the mapped block is read.
  image_.put_record(kUsers, test::file_record(kRoot, "Users",
                                              {test::resident_attribute(0x90, test::index_root({}), "$I30", 5),
                                               test::nonresident_attribute(
                                                   0xA0, test::encode_runs({{uint64_t{1} << 40, -1}, {1, 52}}),
                                                   UINT64_MAX / 2, UINT64_MAX / 2, "$I30", 6)},
                                              3));
  rebuild();
  children.clear();
  ASSERT_TRUE(list_children(volume_, kUsers, children));
  EXPECT_EQ(children, (std::set<uint64_t>{kALnk}));
}

TEST_F(NtfsPaths, LookupFollowsSegmentsLowerCased) {
  const std::pair<const char*, uint64_t> cases[] = {
      {"pagefile.sys", kPagefile},
      {"PAGEFILE.SYS", kPagefile},
      {"C:\\pagefile.sys", kPagefile},
      {"\\Users\\x", kX},
      {"/users/a.lnk", kALnk},
      {"users\\a.lnk:Zone.Identifier", kALnk},
      {"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy2\\Users\\x", kX},
      {"system volume information\\{3808876B-C176-4E48-B7AE-04046E6CC752}", kCatalog},
      {"\\", 5},
      {"", 0}, {"users\\missing", 0}, {"nothing", 0}, {"users\\x\\deeper", 0}, {"pagefile.sys\\x", 0},
  };
  for (const auto& [path, entry] : cases) {
    uint64_t got = 99;
    EXPECT_EQ(std::make_pair(lookup_path(volume_, path, got), got), std::make_pair(entry != 0, entry)) << path;
  }
}

TEST_F(NtfsPaths, LookupLogsItsStepsAndCachesDirectories) {
  uint64_t got = 0;
  ASSERT_TRUE(lookup_path(volume_, "\\Users\\x", got));
  const std::vector<std::string> first = {
      "anal: \\Users\\x",         "root dir",         "seg: users",
      "info: get children nodes", "info: # children [3]", "info: get children names",
      "info: inode found for seg: users : 0x1e", "seg: x", "info: get children nodes",
      "info: # children [2]",     "info: get children names", "info: inode found for seg: x : 0x1f"};
  EXPECT_EQ(diag_, first);
  diag_.clear();
  ASSERT_TRUE(lookup_path(volume_, "users/a.lnk", got));
  EXPECT_EQ(std::count(diag_.begin(), diag_.end(), "info: cache lookup"), 2);
  diag_.clear();
  EXPECT_FALSE(lookup_path(volume_, "users\\b", got));
  EXPECT_EQ(diag_[diag_.size() - 2] + "|" + diag_.back(), "err: no child nodes|inode not found for users\\b");
  EXPECT_EQ(strip_shadow_copy_prefix("\\\\?\\globalroot\\device\\harddiskvolumeshadowcopy12\\a\\b"), "\\a\\b");
  EXPECT_EQ(strip_shadow_copy_prefix("\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy3"), "");
  EXPECT_EQ(strip_shadow_copy_prefix("\\\\?\\Volume{x}\\a"), "\\\\?\\Volume{x}\\a");
  EXPECT_EQ(strip_shadow_copy_prefix("C:\\a"), "C:\\a");
}

TEST_F(NtfsPaths, ParentPathsNameEveryBreakInTheChain) {
  image_.put_record(50, test::file_record(make_reference(51, 1), "a", {}, 3));
  image_.put_record(51, test::file_record(make_reference(50, 1), "b", {}, 3));
  image_.put_record(52, test::file_record(make_reference(52, 1), "self", {}, 3));
  test::RecordLayout nameless;
  image_.put_record(53, test::mft_record(nameless));
  image_.put_record(54, test::file_record(make_reference(53, 1), "below", {}, 3));
  image_.put_record(55, test::file_record(make_reference(kX, 1), "deep", {}, 3));
  // Freed folders: NTFS raised each sequence number from 1 when it freed the
  // record. 58 was taken again, 59 freed a second time.
  image_.put_record(56, test::file_record(kRoot, "deleted", {}, 2, 2));
  image_.put_record(57, test::file_record(make_reference(56, 1), "inner", {}, 2, 2));
  image_.put_record(58, test::file_record(kRoot, "again", {}, 3, 2));
  image_.put_record(59, test::file_record(kRoot, "twice", {}, 2, 3));
  rebuild();
  volume_.path_cache().remember(73, PathCacheEntry{"wrapped", kRoot, 0, 1, true, false, true});
  volume_.path_cache().remember(70, PathCacheEntry{"gone", kRoot, 0, 3, true});
  volume_.path_cache().remember(71, PathCacheEntry{"scanned", kRoot, 0x10000000, 0, false});
  volume_.path_cache().remember(72, PathCacheEntry{".", kRoot, 0, 0, false});
  const std::pair<uint64_t, const char*> cases[] = {
      {kRoot, "[root]\\"},
      {make_reference(kX, 1), "[root]\\Users\\x\\"},
      {make_reference(55, 0), "[root]\\Users\\x\\deep\\"},  // sequence 0: not checked
      {make_reference(50, 1), "[root]\\<path corrupted>\\b\\a\\"},
      {make_reference(52, 1), "[root]\\<path corrupted>\\self\\"},
      {make_reference(kX, 7), "[root]\\<path corrupted>\\"},
      {make_reference(54, 1), "[root]\\<path corrupted>\\below\\"},
      {make_reference(70, 2), "[root]\\<path corrupted>\\"},
      {make_reference(70, 3), "[root]\\gone\\"},
      {make_reference(71, 9), "[root]\\scanned\\"},
      {make_reference(72, 1), "[root]\\\\"},
      {make_reference(57, 1), "[root]\\deleted\\inner\\"},
      {make_reference(58, 1), "[root]\\<path corrupted>\\"},
      {make_reference(59, 1), "[root]\\<path corrupted>\\"},
      {make_reference(73, 0xFFFF), "[root]\\wrapped\\"},
  };
  for (const auto& [reference, expected] : cases) {
    std::string path;
    EXPECT_EQ(std::make_pair(build_parent_path(volume_, reference, path), path),
              std::make_pair(true, std::string(expected)));
  }
  // The walk cached the directories it read, with their sequence numbers.
  const PathCacheEntry* users = volume_.path_cache().find(kUsers);
  ASSERT_NE(users, nullptr);
  EXPECT_EQ(std::make_tuple(users->name, users->sequence_known), std::make_tuple("Users", true));
  std::string path = "stale";
  EXPECT_EQ(std::make_pair(build_parent_path(volume_, make_reference(60, 1), path), path),
            std::make_pair(false, std::string()));  // unreadable parent
}

// Names in an extension record behind an attribute list; the list names its
// own record too, and a record that belongs to another file.
TEST_F(NtfsPaths, AttributeListsBringInNamesAndDataPieces) {
  Bytes list;
  for (const Bytes& e : {test::attribute_list_entry(0x10, make_reference(kSplit, 1), 0),
                         test::attribute_list_entry(0x20, make_reference(kSplit, 1), 7),
                         test::attribute_list_entry(0x30, make_reference(34, 1), 3),
                         test::attribute_list_entry(0x30, make_reference(35, 1), 3),
                         test::attribute_list_entry(0x30, make_reference(34, 1), 3),
                         test::attribute_list_entry(0x80, make_reference(kSplit, 1), 4),
                         test::attribute_list_entry(0x80, make_reference(34, 1), 5, 2)})
    list.insert(list.end(), e.begin(), e.end());
  test::RecordLayout base;
  base.attributes = {test::resident_attribute(0x10, test::standard_information(1, 2, 3, 4)),
                     test::resident_attribute(0x20, list, "", 7),
                     test::nonresident_attribute(0x80, test::encode_runs({{2, 80}}), 4 * 4096, 4 * 4096, "", 4)};
  image_.put_record(kSplit, test::mft_record(base));
  test::RecordLayout extension;
  extension.base_reference = make_reference(kSplit, 1);
  extension.attributes = {
      test::resident_attribute(0x30, test::file_name(make_reference(kUsers, 1), "ext.lnk"), "", 3),
      test::nonresident_attribute(0x80, test::encode_runs({{2, 90}}), 0, 0, "", 5, 2)};
  image_.put_record(34, test::mft_record(extension));
  test::RecordLayout stranger;
  stranger.base_reference = make_reference(99, 1);
  stranger.attributes = {test::resident_attribute(0x30, test::file_name(kRoot, "other"), "", 3)};
  image_.put_record(35, test::mft_record(stranger));
  image_.put_cluster(90, pattern(8192, 90));
  rebuild();
  mft_entries_ctx context(volume_);
  ASSERT_TRUE(parse_entry(context, kSplit));
  const MftEntry& entry = context.entry;
  ASSERT_EQ(entry.names.size(), 1u);
  EXPECT_EQ(std::make_tuple(entry.names[0].name, entry.has_attribute_list), std::make_tuple("ext.lnk", true));
  const ParsedAttribute* data = entry.find(kAttrData);
  ASSERT_TRUE(data != nullptr && data->runs.size() == 2);
  EXPECT_EQ(std::make_tuple(data->runs[1].start_cluster, data->real_size), std::make_tuple(90, 4 * 4096u));
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(read_entry_data(volume_, kSplit, bytes));
  ASSERT_EQ(bytes.size(), 4 * 4096u);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 4096, pattern(4096, 80).begin()));
  EXPECT_EQ(Bytes(bytes.begin() + 8192, bytes.end()), pattern(8192, 90));
  std::string path;
  ASSERT_TRUE(build_parent_path(volume_, entry.names[0].parent_reference, path));
  EXPECT_EQ(path, "[root]\\Users\\");
}

TEST_F(NtfsPaths, FileDataThroughRunsSparseStretchesAndLimits) {
  std::vector<uint8_t> data;
  FileRequest request;
  request.path = "PAGEFILE.SYS";
  ASSERT_TRUE(read_file(volume_, request));
  EXPECT_EQ(std::make_tuple(request.entry, request.data_size, request.first_cluster_offset),
            std::make_tuple(kPagefile, 3 * 4096 - 100u, 80 * 4096u));
  Bytes expected = pattern(4096, 80);
  expected.resize(8192, 0);
  const Bytes third = pattern(4096, 82);
  expected.insert(expected.end(), third.begin(), third.end() - 100);
  EXPECT_EQ(request.data, expected);
  ASSERT_TRUE(read_entry_data(volume_, kPagefile, data, 100));
  EXPECT_EQ(data, Bytes(expected.begin(), expected.begin() + 100));
  EXPECT_TRUE(read_entry_data(volume_, kALnk, data) && data == pattern(300, 1));
  DataStream stream;
  ASSERT_TRUE(open_entry_data(volume_, kALnk, stream));
  EXPECT_EQ(std::make_tuple(stream.resident, stream.first_cluster_offset), std::make_tuple(true, 0u));
  diag_.clear();
  EXPECT_FALSE(read_entry_data(volume_, kX, data));  // a directory: no unnamed data
  EXPECT_EQ(diag_.back(), "err: no data");
  request = FileRequest{};
  request.path = "users\\nothing";
  EXPECT_FALSE(read_entry_data(volume_, 61, data) || read_file(volume_, request));

  // Data whose runs leave the volume after 16 clusters: the first chunk
  // comes back, the copy ends at the chunk it cannot read.
  image_.put_record(56, test::file_record(kRoot, "long",
                                          {test::nonresident_attribute(
                                              0x80, test::encode_runs({{16, 100}, {16, 5000}}), 32 * 4096, 32 * 4096,
                                              "", 4)}));
  // Past the initialized size a file reads as zeros, after a sparse run
  // too; only a reader that asks (the shadow-copy catalog, which Windows
  // keeps with an initialized size of 0) gets the clusters as they are.
  Bytes uninitialized = test::nonresident_attribute(0x80, test::encode_runs({{1, 82}}), 4096, 4096, "", 4);
  test::set_u32(uninitialized, 56, 0);
  image_.put_record(57, test::file_record(kRoot, "catalog-like", {uninitialized}));
  Bytes partly = test::nonresident_attribute(0x80, test::encode_runs({{1, -1}, {1, 82}}), 8192, 8192, "", 4);
  test::set_u32(partly, 56, 4096 + 600);
  image_.put_record(59, test::file_record(kRoot, "partly.lnk", {partly}));
  rebuild();
  ASSERT_TRUE(read_entry_data(volume_, 56, data));
  EXPECT_EQ(data.size(), 16 * 4096u);
  EXPECT_TRUE(read_entry_data(volume_, 57, data, kDefaultDataLimit, true) && data == pattern(4096, 82));
  EXPECT_TRUE(read_entry_data(volume_, 57, data) && data == Bytes(4096, 0));
  Bytes initialized(4096, 0);
  const Bytes head = pattern(600, 82);
  initialized.insert(initialized.end(), head.begin(), head.end());
  initialized.resize(8192, 0);
  EXPECT_TRUE(read_entry_data(volume_, 59, data) && data == initialized);

  // Sizes and sparse runs cost nothing to claim: what is copied stops at
  // the limit, data_size still tells the claim.
  image_.put_record(58, test::file_record(kRoot, "vast",
                                          {test::nonresident_attribute(
                                              0x80, test::encode_runs({{1, 80}, {uint64_t{1} << 40, -1}}),
                                              uint64_t{1} << 50, uint64_t{1} << 50, "", 4)}));
  rebuild();
  request = FileRequest{};
  request.entry = 58;
  request.max_bytes = 3 << 20;
  ASSERT_TRUE(read_file(volume_, request));
  EXPECT_EQ(std::make_tuple(request.data.size(), request.data_size), std::make_tuple(3u << 20, uint64_t{1} << 50));
  EXPECT_TRUE(std::equal(request.data.begin(), request.data.begin() + 4096, pattern(4096, 80).begin()));
}

// LZNT1 by hand: a chunk header over a body, bodies of literals, and a
// back-reference word for a given displacement and length.
Bytes lznt1_chunk(const Bytes& body, bool compressed = true) {
  Bytes chunk(2);
  test::set_u16(chunk, 0, static_cast<uint16_t>((compressed ? 0xB000 : 0x3000) | (body.size() - 1)));
  chunk.insert(chunk.end(), body.begin(), body.end());
  return chunk;
}
Bytes literals(const std::string& text) {
  Bytes body;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i % 8 == 0) body.push_back(0);
    body.push_back(static_cast<uint8_t>(text[i]));
  }
  return body;
}
// Up to seven literals, then one back-reference (the chunk's first tokens).
Bytes with_match(const std::string& text, uint32_t displacement, uint32_t length) {
  Bytes body = {static_cast<uint8_t>(1u << text.size())};
  for (char c : text) body.push_back(static_cast<uint8_t>(c));
  uint32_t length_bits = 12;
  for (uint64_t p = text.size() - 1; text.size() > 0 && p >= 0x10; p >>= 1) --length_bits;
  const uint32_t word = ((displacement - 1) << length_bits) | (length - 3);
  body.push_back(static_cast<uint8_t>(word));
  body.push_back(static_cast<uint8_t>(word >> 8));
  return body;
}
Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
// The 59-byte example of the public LZNT1 description and what it holds.
const Bytes kXcaExample = {0x38, 0xb0, 0x88, 0x46, 0x23, 0x20, 0x00, 0x20, 0x47, 0x20, 0x41, 0x00, 0x10, 0xa2, 0x47,
                           0x01, 0xa0, 0x45, 0x20, 0x44, 0x00, 0x08, 0x45, 0x01, 0x50, 0x79, 0x00, 0xc0, 0x45, 0x20,
                           0x05, 0x24, 0x13, 0x88, 0x05, 0xb4, 0x02, 0x4a, 0x44, 0xef, 0x03, 0x58, 0x02, 0x8c, 0x09,
                           0x16, 0x01, 0x48, 0x45, 0x00, 0xbe, 0x00, 0x9e, 0x00, 0x04, 0x01, 0x18, 0x90, 0x00};
const std::string kXcaText =
    "F# F# G A A G F# E D D E F# F# E E F# F# G A A G F# E D D E F# E D D E E F# D E F# G F# D E F# G F# E D E A "
    "F# F# G A A G F# E D D E F# E D D";

// The unit as it must come out: the texts at their offsets, zeros elsewhere.
Bytes unit_with(size_t size, std::initializer_list<std::pair<size_t, std::string>> texts) {
  Bytes out(size, 0);
  for (const auto& [at, text] : texts) std::copy(text.begin(), text.end(), out.begin() + static_cast<ptrdiff_t>(at));
  return out;
}

std::string abab(size_t size) {
  std::string t;
  while (t.size() < size) t += "ab";
  return t.substr(0, size);
}

TEST(Lznt1, ChunksFillTheirPlacesAndDamageEndsTheUnit) {
  struct Case {
    const char* what;
    Bytes input;
    Bytes expected;  // the whole output buffer
    uint64_t decoded;
    bool complete;
  };
  const Case cases[] = {
      {"the public example", kXcaExample, unit_with(4096, {{0, kXcaText + '\0'}}), 4096, true},
      {"a short chunk: the next one starts 4,096 bytes on",
       joined({lznt1_chunk(literals("abc")), lznt1_chunk(literals("xyz"))}),
       unit_with(8192, {{0, "abc"}, {4096, "xyz"}}), 8192, true},
      {"a stored chunk inside a compressed unit", lznt1_chunk(Bytes(4096, 'z'), false),
       unit_with(4096, {{0, std::string(4096, 'z')}}), 4096, true},
      {"a match overlapping its own output", lznt1_chunk(with_match("ab", 2, 4094)), unit_with(4096, {{0, abab(4096)}}),
       4096, true},
      {"a zero header ends the unit", joined({lznt1_chunk(literals("abc")), Bytes{0, 0}, lznt1_chunk(literals("xyz"))}),
       unit_with(8192, {{0, "abc"}}), 8192, true},
      {"chunks after a full unit are not read", joined({lznt1_chunk(literals("abc")), lznt1_chunk(literals("xyz"))}),
       unit_with(4096, {{0, "abc"}}), 4096, true},
      {"a back-reference as the first token", lznt1_chunk({0x01, 0x00, 0x00}), Bytes(4096, 0), 0, false},
      {"a back-reference into the chunk before",
       joined({lznt1_chunk(literals("abc")), lznt1_chunk(with_match("xy", 3, 3))}),
       unit_with(8192, {{0, "abc"}, {4096, "xy"}}), 4098, false},
      {"a match past the chunk's 4,096 bytes", lznt1_chunk(with_match("ab", 2, 4095)), unit_with(4096, {{0, "ab"}}), 2,
       false},
      {"a match word cut by the chunk's end", lznt1_chunk({0x02, 'a', 0x05}), unit_with(4096, {{0, "a"}}), 1, false},
      {"a header claiming more bytes than the unit's clusters hold",
       joined({lznt1_chunk(literals("abc")), Bytes{0x63, 0xB0, 0x00, 'x'}}), unit_with(8192, {{0, "abc"}}), 4096,
       false},
      {"a stored chunk larger than a small unit", lznt1_chunk(Bytes(4096, 'z'), false), Bytes(2048, 0), 0, false},
  };
  for (const Case& c : cases) {
    Bytes out(c.expected.size(), 0xEE);
    const Lznt1Result result = decode_lznt1(c.input, out);
    EXPECT_EQ(std::make_pair(result.decoded, result.complete), std::make_pair(c.decoded, c.complete)) << c.what;
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<ptrdiff_t>(result.decoded)),
              Bytes(c.expected.begin(), c.expected.begin() + static_cast<ptrdiff_t>(result.decoded)))
        << c.what;
  }
  // Every cut of a real chunk ends cleanly with what came before the cut.
  for (size_t cut = 0; cut < kXcaExample.size(); ++cut) {
    Bytes out(4096);
    const Lznt1Result result = decode_lznt1(std::span(kXcaExample).first(cut), out);
    EXPECT_EQ(std::make_pair(result.complete, result.decoded), std::make_pair(cut < 2, uint64_t{cut < 2 ? 4096u : 0u}))
        << cut;
  }
}

// A compressed file of four 16-cluster units: stored whole, compressed,
// sparse, and compressed again past its initialized size.
TEST_F(NtfsPaths, CompressedDataUnitByUnit) {
  constexpr uint64_t kUnit = 16 * 4096;
  const uint64_t real = 4 * kUnit - 100, initialized = 3 * kUnit + 5000;
  image_.put_cluster(100, pattern(kUnit, 3));
  image_.put_cluster(121, joined({lznt1_chunk(with_match("ab", 2, 4094)), lznt1_chunk(with_match("ab", 2, 4094))}));
  auto put_file = [&](uint64_t entry, const Bytes& second_unit, uint8_t compression_unit) {
    const int64_t second = static_cast<int64_t>(entry) + 62;  // clusters 122 to 124
    image_.put_cluster(static_cast<uint64_t>(second), second_unit);
    Bytes data = test::nonresident_attribute(
        0x80, test::encode_runs({{16, 100}, {1, second}, {15, -1}, {16, -1}, {1, 121}, {15, -1}}), real, 4 * kUnit, "",
        4);
    test::set_u16(data, 12, kAttrFlagCompressed);
    data[34] = compression_unit;
    test::set_u32(data, 56, static_cast<uint32_t>(initialized));
    image_.put_record(entry, test::file_record(kRoot, "c.lnk", {data}));
  };
  put_file(60, joined({kXcaExample, lznt1_chunk(literals("tail"))}), 4);
  put_file(61, joined({kXcaExample, lznt1_chunk(with_match("xy", 5, 3))}), 4);
  put_file(62, kXcaExample, 0);
  rebuild();

  Bytes expected = pattern(kUnit, 3);
  const Bytes second = unit_with(kUnit, {{0, kXcaText}, {4096, "tail"}});
  expected.insert(expected.end(), second.begin(), second.end());
  expected.resize(3 * kUnit, 0);
  const Bytes fourth = unit_with(kUnit - 100, {{0, abab(5000)}});
  expected.insert(expected.end(), fourth.begin(), fourth.end());
  FileRequest request;
  request.entry = 60;
  ASSERT_TRUE(read_file(volume_, request));
  EXPECT_EQ(std::make_tuple(request.data_size, request.first_cluster_offset), std::make_tuple(real, 100 * 4096u));
  EXPECT_TRUE(request.data == expected);

  // A damaged chunk ends the data where its good bytes end.
  request.entry = 61;
  EXPECT_TRUE(read_file(volume_, request) && request.data_size == real);
  Bytes damaged(expected.begin(), expected.begin() + kUnit + 4096);
  damaged.insert(damaged.end(), {'x', 'y'});
  EXPECT_TRUE(request.data == damaged);

  // The compressed flag without a compression unit is refused, and said so.
  diag_.clear();
  request.entry = 62;
  EXPECT_FALSE(read_file(volume_, request));
  EXPECT_EQ(diag_.front(), "err: compression unit 2^0 clusters not read");

}

// Files compressed with WOF, built with chunks stored as they are (wimlib's
// own chunks come from make_ntfs_hidden.sh): four 4 KiB chunks through the
// table, one placed at its bytes in the stream; a table entry past the
// stream ends the data there; an unknown algorithm is named.
TEST_F(NtfsPaths, WofCompressedFilesChunkByChunk) {
  const Bytes text = pattern(3 * 4096 + 1000, 9);
  Bytes stream;
  for (uint32_t chunk = 1; chunk < 4; ++chunk) test::put_u32(stream, chunk * 4096);
  stream.insert(stream.end(), text.begin(), text.end());
  auto put_file = [&](uint64_t entry, uint32_t algorithm, const Bytes& packed) {
    Bytes reparse(24, 0);
    for (const auto& [at, word] : {std::pair<size_t, uint32_t>{0, 0x80000017}, {8, 1}, {12, 2}, {16, 1}, {20, algorithm}})
      test::set_u32(reparse, at, word);
    image_.put_bytes(130 * 4096, packed);
    image_.put_record(entry, test::file_record(
                                 kRoot, "w" + std::to_string(entry) + ".lnk",
                                 {test::nonresident_attribute(0x80, test::encode_runs({{4, -1}}), text.size(), 4 * 4096, "", 4),
                                  test::nonresident_attribute(0x80, test::encode_runs({{4, 130}}), packed.size(),
                                                              4 * 4096, "WofCompressedData", 6),
                                  test::resident_attribute(0xC0, reparse, "", 5)}));
  };
  put_file(60, 0, stream);
  put_file(63, 9, stream);
  rebuild();
  FileRequest request;
  request.entry = 63;
  EXPECT_TRUE(read_file(volume_, request));
  EXPECT_EQ(request.gap, DataGap::wof_not_decoded);
  EXPECT_EQ(diag_.back(), "err: WofCompressedData not decoded (a provider or algorithm not known): inode 0x3f w63.lnk");
  request.entry = 60;
  ASSERT_TRUE(read_file(volume_, request));
  if (!wof_codec_available()) {
    EXPECT_EQ(diag_.back(), "err: WofCompressedData not decoded (this build lacks wimlib): inode 0x3c w60.lnk");
    return;
  }
  EXPECT_EQ(std::make_tuple(request.gap, request.data_size, request.data_attribute_id, request.first_cluster_offset),
            std::make_tuple(DataGap::none, uint64_t{text.size()}, uint16_t{4}, uint64_t{130 * 4096}));
  EXPECT_TRUE(request.data == text);
  uint64_t placed = 0;
  EXPECT_TRUE(request.data_stream.map(2 * 4096 + 5, placed) && placed == 130 * 4096 + 12 + 2 * 4096);
  test::set_u32(stream, 4, static_cast<uint32_t>(stream.size()));  // the third chunk starts past the stream
  put_file(60, 0, stream);
  rebuild();
  ASSERT_TRUE(read_file(volume_, request));
  EXPECT_TRUE(request.data == Bytes(text.begin(), text.begin() + 4096));
  EXPECT_EQ(diag_.back(), "err: WofCompressedData damaged from offset 0x1000: inode 0x3c");
}

TEST(ShadowCatalog, EntriesOfOneStoreMeetUnderItsKey) {
  std::array<uint8_t, kCatalogHeaderSize> header{};
  std::vector<ShadowStore> stores;
  EXPECT_TRUE(decode_shadow_catalog(Bytes(127, 1), header, stores));
  EXPECT_EQ(std::make_pair(stores.size(), header[0]), std::make_pair(size_t{0}, uint8_t{0}));
  ASSERT_TRUE(decode_shadow_catalog(catalog_bytes(), header, stores));
  EXPECT_EQ(header[127], 0xC0);
  ASSERT_EQ(stores.size(), 2u);  // the type 1 entry is skipped
  EXPECT_EQ(std::tie(stores[0].key, stores[0].has_information, stores[0].has_location, stores[0].creation_time),
            std::make_tuple("bbaa765b-8204-11eb-90f4-080027768df7", true, false, 1234u));
  EXPECT_EQ(std::make_tuple(stores[1].key, stores[1].has_information, stores[1].has_location, stores[1].creation_time,
                            stores[1].volume_size, stores[1].header_offset,
                            reference_entry(stores[1].store_file_reference)),
            std::make_tuple("bbaa7663-8204-11eb-90f4-080027768df7", true, true, 5678u, 5u << 30, 70 * 4096u, 0x77u));
}

}  // namespace
}  // namespace lnk
