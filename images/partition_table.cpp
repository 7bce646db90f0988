#include "images/partition_table.h"

#include <algorithm>
#include <array>
#include <set>

#include "platform/text.h"

namespace lnk {
namespace {

constexpr uint64_t kMbrReadBytes = 16384;
constexpr uint64_t kGptReadBytes = 32768;
constexpr uint64_t kMbrEntriesOffset = 446;
constexpr uint64_t kMbrEntrySize = 16;
constexpr int kMbrEntryCount = 4;
constexpr uint64_t kEntryTypeOffset = 4;
constexpr uint64_t kEntryStartOffset = 8;
constexpr uint64_t kEntrySectorsOffset = 12;
constexpr uint64_t kOemIdOffset = 3;
constexpr std::array<uint8_t, 8> kNtfsOemId = {'N', 'T', 'F', 'S', ' ', ' ', ' ', ' '};
constexpr uint32_t kGuessSectorSize = 512;
constexpr uint64_t kNtfsAtLba63 = 63;
// Linux stops far below this; a longer chain is a loop in disguise.
constexpr int kMaxExtendedRecords = 4096;
constexpr uint64_t kGuessScanChunk = 1 << 20;
// A lost table is looked for where a record the sector-63 volume could sit
// in front of lies: the first cylinders of an old disk (CHS alignment puts
// them 7.8 MiB apart), not the whole of what a header may claim.
constexpr uint64_t kGuessSearchBytes = 16u << 20;
constexpr std::array<uint32_t, 6> kSectorSizes = {512, 1024, 2048, 4096, 8192, 16384};

constexpr std::array<uint8_t, 8> kGptSignature = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr uint64_t kGptMyLbaOffset = 24;
constexpr uint64_t kGptFirstUsableOffset = 40;
constexpr uint64_t kGptLastUsableOffset = 48;
constexpr uint64_t kGptEntriesLbaOffset = 72;
constexpr uint64_t kGptEntryCountOffset = 80;
constexpr uint64_t kGptEntrySizeOffset = 84;
constexpr uint64_t kGptHeaderBytes = 92;
constexpr uint64_t kGptEntryTypeGuidOffset = 0;
constexpr uint64_t kGptEntryUniqueGuidOffset = 16;
constexpr uint64_t kGptEntryFirstLbaOffset = 32;
constexpr uint64_t kGptEntryLastLbaOffset = 40;
constexpr uint64_t kGptEntryNameOffset = 56;
constexpr uint64_t kGptEntryNameBytes = 72;
constexpr uint32_t kGptMinEntrySize = 128;
constexpr uint32_t kGptMaxEntrySize = 4096;
// Far above the 128 entries every tool writes; bounds what a header can ask for.
constexpr uint64_t kGptMaxArrayBytes = 8u << 20;

struct MbrEntry {
  uint8_t type = 0;
  uint32_t start = 0;
  uint32_t sectors = 0;
};

MbrEntry read_entry(const ByteReader& sector, int index) {
  const uint64_t at = kMbrEntriesOffset + kMbrEntrySize * static_cast<uint64_t>(index);
  return {sector.u8(at + kEntryTypeOffset), sector.u32(at + kEntryStartOffset), sector.u32(at + kEntrySectorsOffset)};
}

bool is_extended(uint8_t type) { return type == 0x05 || type == 0x0F; }
bool counts_as_partition(const MbrEntry& e) { return e.sectors != 0 && mbr_type_is_partition(e.type); }

bool signature_ends(const ByteReader& bytes, uint64_t end) {
  return end >= 2 && bytes.has(end - 2, 2) && bytes.u8(end - 2) == 0x55 && bytes.u8(end - 1) == 0xAA;
}

// The sector size whose last two bytes carry the boot signature; 0 for none.
uint32_t detect_sector_size(const ByteReader& head) {
  for (uint32_t size : kSectorSizes) {
    if (signature_ends(head, size)) return size;
  }
  return 0;
}

bool read_head(ByteSource& disk, uint64_t length, std::vector<uint8_t>& bytes) {
  bytes.assign(length, 0);
  uint64_t count = 0;
  if (!read_available(disk, 0, bytes, count) || count == 0) return false;
  bytes.resize(count);
  return true;
}

bool read_sector(ByteSource& disk, uint64_t lba, uint32_t sector_size, std::vector<uint8_t>& sector) {
  uint64_t offset = 0;
  if (!checked_mul(lba, sector_size, offset)) return false;
  sector.assign(sector_size, 0);
  return read_exact(disk, offset, sector);
}

// The first sector after sector 0, in the first MiBs, that ends with the
// boot signature. Stretches the source knows hold no data are not read.
bool find_guessed_record(ByteSource& disk, uint64_t& lba) {
  std::vector<uint8_t> chunk(kGuessScanChunk);
  const uint64_t size = std::min(disk.size(), kGuessSearchBytes);
  uint64_t offset = kGuessSectorSize;
  // Each pass moves on by a chunk or by the whole sectors of a stretch
  // without data; the bound above limits the passes.
  while (offset < size) {
    const HoldingRun run = disk.holding_at(offset);
    const uint64_t empty = run.holding != Holding::data && run.end > offset ? std::min(run.end, size) - offset : 0;
    if (empty >= kGuessSectorSize) {
      offset += empty - empty % kGuessSectorSize;
      continue;
    }
    // A read stops where the data does, so one that reaches past what a
    // container stores does not fail whole.
    const uint64_t run_bytes = run.end > offset ? std::min(run.end, size) - offset : size - offset;
    uint64_t want = std::min<uint64_t>(kGuessScanChunk, size - offset);
    if (run_bytes >= kGuessSectorSize) want = std::min(want, run_bytes - run_bytes % kGuessSectorSize);
    uint64_t got = 0;
    if (!read_available(disk, offset, std::span<uint8_t>(chunk).first(want), got) || got == 0) return false;
    const ByteReader bytes(chunk.data(), got);
    for (uint64_t at = 0; at + kGuessSectorSize <= got; at += kGuessSectorSize) {
      if (signature_ends(bytes, at + kGuessSectorSize)) {
        lba = (offset + at) / kGuessSectorSize;
        return true;
      }
    }
    if (got < want) return false;
    offset += want;
  }
  return false;
}

class MbrWalk {
 public:
  MbrWalk(ByteSource& disk, std::vector<Partition>& out) : disk_(disk), out_(out) {}

