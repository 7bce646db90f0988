// Writes compound files sector by sector so tests can lay out FAT, DIFAT,
// directory, mini FAT and streams exactly, sound or broken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/lnk_builder.h"

namespace lnk::test {

constexpr uint32_t kEnd = 0xFFFFFFFE;
constexpr uint32_t kFree = 0xFFFFFFFF;
constexpr uint32_t kFatMark = 0xFFFFFFFD;
constexpr uint32_t kDifatMark = 0xFFFFFFFC;

class CfbImage {
 public:
  // A header and sector_count zeroed sectors; every header chain field is
  // end-of-chain and every DIFAT entry free.
  explicit CfbImage(uint32_t sector_count);

  size_t sector_offset(uint32_t sector) const { return (size_t{sector} + 1) * sector_size_; }
  void header_u32(size_t field, uint32_t value) { set_u32(bytes_, field, value); }
  void header_u16(size_t field, uint16_t value) { set_u16(bytes_, field, value); }

  // Lists the FAT sectors: the first 109 in the header, the rest in DIFAT
  // sectors taken from difat_sectors in order; sets the two header counts.
  void place_fat(const std::vector<uint32_t>& fat_sectors, const std::vector<uint32_t>& difat_sectors);
  // Writes FAT entry index (the FAT sectors must be placed already).
  void set_fat(uint32_t index, uint32_t next);
  // Links the sectors in order, the last one ending the chain.
  void chain(const std::vector<uint32_t>& sectors);
  void set_mini_fat(uint32_t mini_fat_sector, uint32_t index, uint32_t next);

  // One 128-byte directory entry in slot of directory sector.
  void directory_entry(uint32_t sector, uint32_t slot, const std::string& name, uint8_t type,
                       uint32_t start, uint32_t size);
  void write(size_t offset, const Bytes& data);
  void write_sector(uint32_t sector, const Bytes& data, size_t within = 0) {
    write(sector_offset(sector) + within, data);
  }

  Bytes& bytes() { return bytes_; }

 private:
  uint32_t sector_size_ = 512;
  std::vector<uint32_t> fat_sectors_;
  Bytes bytes_;
};

// A sound jump list: FAT at sector 0, directory at 1, mini FAT at 2, mini
// stream from sector 3; each small stream in the mini stream and each large
// one in sectors after it. Names are "1", "2", ...
Bytes simple_jump_list(const std::vector<Bytes>& streams);

}  // namespace lnk::test
