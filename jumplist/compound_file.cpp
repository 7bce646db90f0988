#include "jumplist/compound_file.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace lnk {
namespace {

constexpr uint64_t kHeaderSize = 512;
constexpr std::array<uint8_t, 8> kCfbSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<uint8_t, 16> kZeroClsid{};
constexpr uint64_t kClsidField = 8;
constexpr uint64_t kSectorShiftField = 30;
constexpr uint64_t kMiniSectorShiftField = 32;
constexpr uint64_t kFatSectorCountField = 44;
constexpr uint64_t kFirstDirectorySectorField = 48;
constexpr uint64_t kMiniStreamCutoffField = 56;
constexpr uint64_t kFirstMiniFatSectorField = 60;
constexpr uint64_t kFirstDifatSectorField = 68;
constexpr uint64_t kDifatSectorCountField = 72;
constexpr uint64_t kHeaderDifatField = 76;
constexpr uint64_t kHeaderDifatEntries = 109;

constexpr uint64_t kDirectoryEntrySize = 128;
constexpr uint64_t kEntryNameBytes = 64;
constexpr uint64_t kEntryObjectTypeField = 66;
constexpr uint64_t kEntryStartSectorField = 116;
constexpr uint64_t kEntryStreamSizeField = 120;
constexpr const char* kRootEntryName = "root entry";

// Sector N of a compound file starts right after the header-sized sector 0.
bool sector_span(uint64_t sector, uint64_t sector_size, uint64_t count, uint64_t& offset) {
  uint64_t end = 0;
  return checked_mul(sector + 1, sector_size, offset) && checked_add(offset, sector_size, end) &&
         end <= count;
}

std::vector<uint32_t> read_u32_entries(const ByteReader& bytes, uint64_t offset, uint64_t n) {
  std::vector<uint32_t> entries(n);
  for (uint64_t i = 0; i < n; ++i) entries[i] = bytes.u32(offset + i * 4);
  return entries;
}

// The FAT sector numbers: the header's 109 DIFAT entries, then the DIFAT
// sector chain when the FAT needs more. The DIFAT sectors read are kept.
std::vector<uint32_t> fat_sector_list(CompoundFile& file, const ByteReader& bytes) {
  const ByteReader header(file.header.data(), file.header.size());
  const uint32_t fat_sectors = header.u32(kFatSectorCountField);
  std::vector<uint32_t> list;
  for (uint64_t i = 0; i < std::min<uint64_t>(fat_sectors, kHeaderDifatEntries); ++i) {
    uint32_t sector = header.u32(kHeaderDifatField + i * 4);
    if (sector == kCfbEndOfChain) return list;
    list.push_back(sector);
  }
  uint32_t difat = header.u32(kFirstDifatSectorField);
  const uint64_t per_difat = file.sector_size / 4;
  if (fat_sectors <= kHeaderDifatEntries || header.u32(kDifatSectorCountField) == 0 ||
      difat == kCfbEndOfChain || difat == kCfbFreeSector || per_difat < 2)
    return list;

  std::set<uint32_t> visited;
  while (list.size() < fat_sectors && visited.insert(difat).second) {
    uint64_t offset = 0;
    if (!sector_span(difat, file.sector_size, bytes.size(), offset)) break;
    file.difat_sectors.push_back(difat);
    for (uint64_t i = 0; i + 1 < per_difat && list.size() < fat_sectors; ++i) {
      uint32_t sector = bytes.u32(offset + i * 4);
      if (sector == kCfbEndOfChain) return list;
      list.push_back(sector);
    }
    difat = bytes.u32(offset + (per_difat - 1) * 4);
    if (difat == kCfbEndOfChain || difat == kCfbFreeSector) break;
  }
  return list;
}

// Reads the table sectors in order; each one, present or not, owns the next
// sector_size / 4 indexes.
void build_table(SectorTable& table, const std::vector<uint32_t>& sectors, const CompoundFile& file,
                 const ByteReader& bytes) {
  const uint64_t per_sector = file.sector_size / 4;
  table.set_per_sector(per_sector);
  std::set<uint32_t> seen;
  for (uint64_t slot = 0; slot < sectors.size(); ++slot) {
    uint64_t offset = 0;
    if (!seen.insert(sectors[slot]).second) continue;
    if (!sector_span(sectors[slot], file.sector_size, bytes.size(), offset)) continue;
    table.add_sector(slot, read_u32_entries(bytes, offset, per_sector));
  }
}

void read_directory(CompoundFile& file, const ByteReader& bytes) {
  const uint64_t per_sector = file.sector_size / kDirectoryEntrySize;
  uint64_t index = 0;
  for (uint32_t sector : file.directory_sectors) {
    uint64_t offset = 0;
    if (!sector_span(sector, file.sector_size, bytes.size(), offset)) {
      index += per_sector;
      continue;
    }
    for (uint64_t i = 0; i < per_sector; ++i, ++index) {
      const ByteReader raw = bytes.sub(offset + i * kDirectoryEntrySize, kDirectoryEntrySize);
      CfbDirectoryEntry entry;
      entry.index = static_cast<uint32_t>(index);
      entry.name = raw.utf16z(0, kEntryNameBytes);
      std::copy(raw.span().begin(), raw.span().end(), entry.raw.begin());
      entry.object_type = raw.u8(kEntryObjectTypeField);
      entry.start_sector = raw.u32(kEntryStartSectorField);
      entry.stream_size = raw.u32(kEntryStreamSizeField);
      if (file.root_index < 0 && to_lower_ascii(entry.name) == kRootEntryName) {
        file.root_index = static_cast<int64_t>(file.entries.size());
        file.root_start = entry.start_sector;
      }
      file.entries.push_back(std::move(entry));
      file.has_directory = true;
    }
  }
}

// Cuts the mini FAT, in index order, into the chains its end-of-chain values close.
void collect_mini_stream_chains(CompoundFile& file) {
  std::vector<uint32_t> chain;
  auto close_chain = [&file, &chain]() {
    if (chain.empty()) return;
    char name[32];
    std::snprintf(name, sizeof name, "MiniStream: %04zu", file.mini_stream_chains.size() + 1);
    file.mini_stream_chains.emplace(name, std::move(chain));
    chain.clear();
  };
  file.mini_fat.for_each([&](uint64_t index, uint32_t next) {
    if (next == kCfbFreeSector) return;
    chain.push_back(static_cast<uint32_t>(index));
    if (next == kCfbEndOfChain) close_chain();
  });
  close_chain();
}

void build_entry_chains(CompoundFile& file) {
  // In a sound file every sector belongs to one chain; the budget stops
  // damaged directories whose entries all share one long chain.
  uint64_t budget = 8 * (uint64_t{file.fat.entry_count()} + file.mini_fat.entry_count()) + 1024;
  for (size_t i = 0; i < file.entries.size(); ++i) {
    CfbDirectoryEntry& entry = file.entries[i];
    if (entry.object_type == 0 || entry.stream_size == 0) continue;
    const bool root = static_cast<int64_t>(i) == file.root_index;
    const bool mini = entry.stream_size < file.mini_stream_cutoff && !root;
    entry.in_mini_stream = mini;
    entry.chain = follow_chain(mini ? file.mini_fat : file.fat, entry.start_sector, budget);
    budget -= entry.chain.size();
  }
  for (const CfbDirectoryEntry& entry : file.entries) file.directory.emplace(to_lower_ascii(entry.name), entry);
}

// Appends a piece, joining it to the last one when they touch.
void append_run(std::vector<FileRun>& runs, uint64_t offset, uint64_t length) {
  if (length == 0) return;
  if (!runs.empty() && runs.back().offset + runs.back().length == offset) {
    runs.back().length += length;
    return;
  }
  runs.push_back({offset, length});
}

// length bytes from within into sector, when they lie inside count bytes.
bool sector_piece(uint64_t sector, uint64_t sector_size, uint64_t within, uint64_t length, uint64_t count,
                  uint64_t& offset) {
  uint64_t start = 0, end = 0;
  if (!checked_mul(sector + 1, sector_size, start) || !checked_add(start, within, offset) ||
      !checked_add(offset, length, end))
    return false;
  return end <= count;
}

// The root entry's sectors up to the first one past the end: the mini
// stream as far as it can be read.
std::vector<uint32_t> mini_stream_sectors(const CompoundFile& file, uint64_t count) {
  std::vector<uint32_t> sectors;
  if (file.root_index < 0) return sectors;
  for (uint32_t sector : file.entries[static_cast<size_t>(file.root_index)].chain) {
    uint64_t offset = 0;
    if (!sector_span(sector, file.sector_size, count, offset)) break;
    sectors.push_back(sector);
  }
  return sectors;
}

// Maps [position, position + length) of the mini stream to file pieces
// that lie inside count bytes.
bool mini_stream_runs(const CompoundFile& file, uint64_t position, uint64_t length, uint64_t count,
                      std::vector<FileRun>& runs) {
  const uint64_t sector_size = file.sector_size;
  while (length > 0) {
    const uint64_t slot = position / sector_size;
    if (slot >= file.mini_stream.size()) return false;
    const uint64_t within = position % sector_size;
    const uint64_t take = std::min(length, sector_size - within);
    uint64_t offset = 0;
    if (!sector_piece(file.mini_stream[slot], sector_size, within, take, count, offset)) return false;
    append_run(runs, offset, take);
    position += take;
    length -= take;
  }
  return true;
}

}  // namespace

