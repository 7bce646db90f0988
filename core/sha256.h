// SHA-256, for naming bytes a record carries (appended data) in reports.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lnk {

class Sha256 {
 public:
  Sha256();
  void update(std::span<const uint8_t> bytes);
  // Lower-case hex of the digest; the object is spent afterwards.
  std::string hex_digest();

 private:
  void block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buffer_{};
  uint64_t length_ = 0;
  size_t used_ = 0;
};

}  // namespace lnk