  // The four slots are independent and need not follow the disk's order
  // (sfdisk readily puts the extended entry first): every slot is read, the
  // logical partitions listed where their extended entry stands. A second
  // extended entry is not followed; Windows uses only one.
  bool primary(const ByteReader& head, uint32_t sector_size) {
    sector_size_ = sector_size;
    bool extended_seen = false;
    for (int i = 0; i < kMbrEntryCount; ++i) {
      const MbrEntry e = read_entry(head, i);
      last_type_ = e.type;
      if (e.type == kPartitionTypeGptProtective && !extended_seen) {
        out_.clear();
        return read_gpt(disk_, out_);
      }
      if (!counts_as_partition(e) || (is_extended(e.type) && extended_seen)) continue;
      add(e.start, e.sectors, e.type);
      if (is_extended(e.type)) {
        extended_seen = true;
        extended(e.start);
      }
    }
    return true;
  }

  void guessed(uint64_t base) {
    sector_size_ = kGuessSectorSize;
    extended(base);
  }

 private:
  void add(uint64_t start, uint64_t sectors, uint16_t type) {
    Partition p;
    p.start_sector = start;
    p.sector_count = sectors;
    p.type = type;
    p.sector_size = sector_size_;
    out_.push_back(p);
  }

  // Adds the record's entries relative to record_lba until a link or an
  // entry that is not a partition; returns the next record's LBA, or 0.
  uint64_t walk_record(const ByteReader& record, uint64_t record_lba, uint64_t base) {
    for (int i = 0; i < kMbrEntryCount; ++i) {
      const MbrEntry e = read_entry(record, i);
      last_type_ = e.type;
      if (!counts_as_partition(e)) return 0;
      if (is_extended(e.type)) return e.start + base;
      add(e.start + record_lba, e.sectors, e.type);
    }
    return 0;
  }

  void extended(uint64_t base) {
    std::vector<uint8_t> sector;
    if (!read_sector(disk_, base, sector_size_, sector)) return;
    uint64_t next = walk_record(ByteReader(sector), base, base);
    // A volume at sector 63 in front of the extended partition is an XP-era
    // primary whose table entry was lost; the type is whatever was read last.
    uint64_t ntfs_offset = 0;
    if (base > kNtfsAtLba63 && checked_mul(kNtfsAtLba63, sector_size_, ntfs_offset) &&
        has_ntfs_boot_sector(disk_, ntfs_offset)) {
      add(kNtfsAtLba63, base - kNtfsAtLba63, static_cast<uint16_t>(last_type_ | kPartitionTypeGuessed));
    }
    std::set<uint64_t> visited = {base};
    for (int records = 0; next != 0 && records < kMaxExtendedRecords; ++records) {
      if (!visited.insert(next).second) return;
      const uint64_t record_lba = next;
      if (!read_sector(disk_, record_lba, sector_size_, sector)) return;
      const ByteReader record(sector);
      if (!signature_ends(record, sector_size_)) return;
      next = walk_record(record, record_lba, base);
    }
  }

