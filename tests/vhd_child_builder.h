// Differencing VHD and VHDX disks, which no Debian tool writes: a dynamic
// disk made by qemu-img (and written with qemu-io) is turned into a child
// of another disk by setting the fields Hyper-V sets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "tests/run_program.h"

namespace lnk::test {

namespace vhd_detail {

using Bytes = std::vector<uint8_t>;

// Big-endian (VHD) or little-endian (VHDX) fields of width bytes.
inline uint64_t get(const Bytes& b, size_t at, int width, bool big = false) {
  uint64_t v = 0;
  for (int i = 0; i < width; ++i) v = v << 8 | b.at(at + (big ? i : width - 1 - i));
  return v;
}
inline void put(Bytes& b, size_t at, uint64_t v, int width, bool big = false) {
  for (int i = 0; i < width; ++i, v >>= 8) b.at(at + (big ? width - 1 - i : i)) = static_cast<uint8_t>(v);
}
inline uint64_t get_be(const Bytes& b, size_t at, int width) { return get(b, at, width, true); }
inline void put_be(Bytes& b, size_t at, uint64_t v, int width) { put(b, at, v, width, true); }
inline Bytes utf16(const std::string& ascii, bool big_endian = false) {
  Bytes out(2 * ascii.size(), 0);
  for (size_t i = 0; i < ascii.size(); ++i) out[2 * i + big_endian] = static_cast<uint8_t>(ascii[i]);
  return out;
}
// VHD checksum: the complement of the byte sum, the checksum field left out.
inline void vhd_checksum(Bytes& b, size_t start, size_t length, size_t field) {
  uint32_t sum = 0;
  for (size_t i = start; i < start + length; ++i)
    if (i < field || i >= field + 4) sum += b[i];
  put_be(b, field, ~sum, 4);
}
inline std::string guid_at(const Bytes& b, size_t at) {
  Guid g{};
  std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), g.size(), g.begin());
  return guid_text(g);
}
inline Bytes read(const std::filesystem::path& path) {
  const std::string text = slurp(path);
  return Bytes(text.begin(), text.end());
}

}  // namespace vhd_detail

// child, a dynamic VHD, becomes a differencing disk over parent, named in
// its header and in a relative (W2ru) and an absolute (W2ku) locator. Only
// the sectors of written ({offset, length}) are marked as the child's own;
// the rest of its blocks read from the parent.
inline void make_vhd_child(const std::filesystem::path& child, const std::filesystem::path& parent,
                           const std::string& relative, const std::vector<std::pair<uint64_t, uint64_t>>& written) {
  using namespace vhd_detail;
  Bytes b = read(child);
  const Bytes parent_bytes = read(parent);
  const size_t footer = b.size() - 512, parent_footer = parent_bytes.size() - 512;
  const size_t header = get_be(b, 16, 8);
  std::copy_n(parent_bytes.begin() + parent_footer + 68, 16, b.begin() + header + 40);  // parent unique id
  const std::string name = relative.substr(relative.find_last_of("\\/") + 1);
  const Bytes name16 = utf16(name, true);
  std::copy(name16.begin(), name16.end(), b.begin() + header + 64);
  // Locator texts take the old footer's place; the footer moves past them.
  const std::pair<const char*, std::string> locators[] = {{"W2ru", relative}, {"W2ku", "C:\\VMs\\" + name}};
  Bytes tail(2 * 512 + 512, 0);
  for (size_t i = 0; i < 2; ++i) {
    const Bytes text = utf16(locators[i].second);
    std::copy(text.begin(), text.end(), tail.begin() + i * 512);
    const size_t entry = header + 576 + 24 * i;
    std::copy_n(locators[i].first, 4, b.begin() + entry);
    put_be(b, entry + 4, 512, 4);
    put_be(b, entry + 8, text.size(), 4);
    put_be(b, entry + 16, footer + i * 512, 8);
  }
  const size_t table = get_be(b, header + 16, 8), blocks = get_be(b, header + 28, 4);
  const uint64_t block_size = get_be(b, header + 32, 4);
  for (size_t i = 0; i < blocks; ++i) {
    const uint64_t sector = get_be(b, table + 4 * i, 4);
    if (sector == 0xFFFFFFFF) continue;
    for (uint64_t s = 0; s < block_size / 512; ++s) {
      const uint64_t at = i * block_size + s * 512;
      const bool own = std::any_of(written.begin(), written.end(),
                                   [&](const auto& w) { return at < w.first + w.second && w.first < at + 512; });
      uint8_t& bits = b.at(sector * 512 + s / 8);
      bits = own ? bits | (0x80 >> (s % 8)) : bits & ~(0x80 >> (s % 8));
    }
  }
  vhd_checksum(b, header, 1024, header + 36);
  put_be(b, footer + 60, 4, 4);  // differencing
  vhd_checksum(b, footer, 512, footer + 64);
  std::copy_n(b.begin() + footer, 512, tail.begin() + 1024);
  std::copy_n(b.begin() + footer, 512, b.begin());
  b.resize(footer);
  b.insert(b.end(), tail.begin(), tail.end());
  write_file(child, b);
}

