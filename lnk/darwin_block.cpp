#include "lnk/darwin_block.h"

#include <array>

#include "platform/text.h"

namespace lnk {
namespace {

constexpr uint64_t kDarwinAnsiOffset = 8;
constexpr uint64_t kDarwinUnicodeOffset = 268;
constexpr uint64_t kDarwinFieldChars = 260;
constexpr size_t kMinimumDescriptor = 22;
constexpr size_t kFeatureStart = 20;
constexpr size_t kComponentAfter = 40;

// Base-85 digit of an installer packed-GUID character, or -1: the printable
// ASCII characters without the nine that installer paths cannot carry.
int packed_digit(uint16_t c) {
  static const std::array<int8_t, 128> digits = [] {
    std::array<int8_t, 128> table{};
    table.fill(-1);
    const std::string excluded = "\"#/:;<>\\|";
    int8_t next = 0;
    for (int ch = 0x21; ch <= 0x7E; ++ch) {
      if (excluded.find(static_cast<char>(ch)) == std::string::npos) table[ch] = next++;
    }
    return table;
  }();
  return c < digits.size() ? digits[c] : -1;
}

std::vector<uint16_t> unicode_units(const ByteReader& block) {
  std::vector<uint16_t> units;
  for (uint64_t i = 0; i < kDarwinFieldChars; ++i) {
    uint64_t off = kDarwinUnicodeOffset + 2 * i;
    if (!block.has(off, 2) || block.u16(off) == 0) break;
    units.push_back(block.u16(off));
  }
  return units;
}

std::vector<uint16_t> ansi_units(const ByteReader& block) {
  std::vector<uint16_t> units;
  for (uint64_t i = 0; i < kDarwinFieldChars; ++i) {
    uint64_t off = kDarwinAnsiOffset + i;
    if (!block.has(off, 1) || block.u8(off) == 0) break;
    units.push_back(block.u8(off));
  }
  return units;
}

// UTF-16 units become UTF-8; units read from the ANSI field are bytes and
// are copied as they are, like every other ANSI text of a shortcut.
std::string units_text(const std::vector<uint16_t>& units, size_t from, size_t to, bool ansi) {
  std::vector<uint8_t> bytes;
  if (ansi) {
    std::string text;
    for (size_t i = from; i < to && i < units.size(); ++i) text += static_cast<char>(units[i]);
    return text;
  }
  for (size_t i = from; i < to && i < units.size(); ++i) {
    bytes.push_back(static_cast<uint8_t>(units[i] & 0xFF));
    bytes.push_back(static_cast<uint8_t>(units[i] >> 8));
  }
  return utf16le_to_utf8(bytes);
}

size_t find_unit(const std::vector<uint16_t>& units, size_t from, uint16_t c) {
  for (size_t i = from; i < units.size(); ++i) {
    if (units[i] == c) return i;
  }
  return units.size();
}

}  // namespace

std::string packed_guid_text(const std::vector<uint16_t>& characters, size_t start) {
  Guid g{};
  for (size_t word = 0; word < 4; ++word) {
    uint64_t value = 0;
    uint64_t scale = 1;
    for (size_t i = 0; i < 5; ++i) {
      size_t at = start + word * 5 + i;
      int digit = at < characters.size() ? packed_digit(characters[at]) : -1;
      if (digit < 0) return guid_text(g);
      value += static_cast<uint64_t>(digit) * scale;
      scale *= 85;
    }
    uint32_t stored = static_cast<uint32_t>(value);  // five digits can exceed 32 bits
    for (size_t b = 0; b < 4; ++b) g[word * 4 + b] = static_cast<uint8_t>(stored >> (8 * b));
  }
  return guid_text(g);
}

void decode_darwin_block(LnkRecord& record, const ByteReader& block) {
  std::vector<uint16_t> descriptor = unicode_units(block);
  const bool ansi = descriptor.size() < kMinimumDescriptor;
  if (ansi) descriptor = ansi_units(block);
  if (descriptor.size() < kMinimumDescriptor) return;
  record.darwin_descriptor = units_text(descriptor, 0, descriptor.size(), ansi);
  if (ansi) record.ansi_texts |= kAnsiDarwin;

  record.darwin_product = packed_guid_text(descriptor, 0);
  size_t sign = find_unit(descriptor, kFeatureStart, '>');
  if (sign == descriptor.size()) sign = find_unit(descriptor, kFeatureStart, '<');
  if (sign == descriptor.size()) return;
  record.darwin_feature = units_text(descriptor, kFeatureStart, sign, ansi);
  if (descriptor.size() > kComponentAfter) {
    record.darwin_component = packed_guid_text(descriptor, sign + 1);
  }
}

}  // namespace lnk