void SectorTable::add_sector(uint64_t slot, std::vector<uint32_t> entries) {
  entry_count_ += entries.size();
  sectors_[slot] = std::move(entries);
}

bool SectorTable::next(uint64_t sector, uint32_t& out) const {
  if (per_sector_ == 0) return false;
  auto found = sectors_.find(sector / per_sector_);
  if (found == sectors_.end()) return false;
  out = found->second[sector % per_sector_];
  return true;
}

std::vector<uint32_t> follow_chain(const SectorTable& table, uint32_t start, uint64_t limit) {
  std::vector<uint32_t> chain;
  std::set<uint32_t> visited;
  uint32_t sector = start;
  uint32_t next = 0;
  while (chain.size() < limit && table.next(sector, next) && visited.insert(sector).second) {
    chain.push_back(sector);
    if (next == kCfbEndOfChain) break;
    sector = next;
  }
  return chain;
}

bool parse_compound_file(CompoundFile& file, const uint8_t* bytes_in, uint64_t count) {
  const ByteReader bytes(bytes_in, count);
  if (count < kHeaderSize || !bytes.matches(0, kCfbSignature) || !bytes.matches(kClsidField, kZeroClsid))
    return false;
  file = CompoundFile{};
  std::copy_n(bytes.span().begin(), kHeaderSize, file.header.begin());
  const uint8_t shift = bytes.u8(kSectorShiftField);
  const uint8_t mini_shift = bytes.u8(kMiniSectorShiftField);
  // A sector of 4 GiB or more cannot lie inside any buffer this reads.
  if (shift >= 32) return false;
  file.sector_size = uint32_t{1} << shift;
  file.mini_sector_size = mini_shift < 32 ? uint32_t{1} << mini_shift : 0;
  file.sector_count = static_cast<uint32_t>(
      std::min<uint64_t>((count - file.sector_size) / file.sector_size, UINT32_MAX));
  file.mini_stream_cutoff = bytes.u32(kMiniStreamCutoffField);

  uint64_t directory_offset = 0;
  if (!sector_span(bytes.u32(kFirstDirectorySectorField), file.sector_size, count, directory_offset))
    return false;

  file.fat_sectors = fat_sector_list(file, bytes);
  build_table(file.fat, file.fat_sectors, file, bytes);
  const uint64_t chain_limit = file.fat.entry_count();
  file.directory_sectors = follow_chain(file.fat, bytes.u32(kFirstDirectorySectorField), chain_limit);
  file.mini_fat_sectors = follow_chain(file.fat, bytes.u32(kFirstMiniFatSectorField), chain_limit);
  read_directory(file, bytes);
  build_table(file.mini_fat, file.mini_fat_sectors, file, bytes);
  collect_mini_stream_chains(file);
  build_entry_chains(file);
  file.mini_stream = mini_stream_sectors(file, count);
  return true;
}

