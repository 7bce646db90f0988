#include "tests/cfb_builder.h"

#include <algorithm>
#include <numeric>

namespace lnk::test {

namespace {
constexpr size_t kHeaderDifat = 76;
constexpr uint32_t kMiniSector = 64;
constexpr uint32_t kCutoff = 4096;
}  // namespace

CfbImage::CfbImage(uint32_t sector_count) : bytes_((size_t{sector_count} + 1) * 512, 0) {
  const Bytes signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(signature.begin(), signature.end(), bytes_.begin());
  // Minor and major version, byte order, sector and mini sector shifts.
  for (auto [at, value] : {std::pair<size_t, uint16_t>{24, 0x3E}, {26, 3}, {28, 0xFFFE}, {30, 9}, {32, 6}})
    set_u16(bytes_, at, value);
  for (auto [at, value] : {std::pair<size_t, uint32_t>{48, kEnd}, {56, kCutoff}, {60, kEnd}, {68, kEnd}})
    set_u32(bytes_, at, value);
  for (size_t i = 0; i < 109; ++i) set_u32(bytes_, kHeaderDifat + i * 4, kFree);
}

void CfbImage::place_fat(const std::vector<uint32_t>& fat_sectors, const std::vector<uint32_t>& difat_sectors) {
  fat_sectors_ = fat_sectors;
  for (uint32_t sector : fat_sectors)
    for (uint32_t i = 0; i < sector_size_ / 4; ++i) set_u32(bytes_, sector_offset(sector) + i * 4, kFree);
  header_u32(44, static_cast<uint32_t>(fat_sectors.size()));
  header_u32(72, static_cast<uint32_t>(difat_sectors.size()));
  header_u32(68, difat_sectors.empty() ? kEnd : difat_sectors.front());
  const size_t per_difat = sector_size_ / 4 - 1;
  for (size_t i = 0; i < fat_sectors.size(); ++i) {
    if (i < 109) {
      header_u32(kHeaderDifat + i * 4, fat_sectors[i]);
      continue;
    }
    const size_t k = (i - 109) / per_difat;
    const size_t at = sector_offset(difat_sectors.at(k)) + ((i - 109) % per_difat) * 4;
    set_u32(bytes_, at, fat_sectors[i]);
  }
  for (size_t k = 0; k < difat_sectors.size(); ++k) {
    const size_t last = sector_offset(difat_sectors[k]) + per_difat * 4;
    set_u32(bytes_, last, k + 1 < difat_sectors.size() ? difat_sectors[k + 1] : kEnd);
    set_fat(difat_sectors[k], kDifatMark);
  }
  for (uint32_t sector : fat_sectors) set_fat(sector, kFatMark);
}

void CfbImage::set_fat(uint32_t index, uint32_t next) {
  const uint32_t per = sector_size_ / 4;
  set_u32(bytes_, sector_offset(fat_sectors_.at(index / per)) + (index % per) * 4, next);
}

void CfbImage::chain(const std::vector<uint32_t>& sectors) {
  for (size_t i = 0; i < sectors.size(); ++i) set_fat(sectors[i], i + 1 < sectors.size() ? sectors[i + 1] : kEnd);
}

void CfbImage::set_mini_fat(uint32_t mini_fat_sector, uint32_t index, uint32_t next) {
  set_u32(bytes_, sector_offset(mini_fat_sector) + index * 4, next);
}

void CfbImage::directory_entry(uint32_t sector, uint32_t slot, const std::string& name, uint8_t type,
                               uint32_t start, uint32_t size) {
  const size_t at = sector_offset(sector) + slot * 128;
  Bytes name16 = utf16le(name);
  name16.resize(std::min<size_t>(name16.size(), 62));
  write(at, name16);
  set_u16(bytes_, at + 64, static_cast<uint16_t>(name16.size() + 2));
  bytes_.at(at + 66) = type;
  for (size_t sibling_or_child : {68, 72, 76}) set_u32(bytes_, at + sibling_or_child, kFree);
  set_u32(bytes_, at + 116, start);
  set_u32(bytes_, at + 120, size);
}

void CfbImage::write(size_t offset, const Bytes& data) {
  std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

Bytes simple_jump_list(const std::vector<Bytes>& streams) {
  auto sectors_for = [](size_t size, size_t unit) { return static_cast<uint32_t>((size + unit - 1) / unit); };
  uint32_t mini_sectors = 0, large_sectors = 0;
  for (const Bytes& s : streams) {
    if (s.size() < kCutoff) mini_sectors += sectors_for(s.size(), kMiniSector);
    else large_sectors += sectors_for(s.size(), 512);
  }
  const uint32_t root_sectors = std::max<uint32_t>(1, sectors_for(size_t{mini_sectors} * kMiniSector, 512));
  const uint32_t total = 3 + root_sectors + large_sectors;
  CfbImage image(total);
  image.place_fat({0}, {});
  image.header_u32(48, 1);
  image.header_u32(60, 2);
  image.header_u32(64, 1);
  image.set_fat(1, kEnd);
  image.set_fat(2, kEnd);
  for (uint32_t i = 0; i < 128; ++i) image.set_mini_fat(2, i, kFree);

  std::vector<uint32_t> root(root_sectors);
  std::iota(root.begin(), root.end(), 3u);
  image.chain(root);
  image.directory_entry(1, 0, "Root Entry", 5, 3, mini_sectors * kMiniSector);

  uint32_t next_mini = 0, next_large = 3 + root_sectors;
  for (size_t i = 0; i < streams.size(); ++i) {
    const Bytes& s = streams[i];
    const std::string name = std::to_string(i + 1);
    if (s.size() < kCutoff) {
      const uint32_t n = sectors_for(s.size(), kMiniSector);
      for (uint32_t k = 0; k < n; ++k) image.set_mini_fat(2, next_mini + k, k + 1 < n ? next_mini + k + 1 : kEnd);
      image.write(image.sector_offset(3) + size_t{next_mini} * kMiniSector, s);
      image.directory_entry(1, static_cast<uint32_t>(i + 1), name, 2, next_mini, static_cast<uint32_t>(s.size()));
      next_mini += n;
    } else {
      const uint32_t n = sectors_for(s.size(), 512);
      std::vector<uint32_t> chain(n);
      std::iota(chain.begin(), chain.end(), next_large);
      image.chain(chain);
      image.write_sector(next_large, s);
      image.directory_entry(1, static_cast<uint32_t>(i + 1), name, 2, next_large, static_cast<uint32_t>(s.size()));
      next_large += n;
    }
  }
  return image.bytes();
}

}  // namespace lnk::test
