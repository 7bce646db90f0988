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

// Finds every start of the signature; the skip table is built once, so a
// search per chunk allocates nothing.
class SignatureSearch {
 public:
  SignatureSearch();
  // Appends the hit positions (relative to bytes) in ascending order.
  void find_all(std::span<const uint8_t> bytes, std::vector<uint64_t>& hits) const;

 private:
  std::boyer_moore_horspool_searcher<std::array<uint8_t, 20>::const_iterator> searcher_;
};

}  // namespace lnk
