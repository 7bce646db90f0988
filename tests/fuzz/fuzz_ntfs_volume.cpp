// A small sound NTFS volume held in memory, with the input XOR-ed over its
// records, index block, catalog and boot sector (the input's first bytes
// land on the records that hold the most structure), then opened and read
// through every service of the NTFS layer: the MFT walk, entries with
// attribute lists, directory listings, path lookups, parent paths, file
// data and the shadow-copy catalog. Fuzz targets link the core alone, so
// the volume builders come in as source.
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ntfs/file_data.h"
#include "ntfs/mft_entry.h"
#include "ntfs/mft_walk.h"
#include "ntfs/ntfs_volume.h"
#include "ntfs/path_lookup.h"
#include "ntfs/record_summary.h"
#include "ntfs/shadow_catalog.h"
#include "storage/memory_source.h"
#include "tests/lnk_builder.cpp"
#include "tests/ntfs_builder.cpp"

namespace {

using namespace lnk::test;
constexpr uint32_t kCluster = 512, kRecord = 1024, kIndexCluster = 64, kDataCluster = 80, kCatalogCluster = 96;
const std::string kCatalogName = "{3808876b-c176-4e48-b7ae-04046e6cc752}";

uint64_t reference(uint64_t entry) { return lnk::make_reference(entry, 1); }

Bytes named(uint64_t entry, const std::string& name) { return index_entry(reference(entry), file_name(reference(5), name)); }

struct Template {
  VolumeImage volume = basic_volume(VolumeLayout{512, 1, -10, 128, 8, 24},
                                    {named(16, "dir"), named(20, "System Volume Information")});
  std::vector<std::pair<size_t, size_t>> regions;  // offset, length, in fuzzing order

  Template() {
    // "dir" keeps its index through an attribute list; its name lives in extension record 17.
    Bytes list;
    for (const Bytes& e : {attribute_list_entry(0x10, reference(16), 0), attribute_list_entry(0x30, reference(17), 3),
                           attribute_list_entry(0x90, reference(16), 5), attribute_list_entry(0xA0, reference(16), 6)})
      list.insert(list.end(), e.begin(), e.end());
    RecordLayout dir;
    dir.flags = 3;
    dir.attributes = {resident_attribute(0x10, standard_information(1, 2, 3, 4)), resident_attribute(0x20, list, "", 1),
                      resident_attribute(0x90, index_root({}), "$I30", 5),
                      nonresident_attribute(0xA0, encode_runs({{8, kIndexCluster}}), 4096, 4096, "$I30", 6)};
    volume.put_record(16, mft_record(dir));
    RecordLayout extension;
    extension.base_reference = reference(16);
    extension.attributes = {resident_attribute(0x30, file_name(reference(5), "dir"), "", 3)};
    volume.put_record(17, mft_record(extension));
    volume.put_record(18, file_record(reference(16), "a.lnk",
                                      {nonresident_attribute(0x80, encode_runs({{2, kDataCluster}, {1, -1}, {1, kDataCluster + 3}}),
                                                             2000, 2048)}));
    volume.put_record(19, file_record(reference(16), "b.lnk", {resident_attribute(0x80, Bytes(100, 0x4C))}));
    volume.put_record(20, file_record(reference(5), "System Volume Information",
                                      {resident_attribute(0x90, index_root({named(21, kCatalogName)}), "$I30", 2)}, 3));
    volume.put_record(21, file_record(reference(20), kCatalogName,
                                      {nonresident_attribute(0x80, encode_runs({{8, kCatalogCluster}}), 4096, 4096)}));
    volume.put_cluster(kIndexCluster, index_block({named(18, "a.lnk"), named(19, "b.lnk")}));
    Bytes catalog(4096, 0);
    set_u32(catalog, 128, 2);
    set_u32(catalog, 256, 3);
    for (size_t at : {144, 272}) catalog[at] = 0x42;
    set_u32(catalog, 288, kDataCluster * kCluster);
    set_u32(catalog, 312, 18);  // the reference of entry 18, sequence 1
    set_u16(catalog, 318, 1);
    volume.put_cluster(kCatalogCluster, catalog);
    volume.put_cluster(kDataCluster, Bytes(1024, 0x4C));
    auto record = [&](uint64_t entry) { return std::pair<size_t, size_t>(volume.record_position(entry), kRecord); };
    regions = {record(16), record(17), record(18), record(5), record(0), {kIndexCluster * kCluster, 4096}, record(19),
               record(20), record(21), {kCatalogCluster * kCluster, 512}, {0, 512}};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Template sound;
  Bytes image = sound.volume.bytes();
  size_t used = 0;
  for (const auto& [offset, length] : sound.regions) {
    for (size_t i = 0; i < length && used < size; ++i) image[offset + i] ^= data[used++];
  }
  if (used < size) return 0;

  lnk::NtfsVolume volume;
  volume.attach(std::make_unique<lnk::MemorySource>(image), 0);
  if (!volume.validate()) return 0;
  std::vector<uint64_t> parents;
  lnk::MftWalk walk(volume, 0, 0, 4096);
  lnk::MftRecordView view;
  lnk::mft_entries_ctx context(volume);
  while (walk.next(view)) {
    lnk::RecordSummary summary;
    if (lnk::summarize_record(view.bytes, summary) && summary.has_name)
      parents.push_back(summary.name.parent_reference);
    if (!lnk::parse_entry(context, view.entry)) continue;
    for (const lnk::FileName& name : context.entry.names) parents.push_back(name.parent_reference);
    std::vector<uint8_t> bytes;
    lnk::read_entry_data(volume, view.entry, bytes, 1u << 20);
  }
  for (uint64_t parent : parents) {
    std::string path;
    lnk::build_parent_path(volume, parent, path);
  }
  std::set<uint64_t> children;
  lnk::list_children(volume, 16, children);
  uint64_t entry = 0;
  lnk::lookup_path(volume, "dir\\a.lnk", entry);
  lnk::lookup_path(volume, "C:/DIR/b.lnk:stream", entry);
  std::array<uint8_t, lnk::kCatalogHeaderSize> header{};
  std::vector<lnk::ShadowStore> stores;
  lnk::read_shadow_catalog(volume, header, stores);
  return 0;
}
