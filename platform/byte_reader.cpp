#include "platform/byte_reader.h"

#include <cstring>

#include "platform/text.h"

namespace lnk {

uint8_t ByteReader::u8(uint64_t off) const {
  return check(off, 1) ? bytes_[off] : 0;
}

uint16_t ByteReader::u16(uint64_t off) const {
  if (!check(off, 2)) return 0;
  return static_cast<uint16_t>(bytes_[off] | (bytes_[off + 1] << 8));
}

uint32_t ByteReader::u32(uint64_t off) const {
  if (!check(off, 4)) return 0;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | bytes_[off + i];
  return v;
}

uint64_t ByteReader::u64(uint64_t off) const {
  if (!check(off, 8)) return 0;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | bytes_[off + i];
  return v;
}

double ByteReader::f64(uint64_t off) const {
  uint64_t bits = u64(off);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

float ByteReader::f32(uint64_t off) const {
  uint32_t bits = u32(off);
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

Guid ByteReader::guid(uint64_t off) const {
  Guid g{};
  if (check(off, 16)) {
    for (size_t i = 0; i < 16; ++i) g[i] = bytes_[off + i];
  }
  return g;
}

bool ByteReader::matches(uint64_t off, std::span<const uint8_t> pattern) const {
  if (!fits(off, pattern.size(), bytes_.size())) return false;
  return std::memcmp(bytes_.data() + off, pattern.data(), pattern.size()) == 0;
}

std::string ByteReader::utf16z(uint64_t off, uint64_t max_bytes) const {
  if (off >= bytes_.size()) {
    if (max_bytes) failed_ = true;
    return {};
  }
  uint64_t avail = bytes_.size() - off;
  uint64_t n = max_bytes < avail ? max_bytes : avail;
  n &= ~uint64_t{1};
  uint64_t end = 0;
  while (end + 1 < n && (bytes_[off + end] | bytes_[off + end + 1]) != 0) end += 2;
  return utf16le_to_utf8(bytes_.subspan(off, end));
}

std::string ByteReader::ansiz(uint64_t off, uint64_t max_bytes) const {
  if (off >= bytes_.size()) {
    if (max_bytes) failed_ = true;
    return {};
  }
  uint64_t avail = bytes_.size() - off;
  uint64_t n = max_bytes < avail ? max_bytes : avail;
  uint64_t end = 0;
  while (end < n && bytes_[off + end] != 0) ++end;
  return std::string(reinterpret_cast<const char*>(bytes_.data() + off), end);
}

std::string ByteReader::bytes_text(uint64_t off, uint64_t n) const {
  if (off >= bytes_.size()) return {};
  uint64_t avail = bytes_.size() - off;
  if (n > avail) n = avail;
  return std::string(reinterpret_cast<const char*>(bytes_.data() + off), n);
}

ByteReader ByteReader::sub(uint64_t off, uint64_t len) const {
  if (off > bytes_.size()) return ByteReader();
  uint64_t avail = bytes_.size() - off;
  return ByteReader(bytes_.subspan(off, len < avail ? len : avail));
}

ByteReader ByteReader::tail(uint64_t off) const {
  if (off > bytes_.size()) return ByteReader();
  return ByteReader(bytes_.subspan(off));
}

bool checked_mul(uint64_t a, uint64_t b, uint64_t& out) {
  return !__builtin_mul_overflow(a, b, &out);
}

bool checked_add(uint64_t a, uint64_t b, uint64_t& out) {
  return !__builtin_add_overflow(a, b, &out);
}

}  // namespace lnk