std::vector<FileRun> stream_runs(const CompoundFile& file, const CfbDirectoryEntry& entry, uint64_t count) {
  std::vector<FileRun> runs;
  uint64_t left = entry.stream_size;
  if (entry.in_mini_stream) {
    const uint64_t mini_size = file.mini_sector_size;
    if (mini_size == 0) return runs;
    for (uint32_t mini : entry.chain) {
      if (left == 0) break;
      const uint64_t take = std::min(left, mini_size);
      if (!mini_stream_runs(file, uint64_t{mini} * mini_size, take, count, runs)) break;
      left -= take;
    }
    return runs;
  }
  for (uint32_t sector : entry.chain) {
    if (left == 0) break;
    const uint64_t take = std::min<uint64_t>(left, file.sector_size);
    uint64_t offset = 0;
    if (!sector_piece(sector, file.sector_size, 0, take, count, offset)) break;
    append_run(runs, offset, take);
    left -= take;
  }
  return runs;
}

std::vector<uint8_t> read_stream(const CompoundFile& file, const CfbDirectoryEntry& entry,
                                 const uint8_t* bytes_in, uint64_t count) {
  const ByteReader bytes(bytes_in, count);
  std::vector<uint8_t> data;
  for (const FileRun& run : stream_runs(file, entry, count)) {
    const auto piece = bytes.span().subspan(run.offset, run.length);
    data.insert(data.end(), piece.begin(), piece.end());
  }
  return data;
}