  ByteSource& disk_;
  std::vector<Partition>& out_;
  uint32_t sector_size_ = kGuessSectorSize;
  uint8_t last_type_ = 0;
};

// Each gap goes in front of the partition that follows it, so a listing in
// table order reads along the disk.
void add_unallocated_gaps(uint64_t first_usable, uint64_t last_usable, uint32_t sector_size,
                          std::vector<Partition>& out) {
  if (first_usable == 0 || last_usable < first_usable || last_usable == UINT64_MAX) return;
  struct Used {
    uint64_t start, last;
    size_t index;
    bool operator<(const Used& o) const { return start < o.start; }
  };
  std::vector<Used> used;
  for (size_t i = 0; i < out.size(); ++i) {
    uint64_t last = 0;
    if (!checked_add(out[i].start_sector, out[i].sector_count - 1, last)) last = UINT64_MAX;
    used.push_back({out[i].start_sector, last, i});
  }
  std::stable_sort(used.begin(), used.end());
  std::vector<std::vector<Partition>> before(out.size() + 1);
  uint64_t cursor = first_usable;
  auto gap_until = [&](uint64_t end, size_t next_index) {  // end is exclusive
    if (end <= cursor) return;
    Partition gap;
    gap.start_sector = cursor;
    gap.sector_count = end - cursor;
    gap.sector_size = sector_size;
    gap.unallocated = true;
    gap.name = "unalloc";
    before[next_index].push_back(gap);
  };
  for (const Used& u : used) {
    if (cursor > last_usable) break;
    gap_until(std::min(u.start, last_usable + 1), u.start <= last_usable ? u.index : out.size());
    if (u.last >= cursor) cursor = u.last == UINT64_MAX ? u.last : u.last + 1;
  }
  if (cursor <= last_usable) gap_until(last_usable + 1, out.size());
  std::vector<Partition> merged;
  for (size_t i = 0; i <= out.size(); ++i) {
    merged.insert(merged.end(), before[i].begin(), before[i].end());
    if (i < out.size()) merged.push_back(out[i]);
  }
  out = std::move(merged);
}

bool lowercase_ntfs_at(ByteSource& disk, uint64_t offset) {
  std::array<uint8_t, kOemIdOffset + kNtfsOemId.size()> head{};
  if (!read_exact(disk, offset, head)) return false;
  const std::string oem = to_lower_ascii(std::string(head.begin() + kOemIdOffset, head.end()));
  return oem == "ntfs    ";
}

}  // namespace

uint64_t Partition::byte_offset() const {
  uint64_t bytes = 0;
  return checked_mul(start_sector, sector_size, bytes) ? bytes : UINT64_MAX;
}

uint64_t Partition::byte_length() const {
  uint64_t bytes = 0;
  return checked_mul(sector_count, sector_size, bytes) ? bytes : UINT64_MAX;
}

bool mbr_type_is_partition(uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x05: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0F:
    case 0x11: case 0x14: case 0x16: case 0x1B: case 0x1C: case 0x1E: case 0x82: case 0x83:
    case 0x86: case 0x88: case 0x8B: case 0x8C: case 0x8D: case 0x8E: case 0x90: case 0x91:
    case 0x92: case 0x93: case 0x97: case 0x98:
      return true;
    default:
      return false;
  }
}

std::string partition_type_name(uint16_t type) {
  const char* name = "unk";
  switch (type & 0xFF) {
    case 0x00: name = "empty"; break;
    case 0x01: case 0x8D: name = "fat12"; break;
    case 0x02: name = "xenix root"; break;
    case 0x03: name = "xenix /usr"; break;
    case 0x04: name = "dos 3.0+ fat16"; break;
    case 0x05: name = "extended"; break;
    case 0x06: name = "dos 3.31+ fat16"; break;
    case 0x07: name = "ntfs"; break;
    case 0x08: name = "aix boot"; break;
    case 0x09: name = "aix data"; break;
    case 0x0A: name = "os/2 boot"; break;
    case 0x0B: case 0x0C: name = "fat32"; break;
    case 0x0E: name = "dos fat16 LBA mapped"; break;
    case 0x0F: name = "microsoft extended"; break;
    case 0x11: case 0x14: case 0x16: name = "Hidden dos fat16"; break;
    case 0x1B: case 0x1C: name = "Hidden fat32"; break;
    case 0x1E: name = "Hidden dos fat16"; break;
    case 0x82: name = "linux swap"; break;
    case 0x83: name = "linux native"; break;
    case 0x86: name = "fat16 volume set"; break;
    case 0x87: name = "ntfs volume set"; break;
    case 0x88: name = "linux partition table"; break;
    case 0x8B: case 0x8C: name = "fat32 fault tolerant"; break;
    case 0x8E: name = "linux Logical Volume Mgr"; break;
    case 0x90: case 0x91: case 0x92: name = "hidden dos fat16"; break;
    case 0x93: name = "hidden linux native"; break;
    case 0x97: case 0x98: name = "hidden dos fat32"; break;
    case 0xA0: case 0xA1: name = "laptop hibernation partition"; break;
    case 0xA6: name = "openbsd"; break;
    default: break;
  }
  std::string text = name;
  if (type & kPartitionTypeGuessed) text += " [guess]";
  return text;
}

