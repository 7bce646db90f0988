// The NTFS layer and the MFT scan against sleuthkit on every fixture and
// corpus volume, and the passes that carve clusters; where each record came
// from, whatever the layout; the CSV header's jump-list columns; every line
// of every layout is UTF-8.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "carve/carve_context.h"
#include "carve/source_type.h"
#include "jumplist/appid_names.h"
#include "lnk/parse_lnk.h"
#include "ntfs/file_data.h"
#include "ntfs/mft_record.h"
#include "ntfs/path_lookup.h"
#include "ntfs/shadow_catalog.h"
#include "scan/mft_scan.h"
#include "storage/file_source.h"
#include "storage/memory_source.h"
#include "storage/window_source.h"
#include "tests/cfb_builder.h"
#include "tests/delimited_lines.h"
#include "tests/image_test_support.h"
#include "tests/lnk_builder.h"
#include "tests/ntfs_builder.h"
#include "tests/ntfs_reference.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

namespace fs = std::filesystem;
using test::contains;
using test::Bytes;

struct Found { LnkRecord record; SourceInfo source; };

std::vector<Found> scan(const std::string& image, uint64_t start, useropts options) {
  std::vector<Found> found;
  RecordOutlet outlet([&](const LnkRecord& r, const SourceInfo& s) { found.push_back({r, s}); });
  NtfsVolume volume;
  EXPECT_TRUE(volume.open_image(image, start));
  EXPECT_TRUE(scan_volume(volume, SourceInfo{}, options, outlet));
  return found;
}

useropts record_pass() {
  useropts options;
  options.ntfs_scan = true;
  return options;
}