namespace {

bool is_live_stream(const CompoundFile& file, size_t index) {
  const CfbDirectoryEntry& entry = file.entries[index];
  return entry.object_type == kCfbStreamObject && entry.stream_size != 0 &&
         static_cast<int64_t>(index) != file.root_index;
}

// Sector slack: every whole sector nothing takes, the unused end of each
// large stream's last sector, and a cut sector at the end of the bytes.
std::vector<FileRun> sector_slack(const CompoundFile& file, uint64_t count) {
  const uint64_t sector_size = file.sector_size;
  const uint64_t sectors = (count - sector_size) / sector_size;
  std::vector<bool> taken(sectors, false);
  auto take = [&](const std::vector<uint32_t>& list) {
    for (uint32_t sector : list)
      if (sector < sectors) taken[sector] = true;
  };
  take(file.fat_sectors);
  take(file.difat_sectors);
  take(file.directory_sectors);
  take(file.mini_fat_sectors);
  take(file.mini_stream);

  std::vector<FileRun> tails;
  for (size_t i = 0; i < file.entries.size(); ++i) {
    const CfbDirectoryEntry& entry = file.entries[i];
    if (!is_live_stream(file, i) || entry.in_mini_stream) continue;
    uint64_t left = entry.stream_size;
    for (uint32_t sector : entry.chain) {
      if (left == 0) break;
      if (sector < sectors) taken[sector] = true;
      uint64_t offset = 0;
      if (left < sector_size && sector_piece(sector, sector_size, left, sector_size - left, count, offset))
        tails.push_back({offset, sector_size - left});
      left -= std::min<uint64_t>(left, sector_size);
    }
  }

  std::vector<FileRun> runs;
  std::sort(tails.begin(), tails.end(), [](const FileRun& a, const FileRun& b) { return a.offset < b.offset; });
  auto next_tail = tails.begin();
  for (uint64_t sector = 0; sector < sectors; ++sector) {
    const uint64_t start = (sector + 1) * sector_size;
    for (; next_tail != tails.end() && next_tail->offset < start + sector_size; ++next_tail)
      if (taken[sector]) append_run(runs, next_tail->offset, next_tail->length);
    if (!taken[sector]) append_run(runs, start, sector_size);
  }
  const uint64_t whole = (sectors + 1) * sector_size;
  if (whole < count) append_run(runs, whole, count - whole);
  return runs;
}

// Mini slack, in mini stream order: mini sectors no live small stream takes
// and the unused end of each one's last mini sector.
std::vector<FileRun> mini_slack(const CompoundFile& file, uint64_t count) {
  std::vector<FileRun> runs;
  const uint64_t mini_size = file.mini_sector_size;
  if (mini_size == 0 || file.mini_stream.empty()) return runs;
  const uint64_t capacity = file.mini_stream.size() * uint64_t{file.sector_size};
  // Bytes each taken mini sector holds; the gaps between them are slack.
  std::map<uint64_t, uint64_t> used;
  for (size_t i = 0; i < file.entries.size(); ++i) {
    const CfbDirectoryEntry& entry = file.entries[i];
    if (!is_live_stream(file, i) || !entry.in_mini_stream) continue;
    uint64_t left = entry.stream_size;
    for (uint32_t mini : entry.chain) {
      if (left == 0) break;
      const uint64_t take = std::min(left, mini_size);
      uint64_t& bytes = used[mini];
      bytes = std::max(bytes, take);
      left -= take;
    }
  }
  uint64_t position = 0;
  for (const auto& [mini, bytes] : used) {
    const uint64_t start = mini * mini_size;
    if (start >= capacity) break;
    if (start > position) mini_stream_runs(file, position, start - position, count, runs);
    position = std::max(position, start + bytes);
  }
  if (position < capacity) mini_stream_runs(file, position, capacity - position, count, runs);
  return runs;
}

}  // namespace

CfbSlack find_slack(const CompoundFile& file, uint64_t count) {
  CfbSlack slack;
  if (file.sector_size == 0 || count < file.sector_size || !file.has_directory) return slack;
  slack.sectors = sector_slack(file, count);
  slack.mini_sectors = mini_slack(file, count);
  return slack;
}

}  // namespace lnk
