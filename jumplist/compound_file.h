// A compound file (the container of automatic-destinations jump lists) held
// in memory: its FAT, directory and mini FAT, each stream's own chain, and
// the sectors and mini sectors that no live stream uses (slack).
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

constexpr uint8_t kCfbStreamObject = 2;
constexpr uint8_t kCfbRootObject = 5;

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
  // Every directory entry in index order, duplicate names included.
  std::vector<CfbDirectoryEntry> entries;
  // The sectors the file's own tables take: FAT and DIFAT.
  std::vector<uint32_t> fat_sectors;
  std::vector<uint32_t> difat_sectors;
  // Index into entries of the root entry, whose chain holds the mini stream,
  // and that chain up to its first sector past the end of the bytes.
  int64_t root_index = -1;
  std::vector<uint32_t> mini_stream;
  std::map<std::string, std::vector<uint32_t>> mini_stream_chains;
  bool has_directory = false;
};

// False when the bytes are too short, lack the signature and zero CLSID, or
// their directory's first sector lies past the end.
bool parse_compound_file(CompoundFile& file, const uint8_t* bytes, uint64_t count);

// length bytes at a file offset: one piece of a stream, or of slack.
struct FileRun {
  uint64_t offset = 0;
  uint64_t length = 0;
};

// Where a stream's bytes lie, in stream order: its own sectors, or its mini
// sectors inside the root entry's chain. Covers the stream size at most and
// ends where the chain ends or a piece would lie past count.
std::vector<FileRun> stream_runs(const CompoundFile& file, const CfbDirectoryEntry& entry, uint64_t count);
// The stream's bytes gathered from those runs.
std::vector<uint8_t> read_stream(const CompoundFile& file, const CfbDirectoryEntry& entry,
                                 const uint8_t* bytes, uint64_t count);

// The bytes no live stream uses. Sector slack: sectors that neither a live
// stream, the mini stream nor the FAT, DIFAT, directory or mini FAT take,
// the unused end of each stream's last sector, and a cut last sector; in
// file order. Mini slack: mini sectors no live small stream takes and the
// unused end of each one's last mini sector; in mini stream order.
struct CfbSlack {
  std::vector<FileRun> sectors;
  std::vector<FileRun> mini_sectors;
};
CfbSlack find_slack(const CompoundFile& file, uint64_t count);

// Follows a chain from start through table; ends at the end-of-chain value,
// at a sector missing from the table, at the first sector seen twice, or
// after limit sectors.
std::vector<uint32_t> follow_chain(const SectorTable& table, uint32_t start, uint64_t limit);

}  // namespace lnk
