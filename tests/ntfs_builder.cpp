#include "tests/ntfs_builder.h"

#include <algorithm>
#include <cstring>

#include "ntfs/mft_record.h"

namespace lnk::test {
namespace {

void put_bytes_at(Bytes& out, size_t at, const Bytes& bytes) {
  if (out.size() < at + bytes.size()) out.resize(at + bytes.size(), 0);
  std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

int unsigned_width(uint64_t v) {
  int w = 1;
  while (w < 8 && (v >> (8 * w)) != 0) ++w;
  return w;
}

int signed_width(int64_t v) {
  for (int w = 1; w < 8; ++w) {
    const int64_t low = -(int64_t{1} << (8 * w - 1)), high = (int64_t{1} << (8 * w - 1)) - 1;
    if (v >= low && v <= high) return w;
  }
  return 8;
}

void align8(Bytes& b) {
  while (b.size() % 8) b.push_back(0);
}

void set_u64(Bytes& out, size_t at, uint64_t v) {
  set_u32(out, at, static_cast<uint32_t>(v));
  set_u32(out, at + 4, static_cast<uint32_t>(v >> 32));
}

// Common attribute header: type, length (patched later), flag, name.
Bytes attribute_header(uint32_t type, bool non_resident, const std::string& name, uint16_t id,
                       size_t header_size, size_t& name_end) {
  Bytes a;
  put_u32(a, type);
  put_u32(a, 0);
  a.push_back(non_resident ? 1 : 0);
  const Bytes name16 = utf16le(name);
  a.push_back(static_cast<uint8_t>(name16.size() / 2));
  put_u16(a, static_cast<uint16_t>(name16.empty() ? 0 : header_size));
  put_u16(a, 0);
  put_u16(a, id);
  a.resize(header_size, 0);
  a.insert(a.end(), name16.begin(), name16.end());
  align8(a);
  name_end = a.size();
  return a;
}

// Moves each sector's last word into the update sequence array and writes
// the sequence value 0x0102 in its place (what NTFS does before a write).
void protect_sectors(Bytes& record, uint16_t sequence_offset, int count, uint32_t sector_size) {
  const uint16_t usn = 0x0102;
  if (count <= 0 || sequence_offset + 2u * count > record.size()) return;
  set_u16(record, sequence_offset, usn);
  for (int i = 1; i < count && static_cast<uint64_t>(i) * sector_size <= record.size(); ++i) {
    const size_t word = static_cast<size_t>(i) * sector_size - 2;
    record[sequence_offset + 2 * i] = record[word];
    record[sequence_offset + 2 * i + 1] = record[word + 1];
    set_u16(record, word, usn);
  }
}

}  // namespace

Bytes encode_runs(const std::vector<std::pair<uint64_t, int64_t>>& runs) {
  Bytes out;
  int64_t previous = 0;
  for (const auto& [length, start] : runs) {
    const int length_width = unsigned_width(length);
    Bytes offset;
    if (start >= 0) {
      const uint64_t delta = static_cast<uint64_t>(start - previous);
      for (int i = 0; i < signed_width(start - previous); ++i) offset.push_back(static_cast<uint8_t>(delta >> (8 * i)));
      previous = start;
    }
    out.push_back(static_cast<uint8_t>(length_width | (offset.size() << 4)));
    for (int i = 0; i < length_width; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    out.insert(out.end(), offset.begin(), offset.end());
  }
  out.push_back(0);
  return out;
}

Bytes resident_attribute(uint32_t type, const Bytes& value, const std::string& name, uint16_t id) {
  size_t value_offset = 0;
  Bytes a = attribute_header(type, false, name, id, 24, value_offset);
  set_u32(a, 16, static_cast<uint32_t>(value.size()));
  set_u16(a, 20, static_cast<uint16_t>(value_offset));
  a.insert(a.end(), value.begin(), value.end());
  align8(a);
  set_u32(a, 4, static_cast<uint32_t>(a.size()));
  return a;
}

Bytes nonresident_attribute(uint32_t type, const Bytes& runs, uint64_t real_size, uint64_t allocated_size,
                            const std::string& name, uint16_t id, uint64_t lowest_vcn) {
  size_t runs_offset = 0;
  Bytes a = attribute_header(type, true, name, id, 64, runs_offset);
  set_u64(a, 16, lowest_vcn);  // the highest VCN is left 0, unused here
  set_u16(a, 32, static_cast<uint16_t>(runs_offset));
  set_u64(a, 40, allocated_size);
  set_u64(a, 48, real_size);
  set_u64(a, 56, real_size);  // initialized
  a.insert(a.end(), runs.begin(), runs.end());
  align8(a);
  set_u32(a, 4, static_cast<uint32_t>(a.size()));
  return a;
}

Bytes standard_information(uint64_t created, uint64_t modified, uint64_t mft_changed, uint64_t accessed) {
  Bytes v;
  for (uint64_t t : {created, modified, mft_changed, accessed}) put_u64(v, t);
  put_u32(v, 0x20);
  v.resize(72, 0);
  return v;
}

Bytes file_name(uint64_t parent_reference, const std::string& name, uint8_t name_space, uint64_t real_size,
                uint32_t flags) {
  Bytes v;
  put_u64(v, parent_reference);
  for (int i = 0; i < 4; ++i) put_u64(v, 0x01D7000000000000ull + i);
  put_u64(v, (real_size + 4095) / 4096 * 4096);
  put_u64(v, real_size);
  put_u32(v, flags);
  put_u32(v, 0);
  const Bytes name16 = utf16le(name);
  v.push_back(static_cast<uint8_t>(name16.size() / 2));
  v.push_back(name_space);
  v.insert(v.end(), name16.begin(), name16.end());
  return v;
}

Bytes index_entry(uint64_t reference, const Bytes& key, uint16_t flags) {
  Bytes e;
  put_u64(e, reference);
  for (uint16_t v : {uint16_t{0}, static_cast<uint16_t>(key.size()), flags, uint16_t{0}}) put_u16(e, v);
  e.insert(e.end(), key.begin(), key.end());
  align8(e);
  set_u16(e, 8, static_cast<uint16_t>(e.size()));
  return e;
}

Bytes index_node(const std::vector<Bytes>& entries) {
  Bytes n;
  for (uint32_t v : {16, 0, 0, 0}) put_u32(n, v);  // first entry, sizes patched below, flags
  for (const Bytes& e : entries) n.insert(n.end(), e.begin(), e.end());
  put_u64(n, 0);  // the end entry, without a key
  for (uint16_t v : {16, 0, 2, 0}) put_u16(n, v);  // length, key length, flags, padding
  set_u32(n, 4, static_cast<uint32_t>(n.size()));
  set_u32(n, 8, static_cast<uint32_t>(n.size()));
  return n;
}

Bytes index_root(const std::vector<Bytes>& entries, uint32_t block_size) {
  Bytes v;
  for (uint32_t field : {0x30u, 1u, block_size, 1u}) put_u32(v, field);  // $FILE_NAME keys, file name collation
  const Bytes node = index_node(entries);
  v.insert(v.end(), node.begin(), node.end());
  return v;
}

Bytes index_block(const std::vector<Bytes>& entries, uint32_t sector_size) {
  constexpr uint16_t kSequenceOffset = 40;
  const int count = static_cast<int>(4096 / sector_size + 1);
  Bytes block(4096, 0);
  std::memcpy(block.data(), "INDX", 4);
  set_u16(block, 4, kSequenceOffset);
  set_u16(block, 6, static_cast<uint16_t>(count));
  // The node header sits at 24; its first entry after the sequence array.
  const size_t first = (kSequenceOffset + 2 * count + 7) / 8 * 8;
  Bytes node = index_node(entries);
  Bytes placed(node.begin(), node.begin() + 16);
  placed.resize(first - 24, 0);
  placed.insert(placed.end(), node.begin() + 16, node.end());
  set_u32(placed, 0, static_cast<uint32_t>(first - 24));
  set_u32(placed, 4, static_cast<uint32_t>(placed.size()));
  set_u32(placed, 8, 4096 - 24);
  put_bytes_at(block, 24, placed);
  block.resize(4096);
  protect_sectors(block, kSequenceOffset, count, sector_size);
  return block;
}

Bytes attribute_list_entry(uint32_t type, uint64_t reference, uint16_t id, uint64_t starting_vcn) {
  Bytes e;
  put_u32(e, type);
  put_u16(e, 32);
  e.push_back(0);
  e.push_back(26);
  put_u64(e, starting_vcn);
  put_u64(e, reference);
  put_u16(e, id);
  e.resize(32, 0);
  return e;
}

Bytes mft_record(const RecordLayout& layout) {
  Bytes r(layout.size, 0);
  std::memcpy(r.data(), layout.signature, 4);
  const int count = layout.update_sequence_count >= 0 ? layout.update_sequence_count
                                                    : static_cast<int>(layout.size / layout.sector_size + 1);
  set_u16(r, 4, layout.update_sequence_offset);
  set_u16(r, 6, static_cast<uint16_t>(count));
  set_u16(r, 16, layout.sequence);
  set_u16(r, 18, 1);
  size_t first = layout.first_attribute;
  if (first == 0) first = (layout.update_sequence_offset + 2 * static_cast<size_t>(count) + 7) / 8 * 8;
  set_u16(r, 20, static_cast<uint16_t>(first));
  set_u16(r, 22, layout.flags);
  set_u32(r, 28, layout.size);
  set_u64(r, 32, layout.base_reference);
  size_t at = first;
  for (const Bytes& a : layout.attributes) {
    put_bytes_at(r, at, a);
    at += a.size();
  }
  Bytes end;
  put_u32(end, 0xFFFFFFFF);
  put_u32(end, 0);
  put_bytes_at(r, at, end);
  set_u32(r, 24, static_cast<uint32_t>(at + 8));
  r.resize(layout.size);
  protect_sectors(r, layout.update_sequence_offset, count, layout.sector_size);
  return r;
}

VolumeImage::VolumeImage(const VolumeLayout& layout) : layout_(layout) {
  bytes_.assign(layout.clusters * cluster_size(), 0);
  Bytes boot(512, 0);
  boot[0] = 0xEB;
  std::memcpy(boot.data() + 3, "NTFS    ", 8);
  set_u16(boot, 11, layout.sector_size);
  boot[13] = layout.sectors_per_cluster;
  set_u64(boot, 40, layout.clusters * (cluster_size() / layout.sector_size));
  set_u64(boot, 48, layout.mft_cluster);
  boot[64] = static_cast<uint8_t>(layout.clusters_per_record);
  set_u16(boot, 510, 0xAA55);
  put_bytes_at(bytes_, 0, boot);
}

uint32_t VolumeImage::cluster_size() const {
  const uint8_t raw = layout_.sectors_per_cluster;
  return layout_.sector_size * (raw <= 0x80 ? uint32_t{raw} : 1u << (256 - raw));
}

uint32_t VolumeImage::record_size() const {
  return layout_.clusters_per_record < 0 ? 1u << -layout_.clusters_per_record
                                       : layout_.clusters_per_record * cluster_size();
}

uint64_t VolumeImage::record_position(uint64_t entry) const {
  return layout_.mft_cluster * cluster_size() + entry * record_size();
}

void VolumeImage::put_record(uint64_t entry, const Bytes& record) {
  put_bytes(record_position(entry), record);
}

void VolumeImage::put_bytes(uint64_t offset, const Bytes& bytes) { put_bytes_at(bytes_, offset, bytes); }

Bytes file_record(uint64_t parent_reference, const std::string& name, std::vector<Bytes> extra, uint16_t flags,
                  uint16_t sequence, uint32_t size) {
  RecordLayout layout;
  layout.size = size;
  layout.flags = flags;
  layout.sequence = sequence;
  layout.attributes.push_back(resident_attribute(0x10, standard_information(1, 2, 3, 4)));
  layout.attributes.push_back(resident_attribute(0x30, file_name(parent_reference, name, 1), "", 1));
  for (Bytes& a : extra) layout.attributes.push_back(std::move(a));
  return mft_record(layout);
}

VolumeImage basic_volume(const VolumeLayout& layout, const std::vector<Bytes>& root_entries) {
  VolumeImage image(layout);
  const uint64_t mft_clusters = (layout.mft_records * image.record_size() + image.cluster_size() - 1) /
                                image.cluster_size();
  const uint64_t mft_bytes = mft_clusters * image.cluster_size();
  RecordLayout mft;
  mft.size = image.record_size();
  mft.attributes.push_back(resident_attribute(0x10, standard_information(1, 2, 3, 4)));
  mft.attributes.push_back(resident_attribute(0x30, file_name(make_reference(5, 5), "$MFT", 3), "", 1));
  mft.attributes.push_back(nonresident_attribute(
      0x80, encode_runs({{mft_clusters, static_cast<int64_t>(layout.mft_cluster)}}), mft_bytes, mft_bytes, "", 2));
  image.put_record(0, mft_record(mft));
  RecordLayout root;
  root.size = image.record_size();
  root.sequence = 5;
  root.flags = 3;
  root.attributes.push_back(resident_attribute(0x10, standard_information(1, 2, 3, 4)));
  root.attributes.push_back(resident_attribute(0x30, file_name(make_reference(5, 5), ".", 3, 0, 0x10000000), "", 1));
  root.attributes.push_back(resident_attribute(0x90, index_root(root_entries), "$I30", 2));
  image.put_record(5, mft_record(root));
  return image;
}

}  // namespace lnk::test
