// A small sound NTFS volume held in memory, with the input XOR-ed over its
// records, index block, catalog and boot sector (the input's first bytes
// land on the records that hold the most structure), then opened and read
// through every service of the NTFS layer: the MFT walk, entries with
// attribute lists, directory listings, path lookups, parent paths, file
// data and the shadow-copy catalog.
#include <array>
#include <cstdint>
#include <cstring>
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

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kCluster = 512, kRecord = 1024, kMftCluster = 8, kIndexCluster = 64, kDataCluster = 80,
                   kCatalogCluster = 96, kImageSize = 128 * kCluster;

void put(Bytes& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes utf16(const std::string& s) {
  Bytes out;
  for (char c : s) out.insert(out.end(), {static_cast<uint8_t>(c), 0});
  return out;
}

Bytes attribute(uint32_t type, const Bytes& body, bool non_resident, const std::string& name, uint16_t id) {
  const size_t header = non_resident ? 64 : 24;
  const Bytes name16 = utf16(name);
  const size_t body_at = (header + name16.size() + 7) / 8 * 8;
  Bytes a(body_at, 0);
  put(a, 0, type, 4);
  a[8] = non_resident;
  a[9] = static_cast<uint8_t>(name16.size() / 2);
  put(a, 10, name16.empty() ? 0 : header, 2);
  put(a, 14, id, 2);
  std::copy(name16.begin(), name16.end(), a.begin() + static_cast<std::ptrdiff_t>(header));
  if (non_resident) {
    put(a, 32, body_at, 2);
  } else {
    put(a, 16, body.size(), 4);
    put(a, 20, body_at, 2);
  }
  a.insert(a.end(), body.begin(), body.end());
  a.resize((a.size() + 7) / 8 * 8, 0);
  put(a, 4, a.size(), 4);
  return a;
}

Bytes resident(uint32_t type, const Bytes& value, const std::string& name = "", uint16_t id = 0) {
  return attribute(type, value, false, name, id);
}

Bytes non_resident(uint32_t type, const Bytes& runs, uint64_t size, const std::string& name = "", uint16_t id = 0) {
  Bytes a = attribute(type, runs, true, name, id);
  put(a, 40, (size + kCluster - 1) / kCluster * kCluster, 8);
  put(a, 48, size, 8);
  put(a, 56, size, 8);
  return a;
}

Bytes file_name(uint64_t parent, const std::string& name) {
  Bytes v(66, 0);
  put(v, 0, parent, 8);
  const Bytes name16 = utf16(name);
  v[64] = static_cast<uint8_t>(name16.size() / 2);
  v[65] = 1;
  v.insert(v.end(), name16.begin(), name16.end());
  return v;
}

uint64_t reference(uint64_t entry) { return entry | (uint64_t{1} << 48); }

Bytes index_entries(const std::vector<std::pair<uint64_t, std::string>>& children, uint32_t first) {
  Bytes node(16, 0);
  put(node, 0, first, 4);
  node.resize(first, 0);
  for (const auto& [entry, name] : children) {
    const Bytes key = file_name(reference(5), name);
    Bytes e(16, 0);
    put(e, 0, reference(entry), 8);
    put(e, 10, key.size(), 2);
    e.insert(e.end(), key.begin(), key.end());
    e.resize((e.size() + 7) / 8 * 8, 0);
    put(e, 8, e.size(), 2);
    node.insert(node.end(), e.begin(), e.end());
  }
  Bytes end(16, 0);
  put(end, 8, 16, 2);
  put(end, 12, 2, 2);
  node.insert(node.end(), end.begin(), end.end());
  put(node, 4, node.size(), 4);
  put(node, 8, node.size(), 4);
  return node;
}

Bytes index_root(const std::vector<std::pair<uint64_t, std::string>>& children) {
  Bytes v(16, 0);
  put(v, 0, 0x30, 4);
  put(v, 8, 4096, 4);
  const Bytes node = index_entries(children, 16);
  v.insert(v.end(), node.begin(), node.end());
  return v;
}

// Header, attributes, end marker; every sector's last word into the array.
void protect(Bytes& r, size_t array, size_t count) {
  put(r, array, 0x0102, 2);
  for (size_t i = 1; i < count; ++i) {
    r[array + 2 * i] = r[i * 512 - 2];
    r[array + 2 * i + 1] = r[i * 512 - 1];
    put(r, i * 512 - 2, 0x0102, 2);
  }
}

Bytes record(const std::vector<Bytes>& attributes, uint16_t flags = 1, uint64_t base = 0) {
  Bytes r(kRecord, 0);
  std::memcpy(r.data(), "FILE", 4);
  put(r, 4, 48, 2);
  put(r, 6, 3, 2);
  put(r, 16, 1, 2);
  put(r, 20, 56, 2);
  put(r, 22, flags, 2);
  put(r, 28, kRecord, 4);
  put(r, 32, base, 8);
  size_t at = 56;
  for (const Bytes& a : attributes) {
    if (at + a.size() + 8 > kRecord) break;
    std::copy(a.begin(), a.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
    at += a.size();
  }
  put(r, at, 0xFFFFFFFF, 4);
  put(r, 24, at + 8, 4);
  protect(r, 48, 3);
  return r;
}

Bytes list_entry(uint32_t type, uint64_t holder, uint16_t id) {
  Bytes e(32, 0);
  put(e, 0, type, 4);
  put(e, 4, 32, 2);
  e[7] = 26;
  put(e, 16, reference(holder), 8);
  put(e, 24, id, 2);
  return e;
}

struct Template {
  Bytes image = Bytes(kImageSize, 0);
  std::vector<std::pair<size_t, size_t>> regions;  // offset, length, in fuzzing order

  void place(uint64_t entry, const Bytes& r) {
    const size_t at = kMftCluster * kCluster + entry * kRecord;
    std::copy(r.begin(), r.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
  }

  Template() {
    const Bytes si(72, 0x11);
    Bytes boot(512, 0);
    std::memcpy(boot.data() + 3, "NTFS    ", 8);
    put(boot, 11, 512, 2);
    boot[13] = 1;
    put(boot, 40, 128, 8);
    put(boot, 48, kMftCluster, 8);
    boot[64] = 0xF6;
    std::copy(boot.begin(), boot.end(), image.begin());
    place(0, record({resident(0x10, si), resident(0x30, file_name(reference(5), "$MFT")),
                     non_resident(0x80, {0x11, 48, kMftCluster, 0}, 24 * kRecord)}));
    place(5, record({resident(0x10, si), resident(0x30, file_name(reference(5), ".")),
                     resident(0x90, index_root({{16, "dir"}, {20, "System Volume Information"}}), "$I30", 2)},
                    3));
    Bytes list = list_entry(0x10, 16, 0);
    for (const Bytes& e : {list_entry(0x30, 17, 3), list_entry(0x90, 16, 5), list_entry(0xA0, 16, 6)})
      list.insert(list.end(), e.begin(), e.end());
    place(16, record({resident(0x10, si), resident(0x20, list, "", 1), resident(0x90, index_root({}), "$I30", 5),
                      non_resident(0xA0, {0x11, 8, kIndexCluster, 0}, 4096, "$I30", 6)},
                     3));
    place(17, record({resident(0x30, file_name(reference(5), "dir"), "", 3)}, 1, reference(16)));
    place(18, record({resident(0x10, si), resident(0x30, file_name(reference(16), "a.lnk")),
                      non_resident(0x80, {0x11, 2, kDataCluster, 0x01, 1, 0x11, 1, 3, 0}, 2000)}));
    place(19, record({resident(0x10, si), resident(0x30, file_name(reference(16), "b.lnk")),
                      resident(0x80, Bytes(100, 0x4C))}));
    place(20, record({resident(0x10, si), resident(0x30, file_name(reference(5), "System Volume Information")),
                      resident(0x90, index_root({{21, "{3808876b-c176-4e48-b7ae-04046e6cc752}"}}), "$I30", 2)},
                     3));
    place(21, record({resident(0x10, si),
                      resident(0x30, file_name(reference(20), "{3808876b-c176-4e48-b7ae-04046e6cc752}")),
                      non_resident(0x80, {0x11, 8, kCatalogCluster, 0}, 4096)}));
    Bytes block(4096, 0);
    std::memcpy(block.data(), "INDX", 4);
    put(block, 4, 40, 2);
    put(block, 6, 9, 2);
    const Bytes node = index_entries({{18, "a.lnk"}, {19, "b.lnk"}}, 40);
    std::copy(node.begin(), node.end(), block.begin() + 24);
    protect(block, 40, 9);
    std::copy(block.begin(), block.end(), image.begin() + kIndexCluster * kCluster);
    Bytes catalog(4096, 0);
    put(catalog, 128, 2, 8);
    put(catalog, 256, 3, 8);
    for (size_t at : {144, 272}) catalog[at] = 0x42;
    put(catalog, 288, kDataCluster * kCluster, 8);
    put(catalog, 312, reference(18), 8);
    std::copy(catalog.begin(), catalog.end(), image.begin() + kCatalogCluster * kCluster);
    for (const Bytes& data : {Bytes(1024, 0x4C)})
      std::copy(data.begin(), data.end(), image.begin() + kDataCluster * kCluster);
    auto record_region = [](uint64_t entry) {
      return std::make_pair<size_t, size_t>(kMftCluster * kCluster + entry * kRecord, kRecord);
    };
    regions = {record_region(16), record_region(17), record_region(18), record_region(5), record_region(0),
               {kIndexCluster * kCluster, 4096}, record_region(19), record_region(20), record_region(21),
               {kCatalogCluster * kCluster, 512}, {0, 512}};
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Template sound;
  Bytes image = sound.image;
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
