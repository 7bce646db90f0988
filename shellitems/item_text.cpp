#include "shellitems/item_text.h"

#include <algorithm>

#include "platform/text.h"

namespace lnk {

ItemText read_utf16(const ByteReader& bytes, uint64_t off, uint64_t max_bytes) {
  ItemText out;
  if (off >= bytes.size()) return out;
  uint64_t limit = std::min<uint64_t>(max_bytes, bytes.size() - off) / 2;
  uint64_t units = 0;
  while (units < limit && bytes.u16(off + 2 * units) != 0) ++units;
  out.chars = units;
  out.consumed = 2 * units + (units < limit ? 2 : 0);
  out.text = utf16le_to_utf8(bytes.sub(off, 2 * units).span());
  return out;
}

ItemText read_ansi(const ByteReader& bytes, uint64_t off, uint64_t max_bytes) {
  ItemText out;
  if (off >= bytes.size()) return out;
  uint64_t limit = std::min<uint64_t>(max_bytes, bytes.size() - off);
  uint64_t count = 0;
  while (count < limit) {
    uint8_t c = bytes.u8(off + count);
    if (c == 0) break;
    if (c < 0x80) {
      out.text.push_back(static_cast<char>(c));
    } else {
      out.text.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    ++count;
  }
  out.chars = count;
  out.consumed = count + (count < limit ? 1 : 0);
  return out;
}

void note_ansi_text(ShellItem& item, const std::string& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      item.ansi_texts.push_back(text);
      return;
    }
  }
}

uint64_t skip_small_u16(const ByteReader& bytes, uint64_t off, uint16_t limit, uint64_t* skipped) {
  uint64_t count = 0;
  while (bytes.has(off, 2) && bytes.u16(off) < limit) {
    off += 2;
    ++count;
  }
  if (skipped) *skipped = count;
  return bytes.has(off, 2) ? off : bytes.size();
}

}  // namespace lnk
