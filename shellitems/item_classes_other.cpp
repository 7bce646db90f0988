// Network locations, control panel items, URIs, delegates and the items that
// carry nothing but texts or embedded structures.
#include "shellitems/item_names.h"
#include "core/time_value.h"
#include "shellitems/embedded_scanner.h"
#include "shellitems/extension_blocks.h"
#include "shellitems/item_classes.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"
#include "shellitems/item_times.h"

namespace lnk {

namespace {

constexpr uint32_t kControlPanelCategorySignature = 0x39DE2184;
constexpr uint32_t kMaxTextsPerItem = 256;

// Scans region [off, end of item) with the context position following it.
bool scan_from(ShellItem& item, const ItemBytes& in, uint64_t off, DecodeContext& context) {
  if (off >= in.item.size()) return false;
  PositionScope at(context, context.position + off);
  return scan_embedded_structures(item, in.item.tail(off), context);
}

// Several zero-terminated ANSI texts, one after another, from off. Flag
// bytes between them read as one-character "texts"; only readable ones count.
std::vector<std::string> ansi_texts(const ByteReader& bytes, uint64_t off) {
  std::vector<std::string> texts;
  for (uint32_t guard = 0; guard < kMaxTextsPerItem && off < bytes.size(); ++guard) {
    ItemText text = read_ansi(bytes, off, bytes.size() - off);
    if (!text.text.empty() && is_readable_text(text.text)) texts.push_back(text.text);
    off += text.consumed == 0 ? 1 : text.consumed;
  }
  return texts;
}

std::vector<std::string> split_backslashes(const std::string& text) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : text) {
    if (c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

// One counted field of a URI item: the first non-empty text inside it.
std::string first_text(const ByteReader& field) {
  for (const auto& text : ansi_texts(field, 0))
    if (!text.empty()) return text;
  return {};
}

}  // namespace

bool decode_plain_network(ShellItem& item, const ItemBytes& in) {
  if (in.size < 6) return false;
  for (auto& text : ansi_texts(in.item, 5)) {
    note_ansi_text(item, text);
    item.names.push_back(text);
  }
  return !item.names.empty();
}

bool decode_network(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.item.u8(2) == 0x4D && in.size == 20) {
    if (decode_root_folder(item, in, false, context)) return true;
  }
  uint8_t first = in.item.u8(5);
  if (in.size < 6 || first < 32 || first > 125) return false;
  for (auto& text : ansi_texts(in.item, 5)) {
    note_ansi_text(item, text);
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
      std::vector<std::string> parts = split_backslashes(text);
      for (const auto& part : parts) note_ansi_text(item, part);
      if (parts.size() == 1) {
        item.names.push_back(parts.front());
        continue;
      }
      if (!parts.empty()) item.names.push_back(parts.back());
    }
    item.names.push_back(text);
  }
  return !item.names.empty();
}

bool decode_control_panel_category(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  const ByteReader& bytes = in.item;
  if (in.size >= 12 && bytes.u32(4) == kControlPanelCategorySignature) {
    item.name = control_panel_category_text(bytes.u32(8));
    if (in.size > 12) scan_from(item, in, 12, context);
    return true;
  }
  if (in.size < 50 || bytes.u16(4) != 0) return false;
  if (bytes.u16(6) != 0) {
    item.name = read_utf16(bytes, 6, in.size - 6).text;
    item.flags |= kFlagNamedFolder;
  }
  if (in.size > 50) {
    ItemText second = read_utf16(bytes, 50, in.size - 32);
    if (item.name.empty()) {
      item.name = second.text;
    } else {
      ShellItem piece;
      piece.name = second.text;
      merge_item(item, piece);
    }
    uint64_t after = 50 + second.consumed;
    if (after < in.size && in.size - after > 16) scan_from(item, in, after, context);
  }
  return has_content(item);
}

bool decode_item_02(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.size < 8) return false;
  const ByteReader& bytes = in.item;
  if (bytes.u16(6) != 0) {
    item.name = read_utf16(bytes, 6, in.size - 6).text;
    item.flags |= kFlagNamedFolder;
  }
  set_item_time(item, ItemTime::created, TimeValue::from_filetime(bytes.u64(22)));
  set_item_time(item, ItemTime::modified, TimeValue::from_filetime(bytes.u64(30)));
  set_item_time(item, ItemTime::accessed, TimeValue::from_filetime(bytes.u64(38)));
  if (in.size > 50) {
    ItemText second = read_utf16(bytes, 50, in.size - 32);
    ShellItem piece;
    piece.name = second.text;
    merge_item(item, piece);
    uint64_t after = 50 + second.consumed;
    if (after < in.size && in.size - after > 16 && bytes.u16(after) <= in.size - after)
      scan_from(item, in, after, context);
  }
  return has_content(item);
}

bool decode_item_52(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  const ByteReader& bytes = in.item;
  uint64_t count = bytes.u32(46);
  if (in.size < 4 || count == 0 || 2 * count > in.size) return false;
  item.name = read_utf16(bytes, 4, 2 * count).text;
  uint64_t after = 4 + 2 * count + 50;
  if (after < in.size && in.size - after > 16) scan_from(item, in, after, context);
  return has_content(item);
}

