// Big-endian fields (QCOW, VHD) through the bounds-checked reader.
#pragma once

#include <cstdint>

#include "platform/byte_reader.h"

namespace lnk {

inline uint32_t be32(const ByteReader& r, uint64_t off) {
  const uint32_t v = r.u32(off);
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}
inline uint64_t be64(const ByteReader& r, uint64_t off) { return (uint64_t{be32(r, off)} << 32) | be32(r, off + 4); }
inline uint16_t be16(const ByteReader& r, uint64_t off) {
  const uint16_t v = r.u16(off);
  return static_cast<uint16_t>((v >> 8) | (v << 8));
}

}  // namespace lnk