TEST(ScanFileKind, ByTheExtensionAfterTheLastDot) {
  const std::pair<const char*, ScanFileKind> cases[] = {
      {"report.LNK", ScanFileKind::shortcut}, {"a.b.lnk", ScanFileKind::shortcut}, {"lnk", ScanFileKind::none},
      {"x.lnk.txt", ScanFileKind::none}, {"a.foo-ms", ScanFileKind::none}, {"a.destinations-ms", ScanFileKind::none},
      {"5f7b5f1e01b83767.automaticDestinations-ms", ScanFileKind::automatic_jump_list},
      {"28c8b86deab549a1.customDestinations-ms", ScanFileKind::custom_jump_list},
      {"x.CUSTOMDESTINATIONS-MS", ScanFileKind::custom_jump_list},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(scan_file_kind(name), kind) << name;
}

// Each fixture and corpus volume against sleuthkit and vshadowinfo: every
// shortcut and jump list fls names, allocated or deleted, is reported under
// its path with istat's facts and nothing else is.
struct SweepVolume {
  const char* name;
  const char* archive;     // below the corpus folder; null: a committed fixture
  const char* raw;         // the image's name once unpacked
  uint64_t sector_offset;  // where mmls places the NTFS partition
  int selected;            // shortcuts and jump lists; -1: as many as fls lists
  size_t deleted, compressed;  // of them deleted; compressed files compared, at least
  size_t stores;           // shadow copies the catalog describes
};
void PrintTo(const SweepVolume& v, std::ostream* out) { *out << v.name; }

const SweepVolume kSweep[] = {
    // resident, report.LNK, x.lnk\inside, dosonly, big, fragmented, the
    // linked file, both jump lists, and the deleted one.
    {"ntfs_small", nullptr, "ntfs_small.img", 0, 10, 1, 0, 1},
    {"ntfs_4k", nullptr, "ntfs_4k.img", 0, 2, 0, 0, 0},
    // A profile: compressed shortcuts and custom list, a deleted tree's three
    // and an orphan.
    {"ntfs_compressed", nullptr, "ntfs_compressed.img", 0, 8, 4, 4, 0},
    {"vsstest", "images/vsstest.qcow2", "vsstest.raw", 0, -1, 0, 0, 2},
    {"windows_volume", "images/windows_volume.qcow2", "windows_volume.raw", 0, -1, 0, 0, 0},
    {"ntfs_2m", "images/ntfs-samples/ntfs-2m.raw.gz", "ntfs-2m.raw", 128, -1, 0, 0, 0},
    {"ntfs_lastaccess", "images/ntfs-samples/ntfs-lastaccess.raw.gz", "ntfs-lastaccess.raw", 128, -1, 0, 0, 0},
    {"ntfs_ramslack", "images/ntfs-samples/ntfs-ramslack.raw.gz", "ntfs-ramslack.raw", 128, -1, 0, 0, 0},
    {"ntfs_si_vs_fn", "images/ntfs-samples/ntfs-si-vs-fn.raw.gz", "ntfs-si-vs-fn.raw", 128, -1, 0, 0, 0},
    {"ntfs_samples", "images/ntfs-samples/ntfs.tgz", "ntfs.raw", 2048, -1, 0, 0, 2},
    {"ntfs_index", "images/dfir_ntfs/ntfs_index.raw.gz", "ntfs_index.raw", 128, -1, 0, 0, 0},
    {"vss_1_vol", "images/dfir_ntfs/vss_1_vol.tar.gz", "vss_1_vol.raw", 67584, -1, 0, 0, 2},
    {"vss_2_stor", "images/dfir_ntfs/vss_2_stor.tar.gz", "vss_2_stor.raw", 67584, -1, 0, 0, 3},
    {"vss_3_volstor_1", "images/dfir_ntfs/vss_3_volstor.tar.gz", "vss_3_volstor.raw", 2048, -1, 0, 0, 2},
    {"vss_3_volstor_2", "images/dfir_ntfs/vss_3_volstor.tar.gz", "vss_3_volstor.raw", 4196352, -1, 0, 0, 2},
    {"vss_2003", "images/dfir_ntfs/vss_2003.tgz", "vss_2003.raw", 63, -1, 0, 0, 6},
};

class NtfsSweep : public ::testing::TestWithParam<SweepVolume> {};

TEST_P(NtfsSweep, LayerAndScanAgreeWithSleuthkit) {
  const SweepVolume& v = GetParam();
  if (!test::have_tools({"fls", "istat", "icat"})) GTEST_SKIP() << "sleuthkit (fls, istat, icat) is not installed";
  const test::ScratchDir scratch("sweep");
  const fs::path image = v.archive ? test::corpus_raw_image(v.archive, v.raw)
                                   : test::unpack_ntfs_fixtures(scratch.path) ? scratch.path / v.raw : fs::path();
  if (image.empty()) GTEST_SKIP() << v.raw << " absent or cannot be unpacked";
  std::unique_ptr<FileSource> file = FileSource::open(image.string());
  ASSERT_NE(file, nullptr);
  WindowSource window(*file, v.sector_offset * 512, UINT64_MAX);
  NtfsVolume volume;
  volume.attach(window, 0);
  ASSERT_TRUE(volume.validate());

  // A volume whose stores live on another volume has type 2 entries only;
  // the volume holding them has type 3 entries for the other's copies too.
  std::array<uint8_t, kCatalogHeaderSize> header{};
  std::vector<ShadowStore> stores;
  EXPECT_EQ(read_shadow_catalog(volume, header, stores), v.stores != 0);
  EXPECT_EQ(stores.size(), v.stores);
  std::set<std::string> described, listed;
  for (const ShadowStore& s : stores) {
    if (s.has_information) described.insert(s.key);
    if (!s.has_location) continue;
    EXPECT_NE(reference_entry(s.store_file_reference), 0u) << s.key;
    EXPECT_EQ(s.header.size(), kStoreHeaderSize) << s.key;
  }
  if (v.archive && v.stores != 0 && test::have_tools({"vshadowinfo"})) {
    const std::string text =
        test::shell("vshadowinfo -o " + std::to_string(v.sector_offset * 512) + " " + test::q(image)).out;
    const std::regex identifier(R"(Identifier\s*: ([0-9a-f-]{36}))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), identifier); it != std::sregex_iterator(); ++it)
      listed.insert((*it)[1]);
    EXPECT_EQ(described, listed);
  }

  if (test::fls_names(image.string(), v.sector_offset).empty()) {
    // sleuthkit cannot open 2 MiB clusters; the layer still walks the volume.
    EXPECT_GT(test::layer_entries(volume).size(), 16u);
    return;
  }
  const test::Comparison c = test::compare_with_sleuthkit(volume, image.string(), v.sector_offset, 30);
  std::cout << v.name << ": " << c << "\n";
  EXPECT_GT(c.layer_names, 16u);
  if (v.selected >= 0) {
    EXPECT_EQ(c.selected.size(), static_cast<size_t>(v.selected));
    EXPECT_EQ(c.selected_deleted, v.deleted);
  }
  EXPECT_GE(c.compressed_checked, v.compressed);

  std::map<uint64_t, std::vector<const Found*>> by_entry;
  const std::vector<Found> found = scan(image.string(), v.sector_offset * 512, record_pass());
  for (const Found& f : found) by_entry[f.source.src_inode].push_back(&f);
  for (const auto& [entry, selected] : c.selected) {
    const auto hit = by_entry.find(entry);
    const std::string& name = selected.names.front();
    const bool jump_list = scan_file_kind(name) != ScanFileKind::shortcut;
    // A jump list that holds no shortcut, or a shortcut that does not parse,
    // gives no record; everything else must be there.
    LnkRecord alone;
    const bool parses = parse_lnk_record(alone, selected.data, 0);
    if (hit == by_entry.end()) {
      EXPECT_TRUE(jump_list || !parses) << "not reported: " << name;
      continue;
    }
    const test::IstatFacts& facts = selected.facts;
    for (const Found* f : hit->second) {
      const std::string& type = f->record.source_type;
      // A file with hard links has one entry and several names; fls lists each.
      EXPECT_TRUE(std::any_of(selected.names.begin(), selected.names.end(),
                              [&](const std::string& s) { return type.rfind(s, 0) == 0; }))
          << type << " is none of the names of entry " << entry;
      const SourceInfo& s = f->source;
      EXPECT_EQ(std::make_tuple(s.src_seq, s.source_created, s.source_modified, s.source_mft_changed,
                                s.source_accessed, s.source_file_size, s.mft_scan),
                std::make_tuple(facts.sequence, facts.created, facts.modified, facts.mft_changed, facts.accessed,
                                facts.data_size, true))
          << type;
    }
    if (!jump_list) {
      ASSERT_EQ(hit->second.size(), 1u) << name;
      ASSERT_TRUE(parses) << name;
      EXPECT_EQ(hit->second[0]->record.parsed_size, alone.parsed_size) << name;
      // Placed through the runs; a compressed unit where its chunks begin.
      if (facts.first_cluster != 0) {
        EXPECT_EQ(hit->second[0]->record.lnk_offset,
                  v.sector_offset * 512 + facts.first_cluster * volume.cluster_size())
            << name;
      }
    }
  }
  for (const auto& [entry, list] : by_entry) EXPECT_TRUE(c.selected.count(entry)) << list[0]->record.source_type;
}

INSTANTIATE_TEST_SUITE_P(Volumes, NtfsSweep, ::testing::ValuesIn(kSweep),
                         [](const ::testing::TestParamInfo<SweepVolume>& info) { return info.param.name; });

// What the hidden-files fixture cannot hold (ntfs-3g writes no 8.3 names,
// sleuthkit refuses torn records): a jump list of three names, the 8.3
// one in the folder of a long one; a torn record; a "BAAD" one.
TEST(ScanBuilt, ShortNamesTornAndBadRecordsAndTheirNotes) {
  constexpr uint64_t kRoot = make_reference(5, 5), kDocs = make_reference(20, 1), kOld = make_reference(21, 1);
  const Bytes lnk = test::sample_shortcut();
  test::VolumeImage image = test::basic_volume(test::VolumeLayout{}, {});
  image.put_record(20, test::file_record(kRoot, "docs", {}, 3));
  image.put_record(21, test::file_record(kRoot, "old", {}, 3));
  test::RecordLayout links;
  links.attributes = {test::resident_attribute(0x30, test::file_name(kDocs, "recent.automaticDestinations-ms"), "", 1),
                      test::resident_attribute(0x30, test::file_name(kDocs, "RECENT~1.AUT", 2), "", 2),
                      test::resident_attribute(0x30, test::file_name(kOld, "5f7b5f1e01b83767.automaticDestinations-ms"),
                                               "", 3),
                      test::nonresident_attribute(0x80, test::encode_runs({{1, 100}}), lnk.size(), 4096, "", 4)};
  image.put_record(24, test::mft_record(links));
  image.put_cluster(100, lnk);
  Bytes torn = test::file_record(kDocs, "torn.lnk", {test::nonresident_attribute(0x80, test::encode_runs({{1, 100}}),
                                                                                 lnk.size(), 4096, "", 4)});
  torn[510] ^= 0xFF;  // a sector end that no longer holds the sequence number
  image.put_record(25, torn);
  std::memcpy(torn.data(), "BAAD", 4);
  image.put_record(26, torn);

  NtfsVolume volume;
  std::vector<std::string> diag;
  volume.attach(std::make_unique<OwnedMemorySource>(image.bytes()), 0);
  volume.set_diag_sink([&diag](const std::string& line) { diag.push_back(line); });
  ASSERT_TRUE(volume.validate());
  std::map<std::string, Found> by_path;
  RecordOutlet outlet([&](const LnkRecord& r, const SourceInfo& s) { by_path[s.volume_path] = {r, s}; });
  ScanNotes notes;
  ASSERT_TRUE(scan_volume(volume, SourceInfo{}, record_pass(), outlet, &notes));
  const std::string listed = "[root]\\old\\5f7b5f1e01b83767.automaticDestinations-ms";
  ASSERT_EQ(by_path.size(), 2u);
  EXPECT_EQ(std::make_tuple(by_path[listed].source.app_id, by_path[listed].source.other_paths),
            std::make_tuple(std::string("5f7b5f1e01b83767"),
                            std::vector<std::string>{"[root]\\docs\\recent.automaticDestinations-ms"}));
  EXPECT_TRUE(by_path["[root]\\docs\\torn.lnk"].source.damaged_record);
  EXPECT_FALSE(by_path[listed].source.damaged_record);
  EXPECT_EQ(std::count(diag.begin(), diag.end(),
                       "err: damaged record 0x19: a sector end does not hold the update sequence number; read as it is"),
            1);
  EXPECT_EQ(scan_note_lines(notes, false),
            (std::vector<std::string>{"1 torn MFT record read as it is (update sequence mismatch; records from them "
                                      "say damaged_record); -diags FILE names them",
                                      "1 MFT record marked BAAD not read; -diags FILE names them"}));
}

class ScanFixture : public test::ScratchDirTest {
 protected:
  void SetUp() override {
    test::ScratchDirTest::SetUp();
    if (!test::unpack_ntfs_fixtures(dir_)) GTEST_SKIP() << "tar with xz is needed to unpack the fixture volumes";
  }
  std::string image(const char* name) const { return (dir_ / name).string(); }
};

// The fixture of hidden files (make_ntfs_hidden.sh): shortcuts in streams
// and the stale tail as fls names them and icat copies them (zeros past the
// initialized size), the WOF-compressed copies in four chunk sizes as their
// plain twin, the AppID from the one name of eleven that carries it, the
// torn record that sleuthkit refuses.
TEST_F(ScanFixture, HiddenFilesAgreeWithSleuthkitAndTheirPlainBytes) {
  if (!test::have_tools({"fls", "icat"})) GTEST_SKIP() << "sleuthkit (fls, icat) is not installed";
  const std::string hidden = image("ntfs_hidden.img");
  std::map<std::string, Found> by_path;
  for (Found& f : scan(hidden, 0, record_pass())) by_path[f.source.volume_path] = std::move(f);
  auto fields = [](const LnkRecord& r) {
    return std::make_tuple(r.parsed_size, r.header.link_flags, r.header.write_time, r.volume_label,
                           r.target_mft_entry, r.shell_items.size());
  };
  const std::string fls = test::shell("fls -r -p " + test::q(hidden)).out;
  for (const char* listed : {"docs/readme.txt:x.lnk", "folder:y.lnk", "docs/stale.lnk"}) {
    const size_t at = fls.find(std::string(":\t") + listed + "\n"), start = fls.rfind(' ', at) + 1;
    ASSERT_NE(at, std::string::npos) << listed;
    const std::string inode = fls.substr(start, at - start);
    const std::string text = test::shell("icat " + test::q(hidden) + " " + inode).out;
    std::string path = "[root]\\" + std::regex_replace(listed, std::regex("/"), "\\");
    ASSERT_TRUE(by_path.count(path)) << path;
    LnkRecord alone;
    ASSERT_TRUE(parse_lnk_record(alone, Bytes(text.begin(), text.end()), 0));
    const SourceInfo& s = by_path[path].source;
    EXPECT_EQ(std::make_tuple(fields(by_path[path].record), s.source_file_size, s.data_attribute_id),
              std::make_tuple(fields(alone), text.size(), std::stoi(inode.substr(inode.rfind('-') + 1))))
        << path;
    EXPECT_TRUE(path != "[root]\\docs\\stale.lnk" || text.find_first_not_of('\0', alone.parsed_size) == std::string::npos);
  }
  EXPECT_EQ(by_path["[root]\\folder:y.lnk"].source.stream, "y.lnk");
  const Found& plain = by_path["[root]\\wof\\original.lnk"];
  for (const char* name : {"xpress4k", "xpress8k", "xpress16k", "lzx"}) {
    const Found& packed = by_path[std::string("[root]\\wof\\") + name + ".lnk"];
    EXPECT_EQ(std::make_tuple(fields(packed.record), packed.source.source_file_size),
              std::make_tuple(fields(plain.record), plain.source.source_file_size)) << name;
  }
  const SourceInfo& listed = by_path["[root]\\old\\5f7b5f1e01b83767.automaticDestinations-ms"].source;
  EXPECT_EQ(std::make_tuple(listed.app_id, listed.other_paths.size(), listed.other_paths.front()),
            std::make_tuple(std::string("5f7b5f1e01b83767"), size_t{10},
                            std::string("[root]\\docs\\recent.automaticDestinations-ms")));
  EXPECT_TRUE(by_path["[root]\\docs\\torn.lnk"].source.damaged_record);
  EXPECT_NE(fls.find("r/- 81:\tdocs/torn.lnk\n"), std::string::npos) << "sleuthkit reads the torn record now";
  EXPECT_EQ(by_path.size(), 10u);
}

// The image opened as a device (whole-sector reads) and as a volume path
// reads the same as the image file.
TEST_F(ScanFixture, OpenModesDeletedResidentAndTheClusterPasses) {
  std::vector<uint8_t> first;
  for (uint32_t mode : {kOpenImageFile, kOpenDevicePath, kOpenVolumeLetter}) {
    NtfsVolume volume;
    ASSERT_TRUE(volume.open_path(image("ntfs_small.img"), mode)) << mode;
    EXPECT_EQ(volume.mode(), mode);
    ASSERT_TRUE(volume.validate()) << mode;
    ASSERT_NE(volume.disk(), nullptr);
    EXPECT_EQ(volume.disk()->kind(), mode == kOpenImageFile     ? kSourceImageFile
                                     : mode == kOpenDevicePath ? kSourceDevicePath
                                                               : kSourceVolumeLetter);
    uint64_t entry = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(lookup_path(volume, "Users\\alice\\Desktop\\fragmented.lnk", entry));
    ASSERT_TRUE(read_entry_data(volume, entry, data));
    if (first.empty()) first = data;
    EXPECT_TRUE(data == first) << mode;
    EXPECT_EQ(data.size(), 33486u);
  }

  NtfsVolume volume;
  ASSERT_TRUE(volume.open_image(image("ntfs_small.img"), 0));
  ASSERT_TRUE(volume.validate());
  uint64_t resident = 0;
  ASSERT_TRUE(lookup_path(volume, "resident.lnk", resident));

  {
    // One progress line over the whole scan: no file starts a percentage of
    // its own at 0, and the entry shown only goes forward.
    RecordOutlet outlet([](const LnkRecord&, const SourceInfo&) {});
    outlet.set_progress(true);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(scan_volume(volume, SourceInfo{}, record_pass(), outlet));
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(contains(shown, "percent done")) << shown;
    long long last = -1, lines = 0;
    for (size_t at = shown.find("entry "); at != std::string::npos; at = shown.find("entry ", at + 1), ++lines) {
      const long long entry = std::stoll(shown.substr(at + 6));
      EXPECT_GE(entry, last);
      last = entry;
    }
    EXPECT_GT(lines, 1);
  }
  std::map<std::string, const Found*> by_type;
  const std::vector<Found> found = scan(image("ntfs_small.img"), 0, record_pass());
  for (const Found& f : found) by_type[f.record.source_type] = &f;
  ASSERT_TRUE(by_type.count("[root]\\Users\\alice\\Recent\\gone.lnk (deleted)"));
  ASSERT_TRUE(by_type.count("[root]\\resident.lnk"));
  // Resident data lies in its MFT record: the record's place is the offset.
  EXPECT_EQ(by_type["[root]\\resident.lnk"]->record.lnk_offset, volume.record_offset(resident));
  // A directory named like a shortcut is only a directory.
  EXPECT_FALSE(by_type.count("[root]\\x.lnk"));
  EXPECT_TRUE(by_type.count("[root]\\x.lnk\\inside.lnk"));

  // What the fixture planted in the page file and the shadow-copy store file.
  useropts passes;
  passes.include_pagefile_clusters = true;
  passes.include_vss_clusters = true;
  std::vector<std::string> labels;
  for (const Found& f : scan(image("ntfs_small.img"), 0, passes)) labels.push_back(f.record.source_type);
  ASSERT_EQ(labels.size(), 2u);
  EXPECT_EQ(labels[0].rfind("[VSS 0] Shortcut LNK (carved - 0x", 0), 0u) << labels[0];
  EXPECT_EQ(labels[1].rfind("[Pagefile] Shortcut LNK (carved - 0x", 0), 0u) << labels[1];

  // A shortcut written into free clusters is found by the unallocated pass only.
  const std::string copy = image("ntfs_small.img");
  std::vector<uint8_t> bitmap;
  ASSERT_TRUE(read_entry_data(volume, 6, bitmap, UINT64_MAX));
  // The last free cluster whose bit mirrored in its byte is an allocated
  // cluster's: the bitmap read in the wrong bit order hides it.
  uint64_t free_cluster = 0;
  const auto in_use = [&](uint64_t c) { return ((bitmap[c / 8] >> (c % 8)) & 1) != 0; };
  for (uint64_t c = std::min<uint64_t>(bitmap.size() * 8, volume.total_clusters()); c-- > 0;) {
    if (!in_use(c) && in_use(c / 8 * 8 + 7 - c % 8)) {
      free_cluster = c;
      break;
    }
  }
  ASSERT_NE(free_cluster, 0u);
  const uint64_t at = free_cluster * volume.cluster_size();
  volume.close();
  {
    std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
    const std::vector<uint8_t> sample = test::sample_shortcut();
    file.seekp(static_cast<std::streamoff>(at));
    file.write(reinterpret_cast<const char*>(sample.data()), static_cast<std::streamsize>(sample.size()));
  }
  useropts unalloc;
  unalloc.include_unalloc_clusters = true;
  // The deleted shortcut's clusters are free too.
  const std::string expected = "[Unalloc] " + shortcut_source_type(at, "");
  size_t planted = 0;
  for (const Found& f : scan(copy, 0, unalloc)) {
    EXPECT_EQ(f.record.source_type.rfind("[Unalloc] ", 0), 0u) << f.record.source_type;
    planted += f.record.source_type == expected;
  }
  EXPECT_EQ(planted, 1u);
  for (const Found& f : scan(copy, 0, record_pass())) EXPECT_NE(f.record.lnk_offset, at);
  // As the run reports them: the pass named, no MFT entry.
  const std::string text = run({copy, "-ntfs_scan", "-include_unalloc_clusters", "-quiet"}).out;
  EXPECT_TRUE(contains(text, "\nlocation in volume:       Unalloc (carved)\n")) << text.substr(0, 2000);
  EXPECT_TRUE(contains(run({copy, "-ntfs_scan", "-include_unalloc_clusters", "-json", "-quiet"}).out,
                       "\"carved_from\":\"Unalloc\""));
}

// A shortcut small enough to stay in its MFT record crosses the record's
// first sector end, where the disk holds the update sequence value instead
// of the shortcut's bytes: carved raw, it must read as the file reads.
TEST_F(ScanFixture, CarvedFromInsideAnMftRecordWithItsFixups) {
  if (!test::have_tools({"ntfscp"})) GTEST_SKIP() << "ntfscp (ntfs-3g) is needed";
  test::LnkBuilder builder;
  builder.strings[test::kName] = std::string(150, 'd');           // crosses byte 510 of the record
  builder.strings[test::kWorkingDir] = "C:\\Users\\Administrator";
  const std::vector<uint8_t> shortcut = builder.build();
  ASSERT_GT(shortcut.size(), 420u);
  ASSERT_LT(shortcut.size(), 600u);
  const std::string file = test::write_file(dir_ / "small.lnk", shortcut);
  const std::string copy = image("ntfs_small.img");
  ASSERT_EQ(test::shell("ntfscp " + test::q(copy) + " " + test::q(file) + " /planted.lnk").status, 0);

  LnkRecord expected;
  ASSERT_TRUE(parse_lnk_record(expected, shortcut, 0));
  std::vector<LnkRecord> carved;
  RecordOutlet outlet([&](const LnkRecord& r, const SourceInfo&) { carved.push_back(r); });
  DiskSource disk;
  ASSERT_TRUE(disk.open_image(copy));
  carve_source(disk, SourceInfo{}, outlet);
  size_t matched = 0;
  for (const LnkRecord& r : carved) {
    if (r.working_dir != "C:\\Users\\Administrator" && r.name_string.size() != 150) continue;
    ++matched;
    EXPECT_EQ(std::tie(r.name_string, r.working_dir, r.parsed_size),
              std::tie(expected.name_string, expected.working_dir, expected.parsed_size));
  }
  EXPECT_EQ(matched, 1u);
}

// Every corpus jump list copied into a volume gives through the MFT the
// records `rook FILE` gives, but for where they came from and lie; each
// record of a list held in clusters is reported where its bytes lie.
TEST(ScanCorpus, EveryJumpListGivesTheFileRecordsThroughTheMft) {
  if (!test::have_tools({"mkntfs", "ntfscp", "jq"})) GTEST_SKIP() << "mkntfs, ntfscp and jq are needed";
  const fs::path corpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus" / "jumplists";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "corpus absent";
  std::vector<fs::path> lists;
  for (const auto& entry : fs::recursive_directory_iterator(corpus))
    if (entry.is_regular_file() && has_jump_list_extension(entry.path().string())) lists.push_back(entry.path());
  std::sort(lists.begin(), lists.end());
  const fs::path dir = test::make_scratch_dir("jump_lists_mft");
  // The corpus lists keep nothing in their free sectors: one more has a
  // shortcut in the sectors after its last, which its FAT leaves free.
  const auto automatic = std::find_if(lists.begin(), lists.end(), [](const fs::path& p) {
    return test::contains(p.filename().string(), "automaticDestinations") && fs::file_size(p) % 512 == 0;
  });
  ASSERT_NE(automatic, lists.end());
  const std::string with_slack = test::slurp(*automatic) + test::slurp(test::kSampleLnk);
  lists.push_back(dir / ("slack_" + automatic->filename().string()));
  test::write_file(lists.back(), with_slack);
  const std::string volume = (dir / "volume.img").string();
  ASSERT_EQ(test::shell("truncate -s 32M " + test::q(volume) + " && mkntfs -F -q -f -c 4096 " + test::q(volume)).status,
            0);
  // Names in the volume keep the AppID at their end.
  std::map<std::string, fs::path> planted;
  for (size_t i = 0; i < lists.size(); ++i) {
    const std::string name = "j" + std::to_string(100 + i) + "_" + lists[i].filename().string();
    planted[name] = lists[i];
    ASSERT_EQ(test::shell("ntfscp " + test::q(volume) + " " + test::q(lists[i]) + " /" + name).status, 0) << name;
  }
  const std::string rook = test::q(ROOK_BINARY);
  const std::string fields =
      " | jq -r '\"\\(.source.type)\\t\\(.source.offset)\\t\\(del(.source) | del(.. | .offset?) | tojson)\"'";
  // Each record through the MFT as (its source type, the file's name, its
  // offset, the rest).
  const auto scan_records = [&](const std::string& image) {
    std::vector<std::tuple<std::string, std::string, uint64_t, std::string>> out;
    const std::string command = rook + " " + test::q(image) + " -ntfs_scan -json -quiet" + fields;
    for (const std::string& line : test::split_lines(test::shell(command).out)) {
      const size_t first = line.find('\t'), second = line.find('\t', first + 1);
      EXPECT_NE(second, std::string::npos) << line;
      if (second == std::string::npos) continue;
      const std::string path = line.substr(0, line.find(' '));
      out.emplace_back(line.substr(0, first), path.substr(path.rfind('\\') + 1),
                       std::stoull(line.substr(first + 1, second - first - 1)), line.substr(second + 1));
    }
    return out;
  };
  std::map<std::string, std::vector<std::string>> through_mft;
  const std::string image_bytes = test::slurp(volume);
  const std::string signature("\x4c\0\0\0\x01\x14\x02\0\0\0\0\0\xc0\0\0\0\0\0\0\x46", 20);
  size_t placed = 0;
  for (const auto& [type, name, offset, record] : scan_records(volume)) {
    through_mft[name].push_back(record);
    if (!planted.count(name) || fs::file_size(planted[name]) <= 1024 || test::contains(type, "DestList entry only"))
      continue;
    EXPECT_EQ(image_bytes.compare(offset, signature.size(), signature), 0) << type << " at " << offset;
    ++placed;
  }
  // The same lists in a profile whose jump-list folders NTFS compresses,
  // where FUSE lets the fixture script build one.
  const std::string packed = (dir / "packed.img").string();
  std::string names;
  for (const fs::path& list : lists) names += " " + test::q(list);
  std::map<std::string, std::vector<std::string>> through_packed;
  const bool built = test::have_tools({"ntfs-3g", "setfattr"}) &&
                     test::shell("bash " + test::q(fs::path(ROOK_SOURCE_DIR) / "tests/data/make_ntfs_fixtures.sh") +
                                 " --evidence " + test::q(packed) + names).status == 0;
  if (built) {
    for (const auto& [type, name, offset, record] : scan_records(packed)) through_packed[name].push_back(record);
  }
  size_t total = 0, slack = 0, with_app_id = 0, index = 0;
  for (const fs::path& list : lists) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "j%04zu_", ++index);
    std::vector<std::string> expected;
    const std::string command = rook + " " + test::q(list) + " -json -quiet" + fields;
    for (const std::string& line : test::split_lines(test::shell(command).out))
      expected.push_back(line.substr(line.find('\t', line.find('\t') + 1) + 1));
    EXPECT_EQ(through_mft["j" + std::to_string(99 + index) + "_" + list.filename().string()], expected) << list;
    if (built) {
      EXPECT_EQ(through_packed[prefix + list.filename().string()], expected) << list << " compressed";
    }
    for (const std::string& record : expected) {
      slack += test::contains(record, "\"from_slack\":true");
      with_app_id += test::contains(record, "\"app_id\":\"");
    }
    total += expected.size();
  }
  std::printf("%zu jump lists, %zu records (%zu from slack, %zu with an AppID), %zu checked where they lie%s\n",
              planted.size(), total, slack, with_app_id, placed, built ? "; the same from compressed files" : "");
  EXPECT_GE(planted.size(), 60u);
  EXPECT_GT(slack, 0u);
  EXPECT_EQ(with_app_id, total);
  EXPECT_GT(placed, total / 2);
  fs::remove_all(dir);
}

