#include "ntfs/lznt1.h"

#include <algorithm>

#include "platform/byte_reader.h"

namespace lnk {
namespace {

constexpr uint16_t kChunkSizeMask = 0x0FFF;
constexpr uint16_t kChunkCompressed = 0x8000;
constexpr uint64_t kChunkHeaderSize = 2;
constexpr uint64_t kTokensPerFlagByte = 8;
constexpr uint32_t kMinimumMatch = 3;

// A back-reference word splits into displacement and length by how much the
// chunk has produced: 4 displacement bits for the first 16 bytes, one more
// each time that doubles, up to 12.
uint32_t length_bits_at(uint64_t produced) {
  uint32_t bits = 12;
  for (uint64_t p = produced - 1; p >= 0x10; p >>= 1) --bits;
  return bits;
}

// Decodes one compressed chunk's body into out[start, end). Returns false
// at the first token that cannot be honoured; write is then where the good
// output ends.
bool decode_chunk(const ByteReader& body, std::span<uint8_t> out, uint64_t start, uint64_t end, uint64_t& write) {
  uint64_t in = 0;
  write = start;
  while (in < body.size()) {
    const uint8_t flags = body.u8(in++);
    for (uint64_t token = 0; token < kTokensPerFlagByte && in < body.size(); ++token) {
      if (((flags >> token) & 1) == 0) {
        if (write == end) return false;
        out[write++] = body.u8(in++);
        continue;
      }
      if (!body.has(in, 2)) return false;
      const uint16_t word = body.u16(in);
      in += 2;
      const uint64_t produced = write - start;
      if (produced == 0) return false;
      const uint32_t length_bits = length_bits_at(produced);
      const uint64_t displacement = (word >> length_bits) + 1u;
      const uint64_t length = (word & ((1u << length_bits) - 1u)) + kMinimumMatch;
      if (displacement > produced || length > end - write) return false;
      // Byte by byte: a match may overlap the bytes it produces.
      for (uint64_t i = 0; i < length; ++i, ++write) out[write] = out[write - displacement];
    }
  }
  return true;
}

}  // namespace

Lznt1Result decode_lznt1(std::span<const uint8_t> compressed, std::span<uint8_t> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  const ByteReader in(compressed);
  Lznt1Result result;
  uint64_t position = 0;
  // Each pass consumes a header and moves to the next output chunk.
  for (uint64_t chunk_start = 0; chunk_start < out.size(); chunk_start += kLznt1ChunkOutput) {
    if (!in.has(position, kChunkHeaderSize)) break;
    const uint16_t header = in.u16(position);
    if (header == 0) break;
    const uint64_t size = (header & kChunkSizeMask) + 1u;
    const uint64_t body_start = position + kChunkHeaderSize;
    const uint64_t chunk_end = std::min<uint64_t>(chunk_start + kLznt1ChunkOutput, out.size());
    result.decoded = chunk_start;
    if (!in.has(body_start, size)) return result;
    const ByteReader body = in.sub(body_start, size);
    if (header & kChunkCompressed) {
      uint64_t write = chunk_start;
      if (!decode_chunk(body, out, chunk_start, chunk_end, write)) {
        result.decoded = write;
        return result;
      }
    } else {
      if (size > chunk_end - chunk_start) return result;
      std::copy(body.span().begin(), body.span().end(), out.begin() + static_cast<std::ptrdiff_t>(chunk_start));
    }
    position = body_start + size;
  }
  result.decoded = out.size();
  result.complete = true;
  return result;
}

}  // namespace lnk
