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

namespace {

// The next code point of valid UTF-8 at pos; false at the end or on a bad sequence.
bool next_code_point(const std::string& text, size_t& pos, uint32_t& code) {
  if (pos >= text.size()) return false;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(pos);
  size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : 4;
  if (extra == 4 || extra >= text.size() - pos) return false;
  code = extra == 0 ? lead : lead & (0x3F >> extra);
  for (size_t i = 1; i <= extra; ++i) {
    if ((byte(pos + i) & 0xC0) != 0x80) return false;
    code = (code << 6) | (byte(pos + i) & 0x3F);
  }
  pos += extra + 1;
  return true;
}

}  // namespace

bool is_readable_text(const std::string& utf8) {
  size_t pos = 0;
  size_t characters = 0, swapped = 0;
  uint32_t code = 0;
  while (pos < utf8.size()) {
    if (!next_code_point(utf8, pos, code)) return false;
    ++characters;
    if (code < 0x20 || (code >= 0x7F && code < 0xA0) || code == 0xFFFD || code == 0xFFFE || code == 0xFFFF)
      return false;
    if (code >= 0xE000 && code <= 0xF8FF) return false;
    const uint32_t high = code >> 8;
    if ((code & 0xFF) == 0 && high >= 0x20 && high < 0x7F) ++swapped;
  }
  return characters > 0 && swapped * 2 < characters;
}

}  // namespace lnk