// child, a dynamic VHDX, becomes a differencing disk whose parent locator
// holds parent's data write identifier, relative and an absolute path.
// Blocks qemu left zero read from the parent. Without written, the blocks
// the child holds are read whole from it; with it, only the sectors of
// written are, through a sector bitmap (disks up to 4 GiB).
inline void make_vhdx_child(const std::filesystem::path& child, const std::filesystem::path& parent,
                            const std::string& relative,
                            const std::vector<std::pair<uint64_t, uint64_t>>& written = {}) {
  using namespace vhd_detail;
  Bytes b = read(child);
  const Bytes p = read(parent);
  // The parent's current header: the one with the higher sequence number.
  const size_t current = get(p, 0x20000 + 8, 8) > get(p, 0x10000 + 8, 8) ? 0x20000 : 0x10000;
  size_t region = 0, bat = 0;
  for (size_t i = 0; i < get(b, 0x30000 + 8, 4); ++i) {
    const size_t entry = 0x30000 + 16 + 32 * i;
    if (guid_at(b, entry) == "8b7ca206-4790-4b9a-b8fe-575f050f886e") region = get(b, entry + 16, 8);
    if (guid_at(b, entry) == "2dc27766-f623-4200-9d64-115e9bfd4a08") bat = get(b, entry + 16, 8);
  }
  const size_t count = get(b, region + 10, 2);
  size_t free = 0;
  uint64_t block = 1;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = region + 32 + 32 * i;
    const size_t offset = get(b, entry + 16, 4);
    free = std::max<size_t>(free, offset + get(b, entry + 20, 4));
    if (guid_at(b, entry) == "caa16737-fa36-4d43-b3b6-33f0aa44e76b") {
      b.at(region + offset + 4) |= 2;  // has a parent
      block = get(b, region + offset, 4);
    }
  }
  const uint64_t ratio = (uint64_t{1} << 32) / block, bitmap = (b.size() + 0xFFFFF) / 0x100000 * 0x100000;
  bool partial = false;
  for (uint64_t i = 0; i < ratio; ++i) {
    const size_t at = bat + 8 * i;
    const uint64_t e = get(b, at, 8);
    if ((e & 7) == 2) put(b, at, 0, 8);  // zero: the parent's
    if ((e & 7) != 6 || written.empty()) continue;
    partial = true;
    put(b, at, e | 7, 8);
  }
  if (partial) {
    b.resize(bitmap + 0x100000, 0);
    for (const auto& [start, length] : written)
      for (uint64_t sector = start / 512; sector < (start + length + 511) / 512; ++sector)
        b[bitmap + sector / 8] |= static_cast<uint8_t>(1u << (sector % 8));
    put(b, bat + 8 * ratio, bitmap | 6, 8);
  }
  free = (free + 4095) / 4096 * 4096;
  const std::string name = relative.substr(relative.find_last_of("\\/") + 1);
  const std::pair<std::string, std::string> pairs[] = {{"parent_linkage", "{" + guid_at(p, current + 32) + "}"},
                                                       {"relative_path", relative},
                                                       {"absolute_win32_path", "C:\\VMs\\" + name}};
  Bytes locator(20 + 12 * std::size(pairs), 0);
  const Guid type = guid_literal("b04aefb7-d19e-4a81-b789-25b8e9445913");
  std::copy(type.begin(), type.end(), locator.begin());
  put(locator, 18, std::size(pairs), 2);
  for (size_t i = 0; i < std::size(pairs); ++i) {
    const Bytes key = utf16(pairs[i].first), value = utf16(pairs[i].second);
    put(locator, 20 + 12 * i, locator.size(), 4);
    put(locator, 28 + 12 * i, key.size(), 2);
    locator.insert(locator.end(), key.begin(), key.end());
    put(locator, 24 + 12 * i, locator.size(), 4);
    put(locator, 30 + 12 * i, value.size(), 2);
    locator.insert(locator.end(), value.begin(), value.end());
  }
  std::copy(locator.begin(), locator.end(), b.begin() + region + free);
  const size_t entry = region + 32 + 32 * count;
  const Guid item = guid_literal("a8d35f2d-b30b-454d-abf7-d3d84834ab0c");
  std::copy(item.begin(), item.end(), b.begin() + entry);
  put(b, entry + 16, free, 4);
  put(b, entry + 20, locator.size(), 4);
  put(b, entry + 24, 4, 4);  // required
  put(b, region + 10, count + 1, 2);
  write_file(child, b);
}

}  // namespace lnk::test
