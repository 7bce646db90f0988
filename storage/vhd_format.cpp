#include "storage/vhd_format.h"

#include <algorithm>
#include <array>

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace lnk {
namespace {

// VHD: footer and dynamic disk header (big-endian fields).
constexpr uint64_t kFooterChecksumOffset = 64;
constexpr uint64_t kFooterDataOffset = 16;
constexpr uint64_t kFooterDiskType = 60;
constexpr uint32_t kDiskTypeDifferencing = 4;
constexpr uint64_t kDynamicHeaderSize = 1024;
constexpr uint64_t kParentUnicodeName = 64;
constexpr uint64_t kParentUnicodeNameSize = 512;
constexpr uint64_t kParentLocatorEntries = 576;
constexpr uint64_t kParentLocatorEntrySize = 24;
constexpr uint64_t kParentLocatorEntryCount = 8;
constexpr uint32_t kPlatformRelativeUnicode = 0x57327275;  // "W2ru"
constexpr uint32_t kPlatformAbsoluteUnicode = 0x57326B75;  // "W2ku"

// VHDX: region table, metadata table, parent locator (little-endian).
constexpr uint64_t kRegionTableOffsets[] = {0x30000, 0x40000};
constexpr uint64_t kTableBytes = 0x10000;
constexpr uint64_t kRegionEntries = 16;
constexpr uint64_t kMetadataEntries = 32;
constexpr uint64_t kTableEntrySize = 32;
constexpr uint64_t kLocatorEntries = 20;
constexpr uint64_t kLocatorEntrySize = 12;
constexpr uint32_t kFileParametersHasParent = 0x2;
// Parent locators hold a few paths; anything longer is not one.
constexpr uint64_t kMaxLocatorBytes = 0x10000;
constexpr Guid kMetadataRegion = guid_literal("8b7ca206-4790-4b9a-b8fe-575f050f886e");
constexpr Guid kFileParametersItem = guid_literal("caa16737-fa36-4d43-b3b6-33f0aa44e76b");
constexpr Guid kParentLocatorItem = guid_literal("a8d35f2d-b30b-454d-abf7-d3d84834ab0c");
constexpr Guid kVhdxParentLocatorType = guid_literal("b04aefb7-d19e-4a81-b789-25b8e9445913");

constexpr std::array<uint8_t, 8> kVhdxSignature = {'v', 'h', 'd', 'x', 'f', 'i', 'l', 'e'};
constexpr std::array<uint8_t, 8> kVhdCookie = {'c', 'o', 'n', 'e', 'c', 't', 'i', 'x'};
constexpr std::array<uint8_t, 8> kDynamicCookie = {'c', 'x', 's', 'p', 'a', 'r', 's', 'e'};

uint32_t be32(const ByteReader& r, uint64_t off) {
  const uint32_t v = r.u32(off);
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

uint64_t be64(const ByteReader& r, uint64_t off) { return (uint64_t{be32(r, off)} << 32) | be32(r, off + 4); }

std::vector<uint8_t> read_block(ByteSource& file, uint64_t offset, uint64_t length) {
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min(length, file.size())));
  uint64_t got = 0;
  if (!read_available(file, offset, bytes, got)) got = 0;
  bytes.resize(static_cast<size_t>(got));
  return bytes;
}

// How many table entries fit after a table header in size bytes.
uint64_t entries_within(uint64_t size, uint64_t header, uint64_t entry_size) {
  return size > header ? (size - header) / entry_size : 0;
}

void add_name(std::vector<std::string>& names, std::string name) {
  if (!name.empty()) names.push_back(std::move(name));
}

ParentNames vhd_parent_names(ByteSource& file, const ByteReader& footer) {
  ParentNames names;
  if (be32(footer, kFooterDiskType) != kDiskTypeDifferencing) return names;
  const std::vector<uint8_t> header_bytes = read_block(file, be64(footer, kFooterDataOffset), kDynamicHeaderSize);
  const ByteReader header(header_bytes);
  if (header.size() < kDynamicHeaderSize || !header.matches(0, kDynamicCookie)) return names;
  for (uint64_t i = 0; i < kParentLocatorEntryCount; ++i) {
    const uint64_t entry = kParentLocatorEntries + i * kParentLocatorEntrySize;
    const uint32_t code = be32(header, entry);
    if (code != kPlatformRelativeUnicode && code != kPlatformAbsoluteUnicode) continue;
    const uint64_t length = std::min<uint64_t>(be32(header, entry + 8), kMaxLocatorBytes);
    const std::vector<uint8_t> data = read_block(file, be64(header, entry + 16), length);
    add_name(code == kPlatformRelativeUnicode ? names.relative : names.others, ByteReader(data).utf16z(0, data.size()));
  }
  // The name field is UTF-16 big-endian.
  std::vector<uint8_t> name;
  const std::span<const uint8_t> field = header.sub(kParentUnicodeName, kParentUnicodeNameSize).span();
  for (size_t i = 0; i + 1 < field.size(); i += 2) name.insert(name.end(), {field[i + 1], field[i]});
  add_name(names.others, ByteReader(name).utf16z(0, name.size()));
  return names;
}

ParentNames vhdx_parent_names(ByteSource& file) {
  ParentNames names;
  uint64_t region_offset = 0;
  for (uint64_t table_offset : kRegionTableOffsets) {
    const std::vector<uint8_t> bytes = read_block(file, table_offset, kTableBytes);
    const ByteReader table(bytes);
    if (!table.matches(0, std::array<uint8_t, 4>{'r', 'e', 'g', 'i'})) continue;
    const uint64_t count =
        std::min<uint64_t>(table.u32(8), entries_within(table.size(), kRegionEntries, kTableEntrySize));
    for (uint64_t i = 0; i < count && region_offset == 0; ++i) {
      const uint64_t entry = kRegionEntries + i * kTableEntrySize;
      if (table.guid(entry) == kMetadataRegion) region_offset = table.u64(entry + 16);
    }
    if (region_offset != 0) break;
  }
  if (region_offset == 0) return names;
  const std::vector<uint8_t> bytes = read_block(file, region_offset, kTableBytes);
  const ByteReader table(bytes);
  if (!table.matches(0, std::array<uint8_t, 8>{'m', 'e', 't', 'a', 'd', 'a', 't', 'a'})) return names;
  bool has_parent = false;
  std::vector<uint8_t> locator_bytes;
  const uint64_t count =
      std::min<uint64_t>(table.u16(10), entries_within(table.size(), kMetadataEntries, kTableEntrySize));
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t entry = kMetadataEntries + i * kTableEntrySize;
    const Guid item = table.guid(entry);
    const uint64_t item_offset = region_offset + table.u32(entry + 16);
    const uint64_t item_length = table.u32(entry + 20);
    if (item == kFileParametersItem) {
      const std::vector<uint8_t> parameters = read_block(file, item_offset, 8);
      has_parent = (ByteReader(parameters).u32(4) & kFileParametersHasParent) != 0;
    } else if (item == kParentLocatorItem) {
      locator_bytes = read_block(file, item_offset, std::min(item_length, kMaxLocatorBytes));
    }
  }
  const ByteReader locator(locator_bytes);
  if (!has_parent || locator.guid(0) != kVhdxParentLocatorType || locator.failed()) return names;
  const uint64_t pairs =
      std::min<uint64_t>(locator.u16(18), entries_within(locator.size(), kLocatorEntries, kLocatorEntrySize));
  for (uint64_t i = 0; i < pairs; ++i) {
    const uint64_t entry = kLocatorEntries + i * kLocatorEntrySize;
    const ByteReader key = locator.sub(locator.u32(entry), locator.u16(entry + 8));
    const ByteReader value = locator.sub(locator.u32(entry + 4), locator.u16(entry + 10));
    const std::string key_text = key.utf16z(0, key.size());
    const std::string path = value.utf16z(0, value.size());
    if (key_text == "relative_path") add_name(names.relative, path);
    if (key_text == "parent_linkage") names.identifier = path;
    if (key_text == "absolute_win32_path" || key_text == "volume_path") add_name(names.others, path);
  }
  return names;
}

}  // namespace

