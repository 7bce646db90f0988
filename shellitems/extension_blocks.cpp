#include "shellitems/extension_blocks.h"

#include "platform/text.h"
#include "core/time_value.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"
#include "shellitems/item_times.h"
#include "shellitems/property_store.h"

namespace lnk {

namespace {

constexpr uint64_t kBlockSizeField = 0;
constexpr uint64_t kBlockVersionField = 2;
constexpr uint64_t kBlockNumberField = 4;
constexpr uint64_t kBlockSignatureHighField = 6;
constexpr uint32_t kMaxBlocksPerWalk = 4096;
constexpr uint64_t kAttributeDataCreateTime = 12;
constexpr uint64_t kAttributeDataAccessTime = 20;
constexpr uint64_t kAttributeDataWriteTime = 28;
constexpr uint64_t kPropertyStoreBlockData = 8;


void decode_file_entry_extension(ShellItem& item, const ByteReader& block, uint16_t version) {
  uint64_t size = block.size();
  uint16_t create_date = block.u16(8);
  if (create_date != 0)
    set_item_time(item, ItemTime::created, TimeValue::from_dos(create_date, block.u16(10)));
  uint16_t access_date = block.u16(12);
  if (access_date != 0)
    set_item_time(item, ItemTime::accessed, TimeValue::from_dos(access_date, block.u16(14)));
  uint16_t long_name_offset = block.u16(16);
  if (long_name_offset == 0 || long_name_offset >= size) return;
  item.name = read_utf16(block, long_name_offset, size).text;

  if (version >= 7) {
    uint64_t reference = block.u64(20);
    item.mft_entry = reference & 0xFFFFFFFFFFFFull;
    item.mft_seq = static_cast<uint16_t>(reference >> 48);
    if (version >= 8) {
      uint16_t localized = block.u16(18);
      if (localized != 0 && localized < size) {
        std::string text = read_utf16(block, localized, size).text;
        if (!text.empty()) item.names.push_back(text);
      }
    }
    uint16_t further = block.u16(36);
    if (further != 0 && further < size) item.extra_name_a = read_utf16(block, further, size).text;
  } else if (version == 3) {
    uint16_t localized = block.u16(18);
    if (localized != 0 && localized < size) {
      bool ansi = block.u8(uint64_t{localized} + 1) != 0;
      item.extra_name_a =
          ansi ? read_ansi(block, localized, size).text : read_utf16(block, localized, size).text;
      if (ansi) note_ansi_text(item, item.extra_name_a);
    }
  }
}

// Windows keeps the original location of a deleted file and its name in
// the recycle bin in this block.
void decode_recycle_names(ShellItem& item, const ByteReader& block) {
  constexpr uint64_t kOriginalPath = 24;
  constexpr uint64_t kOriginalPathBytes = 520;
  constexpr uint64_t kRecyclePath = 544;
  constexpr uint64_t kRecyclePathBytes = 160;
  ShellItem child;
  ItemText original = read_utf16(block, kOriginalPath, kOriginalPathBytes);
  child.names.push_back(original.text + " [orig path/file]");
  uint64_t off = kOriginalPath + original.consumed;
  uint64_t end = kOriginalPath + kOriginalPathBytes;
  while (off < end && block.has(off, 1) && block.u8(off) == 0) ++off;
  if (off + 4 < end && block.has(off, 2)) {
    ItemText file = read_utf16(block, off, end - off);
    child.names.push_back(file.text + " [orig file]");
  }
  ItemText recycle = read_utf16(block, kRecyclePath, kRecyclePathBytes);
  child.names.push_back(recycle.text + " [recycle path/file]");
  item.children.push_back(std::move(child));
}

void decode_block_property_storage(ShellItem& item, const ByteReader& block,
                                   DecodeContext& context) {
  constexpr uint64_t kStorage = 16;
  if (!block.has(kStorage, 38)) return;
  uint32_t storage_size = block.u32(kStorage);
  if (storage_size < 38 || !block.has(kStorage, storage_size)) return;
  if (block.u32(kStorage + 4) != kPropertyStorageVersion) return;
  bool accepted = block.guid(kStorage + 8) == kStringNamedSetId;
  if (!accepted) {
    uint16_t value_type = block.u16(49);
    accepted = value_type < 0x8000 && (value_type & 0x0FFF) <= 73;
  }
  if (!accepted) return;
  PositionScope at(context, context.position + kStorage);
  parse_property_store(item.property_map_first, block.tail(kStorage), context);
}

void decode_name_chain(ShellItem& item, const ByteReader& block) {
  uint64_t size = block.size();
  if (size < 66) return;
  uint64_t inner = block.u16(24);
  if (inner + 24 > size || uint64_t{block.u32(60)} + 60 > inner) return;
  add_guid(item, block.guid(8));
  uint64_t off = 64;
  for (uint32_t guard = 0; off < size && size - off > 4 && guard < 1024; ++guard) {
    ItemText text = read_utf16(block, off, size - off);
    if (!text.text.empty()) item.names.push_back(text.text);
    off += text.consumed + 8;
  }
}

void decode_guess_times(ShellItem& item, const ByteReader& block, int count) {
  static const char* const kLabels[] = {"Created [guess]: ", "Modified [guess]: ",
                                        "Accessed [guess]: "};
  for (int i = 0; i < count; ++i)
    add_time_note(item, kLabels[i], TimeValue::from_filetime(block.u64(12 + 8 * i)));
}

void decode_generic_block(ShellItem& item, const ByteReader& block) {
  uint64_t off = 8;
  for (uint32_t guard = 0; guard < 1024; ++guard) {
    off = skip_small_u16(block, off, 32, nullptr);
    if (!block.has(off, 4)) break;
    ItemText text = read_utf16(block, off, block.size() - off);
    if (text.chars > 5 && is_readable_text(text.text)) item.names.push_back(text.text);
    off += text.consumed == 0 ? 2 : text.consumed;
    if (!block.has(off, 16)) break;
  }
}

// Version 1 of 0xBEEF0026 holds what GetFileAttributesEx reports of the
// item: its attributes, then creation, last access and last write times.
void decode_item_attribute_data(ShellItem& item, const ByteReader& block) {
  if (!block.has(kAttributeDataWriteTime, 8)) return;
  const TimeValue created = TimeValue::from_filetime(block.u64(kAttributeDataCreateTime));
  const TimeValue accessed = TimeValue::from_filetime(block.u64(kAttributeDataAccessTime));
  const TimeValue modified = TimeValue::from_filetime(block.u64(kAttributeDataWriteTime));
  add_time_note(item, "Created: ", created);
  add_time_note(item, "Modified: ", modified);
  add_time_note(item, "Accessed: ", accessed);
  if (item.create_time == 0) set_item_time(item, ItemTime::created, created);
  if (item.modify_time == 0) set_item_time(item, ItemTime::modified, modified);
  if (item.access_time == 0) set_item_time(item, ItemTime::accessed, accessed);
}

void decode_embedded_date(ShellItem& item, const ByteReader& block) {
  uint64_t size = block.size();
  ItemText name = read_utf16(block, 16, size);
  item.name = name.text;
  uint64_t skipped = 0;
  uint64_t off = skip_small_u16(block, 16 + 2 * name.chars, 32, &skipped);
  if (skipped == 1 || off >= size) return;
  ItemText a = read_utf16(block, off, size - off);
  off += a.consumed;
  ItemText b;
  if (block.u16(off) != 0) {
    b = read_utf16(block, off, size - off);
    off += b.consumed;
  } else {
    off += 2;
  }
  ItemText c;
  if (off < size && size - off > 16) {
    TimeValue first = TimeValue::from_filetime(block.u64(off));
    TimeValue second = TimeValue::from_filetime(block.u64(off + 8));
    off += 16;
    add_time_note(item, "Embedded date: ", first);
    add_time_note(item, "Embedded date: ", second);
    if (off < size && size - off > 16) {
      uint64_t text_at = skip_small_u16(block, off + 12, 32, nullptr);
      if (text_at < size) c = read_utf16(block, text_at, size - text_at);
    }
  }
  for (const ItemText* text : {&a, &b, &c})
    if (!text->text.empty()) item.names.push_back(text->text);
}

void decode_block_body(ShellItem& item, const ByteReader& block, DecodeContext& context) {
  uint16_t version = block.u16(kBlockVersionField);
  uint16_t number = block.u16(kBlockNumberField);
  if (version == 0) {
    switch (number) {
      case 0x0000:
      case 0x0013:
      case 0x0019:
        add_guid(item, block.guid(8));
        add_guid(item, block.guid(24));
        return;
      case 0x0003:
      case 0x0005:
        add_guid(item, block.guid(8));
        return;
      case 0x0004:
        set_item_time(item, ItemTime::created, TimeValue::from_dos(block.u16(8), block.u16(10)));
        return;
      case 0x0008:
        decode_recycle_names(item, block);
        return;
      case 0x000E: {
        PositionScope at(context, context.position + 12);
        walk_idlist(item.children, block.tail(12), context);
        return;
      }
      case 0x0010:
        decode_block_property_storage(item, block, context);
        return;
      case 0x0014:
        decode_name_chain(item, block);
        return;
      case 0x0001:
      case 0x001A:
      case 0x001D:
        return;
      case 0x0025:
        decode_guess_times(item, block, 2);
        return;
      default:
        break;
    }
  }
  if (version == 1 && number == 0x0025) {
    decode_guess_times(item, block, 3);
  } else if (version == 1 && number == 0x0026) {
    decode_item_attribute_data(item, block);
  } else if (number == 0x0027) {
    PositionScope at(context, context.position + kPropertyStoreBlockData);
    parse_property_store(item.property_map_second, block.tail(kPropertyStoreBlockData), context);
  } else if (version == 3 || version == 7 || version == 8 || version == 9) {
    decode_file_entry_extension(item, block, version);
  } else if ((version == 5 || version == 13) && number == 0x0006) {
    item.name = read_utf16(block, 8, block.size()).text;
  } else if ((version == 39 && number == 0x0006) || (version == 5 && number == 0x000B)) {
    decode_embedded_date(item, block);
  } else {
    decode_generic_block(item, block);
  }
}

}  // namespace

bool extension_block_at(const ByteReader& bytes, uint64_t off) {
  if (!bytes.has(off, 9)) return false;
  uint16_t size = bytes.u16(off + kBlockSizeField);
  return size >= 8 && bytes.has(off, size) && size < kMaxExtensionBlockSize &&
         bytes.u16(off + kBlockSignatureHighField) == kExtensionSignatureHigh;
}

uint32_t decode_extension_block(ShellItem& item, ByteReader bytes, DecodeContext& context) {
  if (!bytes.has(0, 16)) return 0;
  uint16_t size = bytes.u16(kBlockSizeField);
  if (size < 8 || size > bytes.size()) return 0;
  if (bytes.u16(kBlockSignatureHighField) != kExtensionSignatureHigh) return 0;
  DepthGuard guard(context);
  if (!guard.allowed()) return 0;
  item.extension_blocks.push_back({context.position, size, bytes.u16(kBlockVersionField),
                                   bytes.u32(kBlockNumberField)});
  decode_block_body(item, bytes.sub(0, size), context);
  return size;
}

uint32_t walk_extension_blocks(ShellItem& item, ByteReader blocks, DecodeContext& context) {
  uint64_t off = 0;
  uint32_t total = 0;
  for (uint32_t count = 0; count < kMaxBlocksPerWalk && extension_block_at(blocks, off); ++count) {
    uint16_t size = blocks.u16(off);
    if (blocks.has(off, 18)) {
      ShellItem piece;
      if (decode_extension_block(piece, blocks.tail(off), context) != 0)
        merge_item(item, piece);
    }
    context.position += size;
    total += size;
    off += size;
  }
  return total;
}

}  // namespace lnk
