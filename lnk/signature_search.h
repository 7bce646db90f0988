// The ShellLinkHeader signature and the search for it at every position.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace lnk {

// HeaderSize 0x4C followed by the LinkCLSID 00021401-0000-0000-C000-000000000046.
inline constexpr std::array<uint8_t, 20> kLnkHeaderSignature = {
    0x4C, 0x00, 0x00, 0x00, 0x01, 0x14, 0x02, 0x00, 0x00, 0x00,
    0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// Finds every start of the signature. Vector compares of two of its bytes
// pick the candidates and only those are compared whole, so the cost per byte
// stays about the same whatever the bytes hold; nothing is allocated per
// search.
class SignatureSearch {
 public:
  // Appends the hit positions (relative to bytes) in ascending order.
  void find_all(std::span<const uint8_t> bytes, std::vector<uint64_t>& hits) const;
};

// The first start of the signature at a position in [from, limit); the whole
// signature must lie inside bytes. Returns limit when there is none.
uint64_t find_signature(std::span<const uint8_t> bytes, uint64_t from, uint64_t limit);

// Tests buffer at pos and then every step after it for the ShellLinkHeader
// signature, stopping where a whole header no longer fits; on success pos is
// left at the hit.
bool find_lnk_signature(uint64_t& pos, const uint8_t* buffer, uint64_t length, uint32_t step);

// One compare loop of the search, with find_signature's contract; every loop
// finds the same positions, they differ only in speed.
struct SignatureKernel {
  const char* name;
  uint64_t (*find)(std::span<const uint8_t> bytes, uint64_t from, uint64_t limit);
};
// The loops this processor can run, fastest first; the search uses the first.
std::span<const SignatureKernel> signature_kernels();

}  // namespace lnk