bool decode_uri(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  const ByteReader& bytes = in.item;
  uint8_t class_type = bytes.u8(2);
  uint8_t kind = bytes.u8(3);
  if (in.size >= 10 && ((class_type == 0x61 && kind == 0x80) || (class_type == 0x67 && kind == 0x45))) {
    ItemText text = read_utf16(bytes, 8, in.size - 8);
    item.name = text.text;
    uint64_t c = 2 * (text.chars + 1);
    bool recognised = false;
    if (c >= 8 && c - 8 < in.rest.size()) {
      uint64_t start = c - 8;
      uint64_t length = in.rest.size() - start;
      if (length > 16 && in.rest.u16(start) <= length) {
        PositionScope at(context, context.position + start);
        recognised = scan_embedded_structures(item, in.rest.sub(start, length), context);
      }
    }
    uint16_t block_at = bytes.u16(in.size - 2);
    if (!recognised && block_at >= 1 && block_at < in.size && in.size - block_at >= 18) {
      ShellItem piece;
      PositionScope at(context, context.position + block_at);
      if (decode_extension_block(piece, bytes.tail(block_at), context) != 0 &&
          has_content(piece))
        merge_item(item, piece);
    }
    return true;
  }
  if (class_type != 0x61 || in.size < 47) return false;
  set_item_time(item, ItemTime::created, TimeValue::from_filetime(bytes.u64(14)));
  std::string fields[3];
  uint64_t length_at = 42;
  for (auto& field : fields) {
    uint64_t length = bytes.u32(length_at);
    if (!bytes.has(length_at + 4, length)) break;
    field = first_text(bytes.sub(length_at + 4, length));
    length_at += 4 + length;
  }
  item.name = fields[2] + "://" + fields[1];
  if (!fields[1].empty()) item.name += "@" + fields[0];
  note_ansi_text(item, item.name);
  return true;
}

bool decode_item_64(ShellItem& item, const ItemBytes& in) {
  if (in.size < 6) return false;
  item.name = read_utf16(in.item, 4, in.size - 4).text;
  return !item.name.empty();
}

bool decode_control_panel_item(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.size < 14) return false;
  const ByteReader& bytes = in.item;
  if (in.size >= 30 && bytes.u16(4) == 0) {
    add_guid(item, bytes.guid(14));
    uint32_t walked = 0;
    {
      PositionScope at(context, context.position + 30);
      walked = walk_extension_blocks(item, bytes.tail(30), context);
    }
    scan_from(item, in, 30 + uint64_t{walked}, context);
  } else {
    uint64_t guid_at = 6 + uint64_t{bytes.u16(4)};
    if (bytes.has(guid_at, 16)) {
      add_guid(item, bytes.guid(guid_at));
      if (bytes.has(guid_at + 16, 16)) add_guid(item, bytes.guid(guid_at + 16));
    }
    scan_from(item, in, 0, context);
  }
  return has_content(item);
}

bool decode_delegate(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.size < 20) return false;
  const ByteReader& bytes = in.item;
  uint64_t inner = bytes.u16(4);
  if (inner < uint64_t{in.size} - 3) {
    scan_from(item, in, 0, context);
    uint64_t guid_at = bytes.u8(3) >= 0x80 ? 4 : inner + 6;
    if (bytes.has(guid_at, 16)) add_guid(item, bytes.guid(guid_at));
    if (bytes.has(guid_at + 16, 16)) add_guid(item, bytes.guid(guid_at + 16));
  } else {
    add_guid(item, bytes.guid(4));
    uint32_t walked = 0;
    {
      PositionScope at(context, context.position + 20);
      walked = walk_extension_blocks(item, bytes.tail(20), context);
    }
    if (walked == 0 && in.size >= 36) add_guid(item, bytes.guid(20));
  }
  return has_content(item);
}

bool layout94_matches(const ByteReader& item) {
  uint64_t size = item.size();
  if (size < 94 || item.u32(76) != 0) return false;
  uint64_t a = item.u16(84);
  uint64_t b = item.u16(88);
  if (a == 0 || size < 2 * (a + b) + 92) return false;
  if (item.u16(92 + 2 * a) != 0 || item.u16(92 + 2 * a + 2 * b + 2) != 0) return false;
  return size == 92 + 2 * a + 2 * b + 8 && item.u16(0) == size;
}

void decode_layout94(ShellItem& item, const ByteReader& bytes) {
  uint64_t size = bytes.size();
  uint64_t a = bytes.u16(84);
  uint64_t b = bytes.u16(88);
  ShellItem piece;
  for (const std::string& text :
       {read_utf16(bytes, 2, 30).text, read_utf16(bytes, 36, size - 36).text,
        read_utf16(bytes, 92, 2 * a).text}) {
    if (!text.empty()) piece.names.push_back(text);
  }
  uint64_t off = 92 + 2 * a;
  while (off < size && bytes.u8(off) == 0) ++off;
  std::string last = read_utf16(bytes, off, 2 * b).text;
  if (!last.empty()) piece.names.push_back(last);
  merge_item(item, piece);
}

}  // namespace lnk
