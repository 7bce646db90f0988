#include "images/partition_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <tuple>

#include "platform/text.h"
#include "storage/memory_source.h"
#include "tests/pieced_source.h"

namespace lnk {
namespace {

// A disk image in memory with MBR-style records written into it.
struct DiskBytes {
  std::vector<uint8_t> bytes;
  explicit DiskBytes(size_t sectors) : bytes(sectors * 512, 0) {}

  void put32(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void put64(size_t at, uint64_t v) { put32(at, static_cast<uint32_t>(v)), put32(at + 4, static_cast<uint32_t>(v >> 32)); }
  // Entry i of the table in the record at byte offset record.
  DiskBytes& entry(size_t record, int i, uint8_t type, uint32_t start, uint32_t sectors) {
    const size_t at = record + 446 + 16 * static_cast<size_t>(i);
    bytes[at + 4] = type;
    put32(at + 8, start);
    put32(at + 12, sectors);
    return *this;
  }
  DiskBytes& signature(size_t sector_end) {
    bytes[sector_end - 2] = 0x55;
    bytes[sector_end - 1] = 0xAA;
    return *this;
  }
  DiskBytes& oem(size_t offset, const char* id) {
    std::copy(id, id + 8, bytes.begin() + static_cast<std::ptrdiff_t>(offset + 3));
    return *this;
  }
};

using Found = std::tuple<uint64_t, uint64_t, uint16_t>;  // start, sectors, type

std::vector<Found> found_of(const std::vector<Partition>& list) {
  std::vector<Found> out;
  for (const Partition& p : list) out.emplace_back(p.start_sector, p.sector_count, p.unallocated ? 0xFFFF : p.type);
  return out;
}

struct MbrCase {
  const char* name;
  std::function<void(DiskBytes&)> build;
  bool guess;
  bool ok;
  std::vector<Found> expected;
  uint32_t sector_size = 512;
};

TEST(MbrReader, ExtendedChainsGuessesAndSectorSizes) {
  const MbrCase cases[] = {
      {"primary and a chain of two logical partitions",
       [](DiskBytes& d) {
         d.entry(0, 0, 0x07, 2048, 100).entry(0, 1, 0x05, 4096, 8192).signature(512);
         d.entry(4096 * 512, 0, 0x83, 64, 100).entry(4096 * 512, 1, 0x05, 1000, 200);
         d.entry(5096 * 512, 0, 0x0B, 64, 50).signature(5097 * 512);
       },
       false, true, {{2048, 100, 0x07}, {4096, 8192, 0x05}, {4160, 100, 0x83}, {5160, 50, 0x0B}}},
      {"a link back to the first record ends the chain",
       [](DiskBytes& d) {
         d.entry(0, 0, 0x0F, 4096, 8192).signature(512);
         d.entry(4096 * 512, 0, 0x83, 64, 100).entry(4096 * 512, 1, 0x05, 1000, 200);
         d.entry(5096 * 512, 0, 0x83, 10, 5).entry(5096 * 512, 1, 0x05, 0, 8192).signature(5097 * 512);
       },
       false, true, {{4096, 8192, 0x0F}, {4160, 100, 0x83}, {5106, 5, 0x83}}},
      {"a record without the signature ends the chain",
       [](DiskBytes& d) {
         d.entry(0, 0, 0x05, 4096, 8192).signature(512);
         d.entry(4096 * 512, 0, 0x83, 64, 100).entry(4096 * 512, 1, 0x05, 1000, 200);
         d.entry(5096 * 512, 0, 0x83, 10, 5);
       },
       false, true, {{4096, 8192, 0x05}, {4160, 100, 0x83}}},
      {"types outside the set are skipped in the MBR and end an extended record",
       [](DiskBytes& d) {
         d.entry(0, 0, 0x0E, 100, 10).entry(0, 1, 0x07, 200, 10).entry(0, 2, 0x05, 4096, 100).signature(512);
         d.entry(4096 * 512, 0, 0x0E, 1, 5).entry(4096 * 512, 1, 0x83, 20, 5);
       },
       false, true, {{200, 10, 0x07}, {4096, 100, 0x05}}},
      {"NTFS at LBA 63 in front of the extended partition is guessed from the last type read",
       [](DiskBytes& d) {
         d.entry(0, 0, 0x05, 2048, 4096).signature(512).oem(63 * 512, "NTFS    ");
         d.entry(2048 * 512, 0, 0x07, 63, 100).entry(2048 * 512, 1, 0x05, 200, 300);
       },
       false, true, {{2048, 4096, 0x05}, {2111, 100, 0x07}, {63, 1985, 0x05 | kPartitionTypeGuessed}}},
      {"a protective-less disk with the signature at the end of a 4096-byte sector",
       [](DiskBytes& d) { d.entry(0, 0, 0x07, 256, 1000).signature(4096); }, false, true, {{256, 1000, 0x07}}, 4096},
      {"a volume boot sector is not a table", [](DiskBytes& d) { d.oem(0, "NTFS    ").signature(512); }, true,
       false, {}},
      {"no signature and no guessing", [](DiskBytes& d) { d.entry(0, 0, 0x07, 256, 1000); }, false, false, {}},
      {"guessing takes the first signed sector as an extended record",
       [](DiskBytes& d) { d.entry(5 * 512, 0, 0x83, 10, 20).entry(5 * 512, 1, 0x07, 40, 20).signature(6 * 512); },
       true, true, {{15, 20, 0x83}, {45, 20, 0x07}}},
      {"guessing over a disk without any signature", [](DiskBytes&) {}, true, false, {}},
      {"empty entries: a table without partitions", [](DiskBytes& d) { d.signature(512); }, false, true, {}},
      {"slots after the extended entry follow its chain; a second extended entry is skipped",
       [](DiskBytes& d) {
         d.entry(0, 0, 0x05, 4096, 2048).entry(0, 1, 0x07, 8192, 100).entry(0, 2, 0x0F, 9000, 100);
         d.entry(0, 3, 0x83, 10000, 100).signature(512);
         d.entry(4096 * 512, 0, 0x0B, 64, 100);
       },
       false, true, {{4096, 2048, 0x05}, {4160, 100, 0x0B}, {8192, 100, 0x07}, {10000, 100, 0x83}}},
  };
  for (const MbrCase& c : cases) {
    DiskBytes disk(16384);
    c.build(disk);
    MemorySource source(disk.bytes);
    std::vector<Partition> list;
    EXPECT_EQ(read_partition_table(source, c.guess, list), c.ok) << c.name;
    EXPECT_EQ(found_of(list), c.expected) << c.name;
    for (const Partition& p : list) EXPECT_EQ(p.sector_size, c.sector_size) << c.name;
  }
}

// A header may claim a petabyte: the guess looks for a lost record in the
// first 16 MiB only, and never reads what the disk knows holds no data.
TEST(MbrReader, GuessStaysInTheFirstMiBs) {
  for (const uint64_t record_at : {uint64_t{8} << 20, uint64_t{32} << 20}) {
    test::PiecedSource disk(uint64_t{1} << 50, Holding::zeros);
    disk.put(0, std::vector<uint8_t>(65536));
    DiskBytes record(1);
    record.entry(0, 0, 0x07, 63, 100).signature(512);
    disk.put(record_at, record.bytes);
    const bool near = record_at < (16u << 20);
    std::vector<Partition> list;
    EXPECT_EQ(read_partition_table(disk, true, list), near);
    EXPECT_EQ(found_of(list), (near ? std::vector<Found>{{record_at / 512 + 63, 100, 0x07}} : std::vector<Found>{}));
    EXPECT_EQ(disk.read_outside(), 0u);
  }
}

// A GPT disk: protective MBR, header at LBA 1, entries from LBA 2.
struct GptDisk : DiskBytes {
  uint32_t sector;
  GptDisk(size_t sectors, uint32_t sector_size, uint32_t count = 128, uint32_t entry_size = 128)
      : DiskBytes(sectors * sector_size / 512), sector(sector_size) {
    entry(0, 0, 0xEE, 1, 0xFFFFFFFF).signature(512);
    const char sig[] = "EFI PART";
    std::copy(sig, sig + 8, bytes.begin() + sector);
    put64(sector + 24, 1);
    put64(sector + 40, 34);
    put64(sector + 48, sectors - 34);
    put64(sector + 72, 2);
    put32(sector + 80, count);
    put32(sector + 84, entry_size);
  }
  GptDisk& part(int i, const char* type_guid, uint64_t first, uint64_t last) {
    const size_t at = 2 * sector + 128 * static_cast<size_t>(i);
    Guid g{};
    parse_guid(type_guid, g);
    std::copy(g.begin(), g.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    put64(at + 32, first);
    put64(at + 40, last);
    bytes[at + 56] = 'd';
    return *this;
  }
};

constexpr const char* kBasicData = "ebd0a0a2-b9e5-4433-87c0-68b6b72699c7";
constexpr const char* kReserved = "e3c9e316-0b5c-4db8-817d-f92df00215ae";

TEST(GptReader, EntriesNtfsDetectionAndGaps) {
  for (uint32_t sector : {512u, 4096u}) {
    GptDisk disk(4096, sector);
    disk.part(0, kReserved, 34, 99).part(2, kBasicData, 200, 999).part(3, kBasicData, 1000, 1999);
    disk.oem(200 * sector, "ntfs    ");  // compared without case
    disk.oem(1000 * sector, "NTFS  x ");
    MemorySource source(disk.bytes);
    std::vector<Partition> list;
    ASSERT_TRUE(read_partition_table(source, false, list)) << sector;
    const std::vector<Found> expected = {{34, 66, 0xEE},   {100, 100, 0xFFFF},   {200, 800, 0x07},
                                         {1000, 1000, 0xEE}, {2000, 2063, 0xFFFF}};
    EXPECT_EQ(found_of(list), expected) << sector;
    EXPECT_EQ(std::make_tuple(guid_text(list[2].type_guid), list[2].name, list[2].byte_offset(),
                              partition_display_name(list[1])),
              std::make_tuple(kBasicData, "d", 200ull * sector, "unalloc"));
  }
}

TEST(GptReader, HostileHeadersEndWithoutReadingPastTheDisk) {
  struct Case {
    const char* name;
    uint32_t count, entry_size;
    uint64_t entries_lba, my_lba;
    bool ok;
    size_t partitions;
  };
  const Case cases[] = {
      {"entry size below 128", 128, 64, 2, 1, false, 0},
      {"entry size far too large", 4, 1u << 20, 2, 1, false, 0},
      {"entry count of four billion", 0xFFFFFFFF, 128, 2, 1, true, 1},
      {"entry array past the end", 128, 128, 1ull << 40, 1, true, 0},
      {"entry array LBA that overflows", 128, 128, 1ull << 60, 1, false, 0},
      {"header that does not sit at LBA 1", 128, 128, 2, 7, false, 0},
  };
  for (const Case& c : cases) {
    GptDisk disk(4096, 512, c.count, c.entry_size);
    disk.put64(512 + 72, c.entries_lba);
    disk.put64(512 + 24, c.my_lba);
    disk.part(0, kBasicData, 100, 199);
    MemorySource source(disk.bytes);
    std::vector<Partition> list;
    EXPECT_EQ(read_partition_table(source, false, list), c.ok) << c.name;
    EXPECT_EQ(std::ranges::count(list, false, &Partition::unallocated), c.partitions) << c.name;
  }
}

}  // namespace
}  // namespace lnk