const std::string& kSample = test::kSampleLnk;
const auto& result_lines = test::lines_after_run_header;

// fls's view of a volume: "[root]\dir\name" (" (deleted)" added) -> its
// ENTRY-TYPE-ID, for the files of the volume's unnamed data streams.
std::map<std::string, std::string> fls_identities(const std::string& image) {
  std::map<std::string, std::string> ids;
  for (const test::FlsName& n : test::fls_names(image, 0))
    if (!n.reallocated && n.id.find("-128-") != std::string::npos) ids[n.path + (n.deleted ? " (deleted)" : "")] = n.id;
  return ids;
}

// Each record of the evidence volume (allocated shortcuts, a jump list,
// deleted ones three folders deep, one whose folder chain broke) is named by
// the path fls gives it and identified by fls's ENTRY-128-ID; mactime lists
// those paths; the text report and JSON carry the same path and entry.
TEST_F(ScanFixture, BodyFileTextAndJsonNameThePathInTheVolume) {
  const std::string volume = image("ntfs_compressed.img");
  if (!test::have_tools({"fls", "mactime"})) GTEST_SKIP() << "sleuthkit is needed";
  const std::map<std::string, std::string> fls = fls_identities(volume);
  ASSERT_FALSE(fls.empty());

  const test::CommandResult body = run({volume, "-ntfs_scan", "-bodyfile", "-quiet"});
  ASSERT_EQ(body.status, 0) << body.err;
  std::vector<std::string> lines = result_lines(body.out);
  ASSERT_FALSE(lines.empty());
  lines.erase(lines.begin());  // the body file's header
  std::vector<std::string> paths;
  size_t deleted = 0;
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (const std::string& line : lines) {
    const std::vector<std::string> fields = test::split_fields(line, "|");
    ASSERT_EQ(fields.size(), 11u) << line;
    const size_t arrow = fields[1].find(" -> ");
    ASSERT_NE(arrow, std::string::npos) << line;
    const std::string path = fields[1].substr(0, arrow);
    EXPECT_TRUE(contains(fields[1], " (LNK TARGET)")) << line;
    // The orphan's folder chain is broken, so fls files it elsewhere.
    if (contains(path, "<path corrupted>")) continue;
    const auto listed = fls.find(path);
    ASSERT_NE(listed, fls.end()) << "fls lists no " << path;
    EXPECT_EQ(fields[2], listed->second) << path;
    paths.push_back(path);
    deleted += contains(path, " (deleted)");
  }
  EXPECT_GE(paths.size(), 7u);
  EXPECT_GE(deleted, 3u);

  const std::string body_file = test::write_file(dir_ / "body.txt", body.out);
  const std::string timeline = test::shell("mactime -b " + test::q(body_file) + " -d").out;
  for (const std::string& path : paths) EXPECT_TRUE(contains(timeline, path)) << path;

  // One location line per record, after the lines naming the source: the
  // path and the entry fls gives.
  const std::vector<std::string> text = result_lines(run({volume, "-ntfs_scan", "-quiet"}).out);
  size_t located = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i].rfind("location in volume:", 0) != 0) continue;
    ++located;
    EXPECT_TRUE(i > 0 && text[i - 1].rfind("source path/filename:", 0) == 0) << text[i];
    const std::string value = text[i].substr(26);
    const size_t numbers = value.find(" [MFT entry 0x");
    ASSERT_NE(numbers, std::string::npos) << value;
    const auto listed = fls.find(value.substr(0, numbers));
    if (listed == fls.end()) {
      EXPECT_TRUE(contains(value, "<path corrupted>")) << value;
      continue;
    }
    EXPECT_EQ(std::stoull(value.substr(numbers + 14, 8), nullptr, 16), std::stoull(listed->second)) << value;
  }
  EXPECT_EQ(located, lines.size());

  const std::string json = run({volume, "-ntfs_scan", "-json", "-quiet"}).out;
  EXPECT_EQ(test::split_lines(json).size(), lines.size());
  for (const std::string& shown : paths) {
    const bool gone = contains(shown, " (deleted)");
    const std::string path = test::json_escaped(shown.substr(0, shown.size() - (gone ? 10 : 0)));
    EXPECT_TRUE(contains(json, "\"volume_path\":\"" + path + "\",\"deleted\":" + (gone ? "true" : "false"))) << shown;
  }
}

