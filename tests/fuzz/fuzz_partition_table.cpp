// Sectors placed anywhere on a disk of up to 2 MiB, through the MBR, GPT and
// volume-offset readers and the listing text.
#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "cmdline/partition_listing.h"
#include "images/image_volume.h"
#include "images/partition_table.h"
#include "storage/byte_source.h"

namespace {

constexpr uint64_t kSector = 512;
constexpr uint64_t kMaxSectors = 4096;

// Input: u16 disk size in sectors, then records of u16 sector number and
// 512 bytes. Sectors not given read as zeros.
class SectorDisk : public lnk::ByteSource {
 public:
  SectorDisk(const uint8_t* data, size_t size) {
    if (size < 2) return;
    sectors_ = 1 + (data[0] | data[1] << 8) % kMaxSectors;
    for (size_t at = 2; at + 2 <= size; at += 2 + kSector) {
      const uint64_t lba = (data[at] | data[at + 1] << 8) % sectors_;
      std::vector<uint8_t>& sector = written_[lba];
      sector.assign(kSector, 0);
      for (size_t i = 0; i < kSector && at + 2 + i < size; ++i) sector[i] = data[at + 2 + i];
    }
  }
  int64_t read_at(uint64_t offset, std::span<uint8_t> buffer) override {
    if (offset >= size()) return 0;
    const uint64_t count = std::min<uint64_t>(buffer.size(), size() - offset);
    for (uint64_t i = 0; i < count;) {
      const uint64_t lba = (offset + i) / kSector, within = (offset + i) % kSector;
      const uint64_t piece = std::min(count - i, kSector - within);
      const auto found = written_.find(lba);
      const auto target = buffer.subspan(i, piece);
      if (found == written_.end()) {
        std::fill(target.begin(), target.end(), uint8_t{0});
      } else {
        std::copy_n(found->second.begin() + static_cast<std::ptrdiff_t>(within), piece, target.begin());
      }
      i += piece;
    }
    return static_cast<int64_t>(count);
  }
  uint64_t size() const override { return sectors_ * kSector; }

 private:
  uint64_t sectors_ = 0;
  std::map<uint64_t, std::vector<uint8_t>> written_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (64u << 10)) return 0;
  SectorDisk disk(data, size);
  std::vector<lnk::Partition> list;
  lnk::read_partition_table(disk, false, list);
  lnk::read_gpt(disk, list);
  const lnk::ImageVolumeSearch search = lnk::find_image_volume(disk, 0);
  lnk::render_volume_search(search);
  for (size_t i = 0; i < search.partitions.size() && i < 4; ++i) {
    lnk::render_volume_search(lnk::find_image_volume(disk, search.partitions[i].byte_offset()));
  }
  lnk::detect_partition_starts(disk);
  return 0;
}