bool has_vhdx_signature(std::span<const uint8_t> head) {
  return head.size() >= kVhdxSignature.size() && std::equal(kVhdxSignature.begin(), kVhdxSignature.end(), head.begin());
}

bool is_vhd_footer(std::span<const uint8_t> sector) {
  const ByteReader footer(sector);
  if (footer.size() < kVhdFooterSize || !footer.matches(0, kVhdCookie)) return false;
  uint32_t sum = 0;
  for (uint64_t i = 0; i < kVhdFooterSize; ++i)
    if (i < kFooterChecksumOffset || i >= kFooterChecksumOffset + 4) sum += footer.u8(i);
  return ~sum == be32(footer, kFooterChecksumOffset);
}

ParentNames read_vhd_parent_names(ByteSource& file) {
  std::vector<uint8_t> head = read_block(file, 0, kVhdFooterSize);
  if (has_vhdx_signature(head)) return vhdx_parent_names(file);
  if (file.size() >= kVhdFooterSize) {
    const std::vector<uint8_t> tail = read_block(file, file.size() - kVhdFooterSize, kVhdFooterSize);
    if (is_vhd_footer(tail)) return vhd_parent_names(file, ByteReader(tail));
  }
  return is_vhd_footer(head) ? vhd_parent_names(file, ByteReader(head)) : ParentNames{};
}

}  // namespace lnk