class ColumnsAndText : public test::ScratchDirTest {};

// A jump list whose one shortcut stream is the sample, large enough to be
// read as one.
test::Bytes built_jump_list() {
  test::Bytes stream = test::sample_shortcut();
  stream.resize(5000, 0);
  return test::simple_jump_list({stream});
}

// The header takes the jump-list columns from any member of the list, told
// by its name or, renamed, by its content; the shortcut listed first gets
// empty cells there. A jump list found only while reading (inside a file
// under -deepscan) is counted and named once on standard error.
TEST_F(ColumnsAndText, CsvColumnsFromEveryFileOfThePipeList) {
  const std::string named =
      test::write_file(dir_ / "5f7b5f1e01b83767.automaticDestinations-ms", built_jump_list());
  const std::string renamed = test::write_file(dir_ / "list.bin", built_jump_list());
  for (const std::string& list : {named, renamed}) {
    const test::CommandResult r = run({"-pipe", "-csv", "-quiet"}, kSample + "\n" + list + "\n");
    const std::vector<std::string> rows = result_lines(r.out);
    ASSERT_GE(rows.size(), 3u) << r.out;
    EXPECT_TRUE(contains(rows[0], ",appid,MRU/MFU,stream#,")) << list;
    const std::vector<std::string> shortcut = test::split_fields(rows[1], ",");
    const std::vector<std::string> entry = test::split_fields(rows[2], ",");
    ASSERT_EQ(shortcut.size(), entry.size());
    EXPECT_EQ(shortcut[2] + "|" + entry[2] + "|" + entry[3],
              (list == named ? "|5f7b5f1e01b83767 [Quick Access]|na" : "||na")) << rows[2];
    EXPECT_EQ(r.err, "");
  }

  test::Bytes blob = test::sample_shortcut();
  const test::Bytes list = built_jump_list();
  blob.insert(blob.end(), list.begin(), list.end());
  const std::string inside = test::write_file(dir_ / "blob.bin", blob);
  const test::CommandResult deep = run({inside, "-deepscan", "-csv", "-quiet"});
  EXPECT_EQ(deep.err, "1 record carried jump-list fields that the CSV header lacks; -json keeps every field\n");
  EXPECT_FALSE(contains(result_lines(deep.out)[0], "appid"));
  EXPECT_EQ(run({inside, "-deepscan", "-json", "-quiet"}).err, "");
}

