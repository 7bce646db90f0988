// File entries, root folders and volumes: the items most shortcuts are made of.
#include "shellitems/item_classes.h"

#include "platform/text.h"
#include "core/time_value.h"
#include "shellitems/embedded_scanner.h"
#include "shellitems/extension_blocks.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"
#include "shellitems/item_times.h"

namespace lnk {

namespace {

constexpr uint64_t kFileSizeField = 4;
constexpr uint64_t kFileDosDateField = 8;
constexpr uint64_t kFileDosTimeField = 10;
constexpr uint64_t kFileAttributesField = 12;
constexpr uint64_t kFilePrimaryNameField = 14;
constexpr uint16_t kAttributeDirectory = 0x10;
constexpr uint16_t kRootFolderSize = 20;
constexpr uint64_t kRootGuidField = 4;

// A root folder GUID that items mark with flag 0x10 when they name it.
constexpr Guid kMarkedFolderGuid = guid_literal("0907616E-F5E6-48D8-9D61-A91C3D28106D");

bool is_file_entry_class(uint8_t class_type) {
  switch (class_type) {
    case 0x30: case 0x31: case 0x32: case 0x34: case 0x35: case 0x36:
    case 0x38: case 0x39: case 0x3A: case 0x3D: case 0x3E: case 0xB1:
      return true;
    default:
      return false;
  }
}

// The last u16 of an item that carries extension blocks is the first
// block's offset; 0 when it does not count.
uint16_t extension_offset(const ItemBytes& in) {
  if (in.size < 2) return 0;
  uint16_t offset = in.item.u16(in.size - 2);
  return offset != 0 && offset < in.size ? offset : 0;
}

void add_root_guid(ShellItem& item, const Guid& guid) {
  add_guid(item, guid);
  if (guid == kMarkedFolderGuid) item.flags |= kFlagNamedFolder;
}

}  // namespace

bool decode_file_entry(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  uint8_t class_type = in.item.u8(2);
  if (in.size < 15 || in.rest.size() < in.size || !is_file_entry_class(class_type)) return false;
  const ByteReader& bytes = in.item;
  item.file_size = bytes.u32(kFileSizeField);
  uint16_t dos_date = bytes.u16(kFileDosDateField);
  if (dos_date != 0)
    set_item_time(item, ItemTime::modified,
                  TimeValue::from_dos(dos_date, bytes.u16(kFileDosTimeField)));
  uint16_t attributes = bytes.u16(kFileAttributesField);
  item.is_folder = (attributes & kAttributeDirectory) != 0 || item.file_size == 0;

  if (attributes != 0 || bytes.u8(kFilePrimaryNameField) != 0) {
    uint16_t blocks_at = extension_offset(in);
    bool unicode = class_type == 0x34 || class_type == 0x35 || class_type == 0x36;
    if (unicode) {
      uint64_t end = blocks_at != 0 ? blocks_at : in.size - 2;
      uint64_t span = end > kFilePrimaryNameField ? end - kFilePrimaryNameField : 0;
      item.short_name = read_utf16(bytes, kFilePrimaryNameField, span).text;
    } else {
      item.short_name = read_ansi(bytes, kFilePrimaryNameField, in.size).text;
      note_ansi_text(item, item.short_name);
      if (!item.short_name.empty()) item.names.push_back(item.short_name);
    }
    if (blocks_at != 0) {
      PositionScope at(context, context.position + blocks_at);
      walk_extension_blocks(item, bytes.tail(blocks_at), context);
    }
  } else if (in.size >= 96 && uint64_t{in.size} - 92 >= 2 * uint64_t{bytes.u32(84)}) {
    std::string second = read_utf16(bytes, 92, in.size - 92).text;
    std::string first = read_utf16(bytes, 36, 48).text;
    if (!second.empty()) item.names.push_back(second);
    if (!first.empty()) item.names.push_back(first);
  } else {
    return false;
  }
  return !item.name.empty() || !item.short_name.empty();
}

bool decode_root_folder(ShellItem& item, const ItemBytes& in, bool may_repair,
                        DecodeContext& context) {
  uint8_t class_type = in.item.u8(2);
  bool shape_ok = class_type == 0x1F || (class_type == 0x4D && in.size == kRootFolderSize);
  if (in.size >= kRootFolderSize && in.rest.size() >= in.size && shape_ok &&
      (in.size == kRootFolderSize || in.item.u16(in.size - 2) == kRootFolderSize)) {
    add_root_guid(item, in.item.guid(kRootGuidField));
    if (in.size > kRootFolderSize) {
      PositionScope at(context, context.position + kRootFolderSize);
      walk_extension_blocks(item, in.item.tail(kRootFolderSize), context);
    }
    return true;
  }
  if (class_type != 0x1F) return false;
  uint16_t inner = in.item.u16(4);
  uint16_t second = in.item.u16(12);
  if (in.size >= 21 && inner != 0 && inner <= in.size && second != 0 && second <= inner)
    return scan_embedded_structures(item, in.item, context);
  // Some writers store a root folder item with a size short of its GUID;
  // Windows still reads 20 bytes, and so does the walk.
  Guid guid = in.rest.guid(kRootGuidField);
  if (in.size < kRootFolderSize && in.rest.size() >= 31 && !guid_name_text(guid).empty() &&
      may_repair) {
    add_root_guid(item, guid);
    item.repaired_size = kRootFolderSize;
    return true;
  }
  return false;
}

bool decode_root_with_idlist(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.size < kRootFolderSize) return false;
  add_root_guid(item, in.item.guid(kRootGuidField));
  PositionScope at(context, context.position + kRootFolderSize);
  walk_idlist(item.children, in.item.tail(kRootFolderSize), context);
  return true;
}

bool decode_root_extension(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.size < kRootFolderSize) return false;
  const ByteReader& bytes = in.item;
  uint8_t kind = bytes.u8(3);
  if (kind >= 16 || in.size == kRootFolderSize) {
    add_guid(item, bytes.guid(kRootGuidField));
    uint64_t after = in.size - kRootFolderSize;
    if (after > 9 && bytes.u16(kRootFolderSize) <= after) {
      PositionScope at(context, context.position + kRootFolderSize);
      scan_embedded_structures(item, bytes.tail(kRootFolderSize), context);
    }
    return true;
  }
  uint64_t guid_at = (kind & 0x80) ? 4 : 6 + uint64_t{bytes.u16(4)};
  if (bytes.has(guid_at, 16)) {
    add_guid(item, bytes.guid(guid_at));
    if (bytes.has(guid_at + 16, 16)) add_guid(item, bytes.guid(guid_at + 16));
  }
  bool recognised = scan_embedded_structures(item, bytes, context);
  return recognised || !item.guids.empty();
}

bool decode_volume(ShellItem& item, const ItemBytes& in, DecodeContext& context) {
  if (in.size < 7) return false;
  const ByteReader& bytes = in.item;
  if (bytes.u8(5) == '\\')
    item.name = read_ansi(bytes, 3, 2).text;
  else
    item.name = read_ansi(bytes, 3, in.size - 3).text;
  note_ansi_text(item, item.name);
  if (bytes.u8(2) == 0x2F) {
    if (in.size == 41) {
      add_guid(item, bytes.guid(25));
    } else if (in.size > 41) {
      PositionScope at(context, context.position + 25);
      walk_extension_blocks(item, bytes.tail(25), context);
    }
  }
  return !item.name.empty();
}

}  // namespace lnk
