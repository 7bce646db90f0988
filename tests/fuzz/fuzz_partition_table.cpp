// Sectors placed anywhere on a disk of up to 2 MiB, through the MBR, GPT and
// volume-offset readers and the listing text.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "cmdline/partition_listing.h"
#include "images/image_volume.h"
#include "images/partition_table.h"
#include "tests/pieced_source.h"

// Input: u16 disk size in sectors, then records of u16 sector number and
// 512 bytes. Sectors not given read as zeros.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint64_t kSector = 512, kMaxSectors = 4096;
  if (size < 2 || size > (64u << 10)) return 0;
  const uint64_t sectors = 1 + (data[0] | data[1] << 8) % kMaxSectors;
  lnk::test::PiecedSource disk(sectors * kSector, lnk::Holding::zeros);
  for (size_t at = 2; at + 2 <= size; at += 2 + kSector) {
    std::vector<uint8_t> sector(kSector, 0);
    std::copy(data + at + 2, data + std::min<size_t>(size, at + 2 + kSector), sector.begin());
    disk.put((data[at] | data[at + 1] << 8) % sectors * kSector, sector);
  }
  std::vector<lnk::Partition> list;
  lnk::read_partition_table(disk, false, list);
  lnk::read_gpt(disk, list);
  const lnk::ImageVolumeSearch search = lnk::find_image_volume(disk, 0);
  lnk::render_volume_search(search);
  for (size_t i = 0; i < search.partitions.size() && i < 4; ++i) {
    lnk::render_volume_search(lnk::find_image_volume(disk, search.partitions[i].byte_offset()));
  }
  return 0;
}