// A volume whose MFT lists a shortcut (entry 16) before a jump list
// (entry 17), each file's data in clusters of its own.
test::Bytes volume_shortcut_then_jump_list() {
  test::VolumeLayout layout;
  test::VolumeImage image = test::basic_volume(layout, {});
  const uint32_t cluster = image.cluster_size();
  const std::pair<const char*, test::Bytes> files[] = {
      {"a.lnk", test::sample_shortcut()}, {"5f7b5f1e01b83767.automaticDestinations-ms", built_jump_list()}};
  uint64_t entry = 16, next_cluster = 32;
  for (const auto& [name, data] : files) {
    const uint64_t clusters = (data.size() + cluster - 1) / cluster;
    image.put_cluster(next_cluster, data);
    const test::Bytes runs = test::encode_runs({{clusters, static_cast<int64_t>(next_cluster)}});
    image.put_record(entry, test::file_record(make_reference(5, 5), name,
                                              {test::nonresident_attribute(kAttrData, runs, data.size(),
                                                                           clusters * cluster, "", 2)},
                                              1, 1, image.record_size()));
    ++entry;
    next_cluster += clusters;
  }
  return image.bytes();
}

// A volume scan reads the MFT's names before its first record, so a
// shortcut listed before a jump list still gets the jump-list columns.
TEST_F(ColumnsAndText, CsvColumnsFromWhatAVolumeHolds) {
  const std::string image = test::write_file(dir_ / "volume.img", volume_shortcut_then_jump_list());
  const test::CommandResult r = run({image, "-ntfs_scan", "-csv", "-quiet"});
  const std::vector<std::string> rows = result_lines(r.out);
  ASSERT_GE(rows.size(), 3u) << r.out << r.err;
  EXPECT_TRUE(contains(rows[0], ",appid,MRU/MFU,stream#,")) << rows[0];
  EXPECT_EQ(test::split_fields(rows[1], ",")[1], "[root]\\a.lnk");
  EXPECT_EQ(r.err, "");
}

