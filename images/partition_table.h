// Partition tables of a disk image: MBR with its extended chain, GPT, and
// the type names the partition listing shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_reader.h"
#include "storage/byte_source.h"

namespace lnk {

// Set on a type that was not read from a table but inferred.
constexpr uint16_t kPartitionTypeGuessed = 0x8000;
constexpr uint8_t kPartitionTypeNtfs = 0x07;
constexpr uint8_t kPartitionTypeNtfsVolumeSet = 0x87;
constexpr uint8_t kPartitionTypeGptProtective = 0xEE;

struct Partition {
  uint64_t start_sector = 0;
  uint64_t sector_count = 0;
  uint16_t type = 0;  // low byte: the MBR type byte
  uint32_t sector_size = 512;
  // GPT only.
  Guid type_guid{};
  Guid unique_guid{};
  std::string name;
  // Space between GPT partitions; never a volume.
  bool unallocated = false;

  // Saturates instead of wrapping on hostile start values.
  uint64_t byte_offset() const;
  uint64_t byte_length() const;
};

// Reads the MBR (and its extended chain) or, behind a protective MBR, the
// GPT. Fails when there is no table; with guess set, a damaged MBR is
// searched for further on. A read error ends the walk with what was found.
bool read_partition_table(ByteSource& disk, bool guess, std::vector<Partition>& out);

// The GPT reader alone; the MBR reader calls it for a protective entry.
bool read_gpt(ByteSource& disk, std::vector<Partition>& out);

// The name of a type byte, with " [guess]" for a guessed type.
std::string partition_type_name(uint16_t type);
// What the listing shows for a partition: its type name, or "unalloc".
std::string partition_display_name(const Partition& partition);

// True for the type bytes that count as partitions in an MBR walk.
bool mbr_type_is_partition(uint8_t type);

// "NTFS" and four blanks at offset + 3.
bool has_ntfs_boot_sector(ByteSource& disk, uint64_t offset);

}  // namespace lnk
