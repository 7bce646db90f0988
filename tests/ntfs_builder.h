// Builds NTFS structures byte by byte (attributes, MFT records with their
// update sequence, index nodes, run lists) and small whole volumes in
// memory, sound or broken, for the NTFS layer's tests and fuzz seeds.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/lnk_builder.h"

namespace lnk::test {

// (length in clusters, start cluster; -1 sparse) runs as a run list,
// smallest field widths, ended by a zero byte.
Bytes encode_runs(const std::vector<std::pair<uint64_t, int64_t>>& runs);

Bytes resident_attribute(uint32_t type, const Bytes& value, const std::string& name = "", uint16_t id = 0);
Bytes nonresident_attribute(uint32_t type, const Bytes& runs, uint64_t real_size, uint64_t allocated_size,
                            const std::string& name = "", uint16_t id = 0, uint64_t lowest_vcn = 0);
Bytes standard_information(uint64_t created, uint64_t modified, uint64_t mft_changed, uint64_t accessed);
Bytes file_name(uint64_t parent_reference, const std::string& name, uint8_t name_space = 1,
                uint64_t real_size = 0, uint32_t flags = 0);
// One index entry with a $FILE_NAME key.
Bytes index_entry(uint64_t reference, const Bytes& key, uint16_t flags = 0);
// A node header (first entry at 16) followed by the entries.
Bytes index_node(const std::vector<Bytes>& entries);
// $INDEX_ROOT value of $I30 over file names, with its node.
Bytes index_root(const std::vector<Bytes>& entries, uint32_t block_size = 4096);
// A 4,096-byte "INDX" block holding one node, update sequence applied.
Bytes index_block(const std::vector<Bytes>& entries, uint32_t sector_size = 512);
// One $ATTRIBUTE_LIST entry.
Bytes attribute_list_entry(uint32_t type, uint64_t reference, uint16_t id, uint64_t starting_vcn = 0);

struct RecordLayout {
  uint32_t size = 1024;
  uint32_t sector_size = 512;
  const char* signature = "FILE";
  uint16_t sequence = 1;
  uint16_t flags = 1;  // in use
  uint64_t base_reference = 0;
  uint16_t update_sequence_offset = 48;
  int update_sequence_count = -1;  // -1: one per sector plus one
  uint16_t first_attribute = 0;  // 0: right after the array, 8-aligned
  std::vector<Bytes> attributes;
};
// A record with its attributes and end marker; every sector's last word is
// moved into the update sequence array and replaced by the sequence value.
Bytes mft_record(const RecordLayout& layout);

// A whole volume in memory: boot sector at 0, the MFT at mft_cluster.
struct VolumeLayout {
  uint16_t sector_size = 512;
  uint8_t sectors_per_cluster = 8;  // as stored: above 0x80 a negative power of two
  int8_t clusters_per_record = -10;  // 1,024-byte records
  uint64_t clusters = 256;
  uint64_t mft_cluster = 4;
  uint64_t mft_records = 32;
};

class VolumeImage {
 public:
  explicit VolumeImage(const VolumeLayout& layout = {});
  uint32_t cluster_size() const;
  uint32_t record_size() const;
  // Writes record entry (whose size must be record_size()) into the MFT.
  void put_record(uint64_t entry, const Bytes& record);
  uint64_t record_position(uint64_t entry) const;
  void put_bytes(uint64_t offset, const Bytes& bytes);
  void put_cluster(uint64_t cluster, const Bytes& bytes) { put_bytes(cluster * cluster_size(), bytes); }
  Bytes& bytes() { return bytes_; }

 private:
  VolumeLayout layout_;
  Bytes bytes_;
};

// A small sound volume: $MFT (entry 0) mapping its records, the root
// (entry 5) with the given index entries, nothing else. Callers add files.
VolumeImage basic_volume(const VolumeLayout& layout, const std::vector<Bytes>& root_entries);
// A directory or file record with standard information, one name and the
// given extra attributes.
Bytes file_record(uint64_t parent_reference, const std::string& name, std::vector<Bytes> extra = {},
                  uint16_t flags = 1, uint16_t sequence = 1, uint32_t size = 1024);

}  // namespace lnk::test
