// Byte builders and fixture loading shared by the shell item tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"

namespace lnk::testing {

struct Bytes {
  std::vector<uint8_t> data;

  Bytes& u8(uint8_t v) {
    data.push_back(v);
    return *this;
  }
  Bytes& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Bytes& u64(uint64_t v) { return u32(static_cast<uint32_t>(v)).u32(static_cast<uint32_t>(v >> 32)); }
  Bytes& zeros(size_t n) {
    data.insert(data.end(), n, 0);
    return *this;
  }
  Bytes& guid(const std::string& text) {
    Guid g{};
    parse_guid(text, g);
    data.insert(data.end(), g.begin(), g.end());
    return *this;
  }
  // ASCII text as UTF-16LE, with a terminating NUL.
  Bytes& utf16(const std::string& text) {
    for (char c : text) u16(static_cast<uint8_t>(c));
    return u16(0);
  }
  Bytes& ansi(const std::string& text) {
    data.insert(data.end(), text.begin(), text.end());
    return u8(0);
  }
  Bytes& append(const std::vector<uint8_t>& more) {
    data.insert(data.end(), more.begin(), more.end());
    return *this;
  }
  // Rewrites the u16 at off (sizes known only once the body is built).
  Bytes& patch16(size_t off, uint16_t v) {
    data.at(off) = v & 0xFF;
    data.at(off + 1) = v >> 8;
    return *this;
  }
  size_t size() const { return data.size(); }
};

// Hex bytes separated by blanks; lines starting with '#' are comments.
inline std::vector<uint8_t> load_hex_fixture(const std::string& name) {
  std::ifstream in(std::string(ROOK_SOURCE_DIR) + "/tests/data/" + name);
  std::vector<uint8_t> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string word;
    while (words >> word) out.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
  }
  return out;
}

inline std::string corpus_path(const std::string& relative) {
  return std::string(ROOK_SOURCE_DIR) + "/../shared/corpus/" + relative;
}

inline bool read_file(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// A class 0x2F volume item "C:\" of the given size (25 or 41 bytes).
inline Bytes volume_item(uint16_t size, const std::string& guid = {}) {
  Bytes b;
  b.u16(size).u8(0x2F).ansi("C:\\");
  b.zeros(25 - b.size());
  if (!guid.empty()) b.guid(guid);
  if (b.size() < size) b.zeros(size - b.size());
  return b;
}

}  // namespace lnk::testing
