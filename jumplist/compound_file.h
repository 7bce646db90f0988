// A compound file (the container of automatic-destinations jump lists) held
// in memory: its FAT, directory and mini FAT, read only as far as needed to
// tell the sectors that belong to streams from the sectors between them.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lnk {

constexpr uint32_t kCfbEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kCfbFreeSector = 0xFFFFFFFF;

// A sector-number table (the FAT or the mini FAT). Entries are kept per
// table sector, so memory follows the table sectors actually present and not
// the sector numbers a damaged header names.
class SectorTable {
 public:
  // Adds the entries of the slot-th table sector (indexes slot * per_sector ...).
  void add_sector(uint64_t slot, std::vector<uint32_t> entries);
  bool next(uint64_t sector, uint32_t& out) const;
  size_t entry_count() const { return entry_count_; }
  // Visits (index, next) in ascending index order.
  template <typename Visit>
  void for_each(Visit visit) const {
    for (const auto& [slot, entries] : sectors_)
      for (size_t i = 0; i < entries.size(); ++i) visit(slot * per_sector_ + i, entries[i]);
  }
  void set_per_sector(uint64_t per_sector) { per_sector_ = per_sector; }

 private:
  uint64_t per_sector_ = 0;
  size_t entry_count_ = 0;
  std::map<uint64_t, std::vector<uint32_t>> sectors_;
};

struct CfbDirectoryEntry {
  uint32_t index = 0;
  std::string name;  // as stored, converted to UTF-8
  std::array<uint8_t, 128> raw{};
  uint8_t object_type = 0;
  uint32_t start_sector = 0;
  uint32_t stream_size = 0;
  std::vector<uint32_t> chain;
  bool in_mini_stream = false;
};

struct CompoundFile {
  std::array<uint8_t, 512> header{};
  uint32_t sector_size = 0;
  uint32_t mini_sector_size = 0;
  uint32_t sector_count = 0;
  uint32_t mini_stream_cutoff = 0;
  uint32_t root_start = 0;
  SectorTable fat;
  std::vector<uint32_t> directory_sectors;
  std::vector<uint32_t> mini_fat_sectors;
  SectorTable mini_fat;
  // Keyed by the lower-cased name; the first entry of a name is kept.
  std::map<std::string, CfbDirectoryEntry> directory;
  std::map<std::string, std::vector<uint32_t>> mini_stream_chains;
  bool has_directory = false;
};

// False when the bytes are too short, lack the signature and zero CLSID, or
// their directory's first sector lies past the end.
bool parse_compound_file(CompoundFile& file, const uint8_t* bytes, uint64_t count);

// The bytes of the sectors streams take (allocated) and of the gaps between
// taken sectors (slack). False when there is no directory or nothing is taken.
bool stream_sectors_and_slack(const CompoundFile& file, std::vector<uint8_t>& allocated,
                              std::vector<uint8_t>& slack, const uint8_t* bytes, uint64_t count);

// Follows a chain from start through table; ends at the end-of-chain value,
// at a sector missing from the table, at the first sector seen twice, or
// after limit sectors.
std::vector<uint32_t> follow_chain(const SectorTable& table, uint32_t start, uint64_t limit);

}  // namespace lnk
