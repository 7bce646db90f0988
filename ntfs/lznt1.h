// LZNT1, the compression NTFS applies to a compressed attribute one
// compression unit at a time (public description: MS-XCA, LZNT1): chunks
// of a two-byte header and up to 4,096 bytes of output each.
#pragma once

#include <cstdint>
#include <span>

namespace lnk {

constexpr uint64_t kLznt1ChunkOutput = 4096;

struct Lznt1Result {
  // Bytes of out, from its start, that hold the unit's data.
  uint64_t decoded = 0;
  // The chunks ended as NTFS ends them (a zero header, the end of the
  // input, or out full): all of out is data, zeros after the last chunk.
  // Clear when a chunk was damaged: decoded stops where it went wrong.
  bool complete = false;
};

// Decodes the chunks of one compression unit into out, chunk k filling
// out[4096 k, 4096 (k + 1)); a chunk that gives fewer bytes is followed by
// zeros. Nothing is written outside out. A chunk that runs past the input,
// gives more than its 4,096 bytes or the rest of out, or refers back before
// its own start ends the decode there.
Lznt1Result decode_lznt1(std::span<const uint8_t> compressed, std::span<uint8_t> out);

}  // namespace lnk