// The first line that is not UTF-8, or "" when every line is.
std::string first_line_not_utf8(const std::string& text) {
  for (const std::string& line : test::split_lines(text)) {
    for (size_t i = 0, length = 1; i < line.size(); i += length) {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
      bool ok = length != 0 && i + length <= line.size();
      for (size_t k = 1; ok && k < length; ++k) ok = (static_cast<unsigned char>(line[i + k]) & 0xC0) == 0x80;
      if (!ok) return line;
    }
  }
  return "";
}

// The whole corpus through every layout without -codepage: ANSI texts of
// many code pages, shell items, jump lists; no line that is not UTF-8. The
// CSV has one row of the header's width per record of the text report.
TEST_F(ColumnsAndText, EveryLineOfEveryLayoutOverTheCorpusIsUtf8) {
  const fs::path corpus = fs::path(ROOK_SOURCE_DIR) / ".." / "shared" / "corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "the sample corpus is absent";
  std::string names = kSample + "\n";
  for (const auto& entry : fs::recursive_directory_iterator(corpus))
    if (entry.is_regular_file()) names += entry.path().string() + "\n";
  size_t records = 0;
  for (const char* layout : {"-text", "-csv", "-csvl2t", "-bodyfile", "-json", "-timesketch"}) {
    std::vector<std::string> args{"-pipe", "-quiet"};
    if (std::string(layout) != "-text") args.push_back(layout);
    const test::CommandResult r = run(args, names);
    EXPECT_EQ(first_line_not_utf8(r.out), "") << layout;
    EXPECT_GT(r.out.size(), 100000u) << layout;
    EXPECT_EQ(r.out.find('\r'), std::string::npos) << layout;
    for (const std::string& line : test::split_lines(r.out)) records += line.rfind("source path/filename:", 0) == 0;
    if (std::string(layout) != "-csv") continue;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> rows = result_lines(r.out);
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.size(), records + 1);
    const size_t columns = test::split_fields(rows[0], ",").size();
    for (const std::string& row : rows) EXPECT_EQ(test::split_fields(row, ",").size(), columns) << row;
  }
}

}  // namespace
}  // namespace lnk