std::string partition_display_name(const Partition& partition) {
  return partition.unallocated ? partition.name : partition_type_name(partition.type);
}

bool has_ntfs_boot_sector(ByteSource& disk, uint64_t offset) {
  std::array<uint8_t, kOemIdOffset + kNtfsOemId.size()> head{};
  if (!read_exact(disk, offset, head)) return false;
  return std::equal(kNtfsOemId.begin(), kNtfsOemId.end(), head.begin() + kOemIdOffset);
}

bool read_gpt(ByteSource& disk, std::vector<Partition>& out) {
  out.clear();
  std::vector<uint8_t> head;
  if (!read_head(disk, kGptReadBytes, head)) return false;
  const ByteReader bytes(head);
  // The protective MBR says 512 even on 4K disks, so every size is tried.
  std::vector<uint32_t> sizes;
  if (const uint32_t detected = detect_sector_size(bytes)) sizes.push_back(detected);
  sizes.insert(sizes.end(), kSectorSizes.begin(), kSectorSizes.end());
  uint32_t sector_size = 0;
  for (uint32_t size : sizes) {
    if (bytes.matches(size, kGptSignature) && bytes.has(size, kGptHeaderBytes) &&
        bytes.u64(size + kGptMyLbaOffset) == 1) {
      sector_size = size;
      break;
    }
  }
  if (sector_size == 0) return false;
  const ByteReader header = bytes.sub(sector_size, kGptHeaderBytes);
  const uint64_t entries_lba = header.u64(kGptEntriesLbaOffset);
  const uint32_t entry_size = header.u32(kGptEntrySizeOffset);
  uint64_t entry_count = header.u32(kGptEntryCountOffset);
  if (entry_size < kGptMinEntrySize || entry_size > kGptMaxEntrySize) return false;
  entry_count = std::min<uint64_t>(entry_count, kGptMaxArrayBytes / entry_size);
  uint64_t array_offset = 0;
  if (!checked_mul(entries_lba, sector_size, array_offset)) return false;
  std::vector<uint8_t> array(entry_count * entry_size);
  uint64_t got = 0;
  if (array_offset < disk.size()) {
    array.resize(std::min<uint64_t>(array.size(), disk.size() - array_offset));
    if (!read_available(disk, array_offset, array, got)) got = 0;
  }
  const ByteReader entries(array.data(), got);
  for (uint64_t i = 0; i < got / entry_size; ++i) {
    const ByteReader entry = entries.sub(i * entry_size, entry_size);
    const Guid type_guid = entry.guid(kGptEntryTypeGuidOffset);
    if (guid_is_zero(type_guid)) continue;
    const uint64_t first = entry.u64(kGptEntryFirstLbaOffset);
    const uint64_t last = entry.u64(kGptEntryLastLbaOffset);
    if (last < first || last - first == UINT64_MAX) continue;
    Partition p;
    p.start_sector = first;
    p.sector_count = last - first + 1;
    p.sector_size = sector_size;
    p.type_guid = type_guid;
    p.unique_guid = entry.guid(kGptEntryUniqueGuidOffset);
    p.name = entry.utf16z(kGptEntryNameOffset, kGptEntryNameBytes);
    p.type = lowercase_ntfs_at(disk, p.byte_offset()) ? kPartitionTypeNtfs : kPartitionTypeGptProtective;
    out.push_back(p);
  }
  const uint64_t disk_sectors = disk.size() / sector_size;
  uint64_t last_usable = header.u64(kGptLastUsableOffset);
  if (disk_sectors != 0) last_usable = std::min(last_usable, disk_sectors - 1);
  add_unallocated_gaps(header.u64(kGptFirstUsableOffset), last_usable, sector_size, out);
  return true;
}

bool read_partition_table(ByteSource& disk, bool guess, std::vector<Partition>& out) {
  out.clear();
  std::vector<uint8_t> head;
  if (!read_head(disk, kMbrReadBytes, head)) return false;
  const ByteReader bytes(head);
  if (bytes.matches(kOemIdOffset, kNtfsOemId)) return false;
  MbrWalk walk(disk, out);
  const uint32_t sector_size = detect_sector_size(bytes);
  if (sector_size != 0) return walk.primary(bytes, sector_size);
  uint64_t record_lba = 0;
  if (!guess || !find_guessed_record(disk, record_lba)) return false;
  walk.guessed(record_lba);
  return true;
}

}  // namespace lnk
