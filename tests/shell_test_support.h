// Byte builders, fixture and corpus loading, and shell item decoding shared by
// the decoder tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "shellitems/idlist.h"
#include "shellitems/item_decode.h"
#include "report/render_idlist.h"
#include "shellitems/item_settle.h"

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
  // Writes over bytes already there (fields of a zero-filled record).
  Bytes& put(size_t off, const Bytes& piece) {
    std::copy(piece.data.begin(), piece.data.end(), data.begin() + static_cast<std::ptrdiff_t>(off));
    return *this;
  }
  // Rewrites the u16 at off (sizes known only once the body is built).
  Bytes& patch16(size_t off, uint16_t v) {
    data.at(off) = v & 0xFF;
    data.at(off + 1) = v >> 8;
    return *this;
  }
  // Sets the leading u16 size field to the whole length.
  Bytes& sized() { return patch16(0, static_cast<uint16_t>(data.size())); }
  size_t size() const { return data.size(); }
};

inline std::vector<uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string corpus_path(const std::string& relative) {
  return std::string(ROOK_SOURCE_DIR) + "/../shared/corpus/" + relative;
}

// Empty when the corpus is absent; callers skip then.
inline std::vector<uint8_t> read_corpus(const std::string& relative) { return read_bytes(corpus_path(relative)); }

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

// A class 0x2F volume item "C:\" of the given size (25 or 41 bytes).
inline Bytes volume_item(uint16_t size, const std::string& guid = {}) {
  Bytes b;
  b.u16(size).u8(0x2F).ansi("C:\\");
  b.zeros(25 - b.size());
  if (!guid.empty()) b.guid(guid);
  if (b.size() < size) b.zeros(size - b.size());
  return b;
}

inline std::vector<ShellItem> walk(const std::vector<uint8_t>& bytes, uint64_t position = 0) {
  std::vector<ShellItem> items;
  DecodeContext context;
  context.position = position;
  walk_idlist(items, ByteReader(bytes), context);
  EXPECT_EQ(context.depth, 0u);
  return items;
}

inline ShellItem decode_one(const std::vector<uint8_t>& bytes, bool* kept = nullptr) {
  ShellItem item;
  DecodeContext context;
  uint32_t result = decode_shell_item(item, ByteReader(bytes), false, false, 0, context);
  if (kept) *kept = result != 0;
  return item;
}

inline std::vector<Property> in_order(const PropertyMap& map) {
  std::vector<Property> out;
  for (const auto& [key, p] : map) out.push_back(p);
  return out;
}

inline bool contains(const std::vector<std::string>& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

struct Rendered : RenderedIdList {
  bool ok = false;
};

// Settles the items as the shortcut parser does, then renders them as the
// writers do.
inline Rendered render(std::vector<ShellItem>& items, const cmd_params& options = useropts{}) {
  Rendered r;
  settle_items(items);
  r.ok = render_idlist(items, options, r);
  return r;
}

inline Rendered render(std::vector<ShellItem>&& items) { return render(items); }

}  // namespace lnk::testing
