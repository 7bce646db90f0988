// The one way decoders read untrusted bytes: a bounded view with
// little-endian accessors. A read that does not fit yields 0 or empty and
// sets a sticky flag, so a decoder can read a whole structure and test once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lnk {

using Guid = std::array<uint8_t, 16>;

// True when [off, off + n) lies inside a buffer of len bytes; cannot wrap.
constexpr bool fits(uint64_t off, uint64_t n, uint64_t len) {
  return off <= len && n <= len - off;
}

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  ByteReader(const uint8_t* data, uint64_t length)
      : bytes_(data == nullptr ? std::span<const uint8_t>() : std::span<const uint8_t>(data, length)) {}

  uint64_t size() const { return bytes_.size(); }
  bool empty() const { return bytes_.empty(); }
  bool has(uint64_t off, uint64_t n) const { return fits(off, n, bytes_.size()); }
  // Sticky: set by the first read that did not fit, never cleared.
  bool failed() const { return failed_; }
  std::span<const uint8_t> span() const { return bytes_; }

  uint8_t u8(uint64_t off) const;
  uint16_t u16(uint64_t off) const;
  uint32_t u32(uint64_t off) const;
  uint64_t u64(uint64_t off) const;
  int32_t i32(uint64_t off) const { return static_cast<int32_t>(u32(off)); }
  double f64(uint64_t off) const;
  float f32(uint64_t off) const;
  Guid guid(uint64_t off) const;
  // Compares n bytes at off with pattern; false when out of range.
  bool matches(uint64_t off, std::span<const uint8_t> pattern) const;

  // UTF-16LE text from off up to its first NUL, within max_bytes (and the
  // buffer), converted to UTF-8.
  std::string utf16z(uint64_t off, uint64_t max_bytes) const;
  // Zero-terminated byte text copied as it is, within max_bytes.
  std::string ansiz(uint64_t off, uint64_t max_bytes) const;
  // Exactly the bytes in range (clipped to the buffer) as a string.
  std::string bytes_text(uint64_t off, uint64_t n) const;

  // A reader over [off, off + len) clipped to this one; a child can never
  // read past its parent.
  ByteReader sub(uint64_t off, uint64_t len) const;
  // Everything from off to the end.
  ByteReader tail(uint64_t off) const;

 private:
  bool check(uint64_t off, uint64_t n) const {
    if (fits(off, n, bytes_.size())) return true;
    failed_ = true;
    return false;
  }
  std::span<const uint8_t> bytes_;
  mutable bool failed_ = false;
};

// Checked arithmetic for sizes that come from file values.
bool checked_mul(uint64_t a, uint64_t b, uint64_t& out);
bool checked_add(uint64_t a, uint64_t b, uint64_t& out);

}  // namespace lnk
