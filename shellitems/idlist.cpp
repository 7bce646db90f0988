#include "shellitems/idlist.h"

#include <cstdio>
#include <ostream>

#include "shellitems/embedded_scanner.h"
#include "shellitems/item_classes.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"
#include "shellitems/property_store.h"

namespace lnk {

namespace {

constexpr uint16_t kFirstMarkerSize = 0xF000;
constexpr uint16_t kPaddingMarker = 0xF1F1;
constexpr uint32_t kMaxItemsPerList = 65536;
constexpr uint64_t kMaxDumpSize = 0x1000000;

// Items nothing recognised go to the optional dump sink for study.
void dump_unrecognised(const ByteReader& bytes, DecodeContext& context) {
  if (context.dump_stream == nullptr || !context.dump_enabled) return;
  std::ostream& out = *context.dump_stream;
  if (bytes.size() > kMaxDumpSize) {
    char line[64];
    std::snprintf(line, sizeof line, "size to big to output: size 0x%llx\n",
                  static_cast<unsigned long long>(bytes.size()));
    out << line;
    return;
  }
  for (uint64_t row = 0; row < bytes.size(); row += 16) {
    char line[96];
    int used = std::snprintf(line, sizeof line, "%08llx:",
                             static_cast<unsigned long long>(context.position + row));
    for (uint64_t i = row; i < row + 16 && i < bytes.size(); ++i)
      used += std::snprintf(line + used, sizeof line - used, " %02x", bytes.u8(i));
    out << line << '\n';
  }
}

bool dispatch(ShellItem& item, const ItemBytes& in, bool keep_raw, bool nested,
              DecodeContext& context) {
  switch (in.item.u8(2)) {
    case 0x00:
      return !nested && decode_variable_item(item, in, keep_raw, context);
    case 0x01:
      return decode_control_panel_category(item, in, context);
    case 0x02:
      return decode_item_02(item, in, context);
    case 0x1E:
      return decode_root_with_idlist(item, in, context);
    case 0x1F:
      return decode_root_folder(item, in, true, context);
    case 0x20:
      return decode_plain_network(item, in);
    case 0x23: case 0x25: case 0x29: case 0x2F:
      return decode_volume(item, in, context);
    case 0x2E:
      return decode_root_extension(item, in, context);
    case 0x30: case 0x31: case 0x32: case 0x34: case 0x35: case 0x36:
    case 0x38: case 0x39: case 0x3A: case 0x3D: case 0x3E: case 0xB1:
      return decode_file_entry(item, in, context);
    case 0x40: case 0x41: case 0x42: case 0x44: case 0x45: case 0x46: case 0x47:
    case 0x48: case 0x49: case 0x4A: case 0x4B: case 0x4D: case 0x4E: case 0x4F: case 0xC3:
      return decode_network(item, in, context);
    case 0x52:
      return decode_item_52(item, in, context);
    case 0x61: case 0x67:
      return decode_uri(item, in, context);
    case 0x64:
      return decode_item_64(item, in);
    case 0x71:
      return decode_control_panel_item(item, in, context);
    case 0x73: case 0x77:
      return decode_delegate(item, in, context);
    default:
      return false;  // 0x43, 0x74 and the rest are left to the fallbacks
  }
}

void run_fallbacks(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (layout94_matches(in.item)) {
    decode_layout94(item, in.item);
    item.unknown = false;
    return;
  }
  if (in.item.u8(2) == 0x2C && in.size >= 42) {
    item.name = read_utf16(in.item, 40, in.size - 40).text;
    if (!item.name.empty()) {
      item.unknown = false;
      return;
    }
  }
  if (scan_embedded_structures(item, in.item, context)) {
    item.unknown = false;
    return;
  }
  if (!item.property_map_first.empty()) return;
  if (search_embedded_item(item, in.item, context)) {
    item.unknown = false;
    return;
  }
  if (item.property_map_first.empty() &&
      parse_property_store(item.property_map_first, in.item, context))
    item.unknown = false;
}

}  // namespace

bool decode_variable_item(ShellItem& item, const ItemBytes& in, bool keep_raw,
                          DecodeContext& context) {
  if (in.size < 25) return false;
  const ByteReader& bytes = in.item;
  uint64_t off = 0;
  for (uint32_t guard = 0; guard < 4096 && bytes.has(off, 2); ++guard) {
    uint64_t left = bytes.size() - off;
    uint64_t size = bytes.u16(off);
    if (size == 0 || size > left) break;
    ByteReader block = bytes.sub(off, size);
    PositionScope at(context, context.position + off);
    if (keep_raw) {
      item.raw_bytes.assign(block.span().begin(), block.span().end());
      item.item_position = context.position;
    }
    ShellItem piece;
    std::vector<ByteReader> storages;
    scan_embedded_structures(piece, block, context, &storages);
    if (piece.extra_list.empty() && storages.empty() && piece.children.empty()) {
      merge_item(item, piece);
      dump_unrecognised(block, context);
      parse_property_store(item.property_map_second, block, context);
    } else {
      for (const ByteReader& storage : storages)
        if (storage.size() > 0)
          parse_property_store(piece.property_map_second, storage, context);
      merge_item(item, piece);
    }
    off += size;
    if (bytes.size() - off <= 24) break;
  }
  return has_content(item);
}

uint32_t decode_shell_item(ShellItem& item, ByteReader rest, bool keep_raw, bool nested,
                           uint64_t initial_flags, DecodeContext& context) {
  item = ShellItem{};
  if (!rest.has(0, 3)) return 0;
  ItemBytes in{rest, rest.sub(0, rest.u16(0)), rest.u16(0)};
  if (in.size < 3) return 0;
  item.class_type = in.item.u8(2);
  item.flags = initial_flags;
  item.item_position = context.position;
  if (keep_raw) item.raw_bytes.assign(rest.span().begin(), rest.span().end());

  if (context.depth == 0) context.work = 0;
  DepthGuard guard(context);
  if (!guard.allowed()) {
    item.unknown = true;
    return 1;
  }
  if (layout94_matches(in.item)) item.flags |= kFlagLayout94;
  bool known = dispatch(item, in, keep_raw, nested, context);
  item.unknown = !known;
  if (item.unknown) {
    run_fallbacks(item, in, context);
    if (item.unknown) dump_unrecognised(in.item, context);
  }
  return 1;
}

bool walk_idlist(std::vector<ShellItem>& items, ByteReader all, DecodeContext& context) {
  const uint64_t length = all.size();
  if (length < 3) return !items.empty();
  // The work budget is per top-level list, so a context reused for the next
  // record starts afresh.
  if (context.depth == 0) context.work = 0;
  DepthGuard guard(context);
  if (!guard.allowed()) return !items.empty();
  uint64_t cursor = 0;
  uint64_t running = context.position;
  uint64_t previous_flags = 0;
  for (uint32_t count = 0; count < kMaxItemsPerList && length - cursor >= 4; ++count) {
    uint64_t remaining = length - cursor;
    uint16_t size = all.u16(cursor);
    if (size == kPaddingMarker) {
      cursor += 4;
      running += 4;
      context.position = running;
      continue;
    }
    if (size <= 4 || size > remaining) break;
    if (size >= kFirstMarkerSize) {
      cursor += size;
      running += size;
      continue;
    }
    context.position = running;
    ShellItem item;
    if (decode_shell_item(item, all.tail(cursor), false, false, previous_flags, context) != 0) {
      previous_flags = item.flags;
      if (item.repaired_size != 0) size = item.repaired_size;
      items.push_back(std::move(item));
    }
    if (size == 0 || size > remaining) break;
    cursor += size;
    running += size;
    while (length - cursor >= 2 && all.u16(cursor) == 0) {
      cursor += 2;
      running += 2;
    }
    if (cursor >= length) break;
  }
  context.position = running;
  return !items.empty();
}

}  // namespace lnk
