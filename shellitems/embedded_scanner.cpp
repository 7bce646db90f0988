#include "shellitems/embedded_scanner.h"

#include "core/time_value.h"
#include "shellitems/device_properties.h"
#include "shellitems/extension_blocks.h"
#include "shellitems/item_classes.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"
#include "shellitems/item_times.h"
#include "shellitems/property_store.h"

namespace lnk {

namespace {

constexpr uint32_t kSignatureMarker0A29 = 0x0A291CF0;
constexpr uint32_t kSignatureCfsf = 0x46534643;  // "CFSF"
constexpr uint32_t kSignatureText0719 = 0x07192006;
constexpr uint32_t kSignatureText1031 = 0x10312005;
constexpr uint32_t kSignatureMarker4517 = 0x45177777;
constexpr uint32_t kSignatureText0831 = 0x08312006;
constexpr uint32_t kSignatureItemHolder = 0xF5A6B710;
constexpr uint32_t kSignatureTextChain = 0xC001B000;
constexpr uint64_t kMaxRecordSize = 16384;
// The property sub-record of a text record: u32 13, the property set GUID,
// a u32 count, then the entries.
constexpr uint32_t kPropertyRecordMarker = 13;
constexpr uint64_t kPropertyRecordHeader = 24;
constexpr uint32_t kMaxScanSteps = 4096;

const uint8_t kAugmText[] = {'A', 'u', 'g', 'M'};

struct Step {
  bool handled = false;     // a row of the table applied
  bool recognised = false;  // it yielded something
  uint64_t consumed = 0;
};

// Where the three counts, the texts and the property sub-record length of a
// text record live, by signature.
struct TextLayout {
  uint64_t length_at, counts_at, texts_at;
  uint64_t flag;
  bool size_at_zero;  // the record whose signature sits at +2 keeps its size at +0
};
constexpr TextLayout kText1031{34, 38, 54, kFlagText1031, false};
constexpr TextLayout kText0719{58, 62, 74, kFlagText0719, false};
constexpr TextLayout kText0831{22, 26, 38, kFlagText0831, false};
constexpr TextLayout kText0831Short{18, 22, 34, 0, true};

uint64_t text_inner_size(const ByteReader& r, const TextLayout& layout) {
  return layout.size_at_zero ? r.u16(0) : r.u16(4);
}

bool text_record_fits(const ByteReader& r, const TextLayout& layout) {
  uint64_t size = r.u16(0);
  uint64_t inner = text_inner_size(r, layout);
  uint64_t left = r.size();
  if (inner > size || inner > left) return false;
  if (r.u32(layout.length_at) > inner) return false;
  uint64_t chars = uint64_t{r.u32(layout.counts_at)} + r.u32(layout.counts_at + 4) +
                   r.u32(layout.counts_at + 8);
  return 2 * chars + 26 <= left && r.has(layout.counts_at, 12);
}

void decode_text_record(ShellItem& item, const ByteReader& r, const TextLayout& layout) {
  item.flags |= layout.flag;
  uint64_t off = layout.texts_at;
  for (int i = 0; i < 3; ++i) {
    uint64_t bytes = 2 * uint64_t{r.u32(layout.counts_at + 4 * i)};
    std::string text = read_utf16(r, off, bytes).text;
    if (!text.empty()) item.names.push_back(text);
    off += bytes;
  }
  // The sub-record ends the part that the inner size counts from its own
  // field on; records with the size at +0 have no 4-byte lead.
  uint64_t length = r.u32(layout.length_at);
  uint64_t counted_from = layout.size_at_zero ? 0 : 4;
  uint64_t sub_at = counted_from + text_inner_size(r, layout);
  if (length > sub_at) return;
  sub_at -= length;
  ByteReader sub = r.sub(sub_at, length);
  if (sub.size() < kPropertyRecordHeader || sub.u32(0) != kPropertyRecordMarker ||
      sub.u32(20) == 0) {
    return;
  }
  add_guid(item, sub.guid(4));
  decode_device_properties(item.property_map_first, sub.tail(kPropertyRecordHeader));
}

Step scan_cfsf(ShellItem& item, const ByteReader& r, DecodeContext& context) {
  ShellItem piece;
  piece.flags |= kFlagCfsf;
  uint64_t size = r.u16(0);
  ByteReader record = r.sub(0, size);
  uint16_t attributes = record.u16(12);
  piece.file_size = record.u32(14);
  piece.is_folder = (attributes & 0x10) != 0 || piece.file_size == 0;
  uint16_t date = record.u16(18);
  if (date != 0)
    set_item_time(piece, ItemTime::modified, TimeValue::from_dos(date, record.u16(20)));
  ItemText name = read_ansi(record, 24, size);
  piece.short_name = name.text;
  note_ansi_text(piece, name.text);
  if (!name.text.empty()) piece.names.push_back(name.text);
  uint16_t blocks_at = record.u16(size - 2);
  if (size >= 2 && blocks_at != 0 && blocks_at < size) {
    PositionScope at(context, context.position + blocks_at);
    walk_extension_blocks(piece, record.tail(blocks_at), context);
  }
  bool named = !piece.name.empty() || !piece.short_name.empty();
  item.is_folder = item.is_folder || piece.is_folder;
  merge_item(item, piece);
  return {true, named, uint64_t{r.u16(4)} + 4};
}

bool storage_plausible(const ByteReader& r, uint64_t format_at, uint64_t type_at) {
  if (r.guid(format_at) == kStringNamedSetId) return true;
  uint16_t value_type = r.u16(type_at);
  return value_type < 0x8000 && (value_type & 0x0FFF) <= 73;
}

Step scan_augm(ShellItem& item, const ByteReader& r, DecodeContext& context) {
  item.flags |= kFlagAugm;
  uint64_t size = r.u16(0);
  uint64_t off = uint64_t{r.u32(8)} + 16;
  uint32_t count = r.u32(12);
  bool any = false;
  for (uint32_t i = 0; i < count && i < 1024 && r.has(off, 16); ++i) {
    ShellItem entry;
    ItemBytes in{r.tail(off), r.sub(off, r.u16(off)), r.u16(off)};
    PositionScope at(context, context.position + off);
    bool ok = in.size >= 15 && decode_file_entry(entry, in, context);
    if (i == 0)
      merge_item(item, entry);
    else if (ok)
      item.children.push_back(std::move(entry));
    any = any || ok;
    if (in.size == 0) break;
    off += uint64_t{in.size} + 6;
  }
  return {true, any, size};
}

bool guid_record_fits(const ByteReader& r) {
  uint64_t left = r.size();
  if (left < 14) return false;
  uint64_t size = r.u16(0);
  uint64_t a = r.u16(4);
  uint64_t b = r.u16(12);
  return size >= 14 && size <= kMaxRecordSize && size <= left && a != 0 && a <= size &&
         a <= left && b != 0 && b <= left && b <= a;
}

Step scan_guid_record(ShellItem& item, const ByteReader& r, DecodeContext& context) {
  item.flags |= kFlagGuidRecord;
  uint64_t a = r.u16(4);
  uint64_t b = r.u16(12);
  if (a >= 26 && b == 16) {
    add_guid(item, r.guid(14));
  } else if (a >= 27 && b == 32) {
    add_guid(item, r.guid(14));
    add_guid(item, r.guid(30));
  } else if (r.has(a + 6, 16)) {
    add_guid(item, r.guid(a + 6));
    if (r.has(a + 22, 16)) add_guid(item, r.guid(a + 22));
  }
  uint64_t off = 14 + b;
  while (r.has(off, 2)) {
    uint16_t size = r.u16(off);
    if (size != 0 && r.has(off, size)) break;
    ++off;
  }
  uint64_t walked = 0;
  if (r.has(off, 2)) {
    PositionScope at(context, context.position + off);
    walked = walk_extension_blocks(item, r.tail(off), context);
  }
  return {true, true, off + walked};
}

Step scan_named_record(ShellItem& item, const ByteReader& r, DecodeContext& context) {
  uint64_t size = r.u16(0);
  ByteReader record = r.sub(0, size);
  uint16_t marker = r.u16(6);
  if (marker == kExtensionSignatureHigh) {
    if (!r.has(0, 18)) return {true, false, size};
    ShellItem piece;
    uint32_t used = decode_extension_block(piece, record, context);
    if (used) merge_item(item, piece);
    return {true, used != 0, size};
  }
  if (marker >= 32) {
    ItemText name = read_utf16(record, 6, size);
    if (name.chars < 5 && r.u16(8) == 0) return {true, false, size};
    item.flags |= kFlagNamedRecord | kFlagNamedFolder;
    item.name = name.text;
    return {true, !name.text.empty(), size};
  }
  if (size < 39) return {true, false, size};
  item.flags |= kFlagNamedRecord;
  set_item_time(item, ItemTime::created, TimeValue::from_filetime(record.u64(22)));
  ItemText short_name = read_ansi(record, 38, size);
  item.short_name = short_name.text;
  note_ansi_text(item, short_name.text);
  uint64_t off = 38 + short_name.consumed;
  while (record.has(off, 1) && record.u8(off) == 0) ++off;
  if (record.has(off, 2)) item.name = read_utf16(record, off, size - off).text;
  return {true, !item.short_name.empty() || !item.name.empty(), size};
}

Step scan_item_holder(ShellItem& item, const ByteReader& r, DecodeContext& context) {
  item.flags |= kFlagItemHolder;
  uint64_t size = r.u16(0);
  ByteReader record = r.sub(0, size);
  uint64_t a = r.u16(4);
  if (a + 22 <= size) {
    add_guid(item, record.guid(a + 6));
    if (a + 38 <= size) add_guid(item, record.guid(a + 22));
  }
  ShellItem held;
  {
    PositionScope at(context, context.position + 10);
    decode_shell_item(held, record.tail(10), false, false, 0, context);
  }
  merge_item(item, held);
  uint64_t after = 10 + uint64_t{record.u16(10)};
  if (record.has(after, 4)) {
    std::vector<ShellItem> list;
    PositionScope at(context, context.position + after);
    if (walk_idlist(list, record.tail(after), context))
      item.embedded_idlists.push_back(std::move(list));
  }
  return {true, true, size};
}

bool text_chain_fits(const ByteReader& r) {
  uint64_t size = r.u16(0);
  uint64_t n = r.u32(20);
  return r.u32(8) <= size && n <= size && n + 25 <= r.size();
}

Step scan_text_chain(ShellItem& item, const ByteReader& r) {
  uint64_t n = r.u32(20);
  std::string head = read_utf16(r, 24, n).text;
  if (!head.empty()) item.names.push_back(head);
  uint64_t off = 24 + n;
  int entries = 0;
  for (uint32_t guard = 0; guard < 1024 && r.has(off, 21); ++guard) {
    uint64_t t = r.u32(off + 16);
    if (t < 1 || t > 16383 || !r.has(off + 20, t)) break;
    ItemText text = read_utf16(r, off + 20, t);
    if (text.chars > 1) item.names.push_back(text.text);
    ++entries;
    off += t + 20;
  }
  return {true, entries > 0, r.u16(8)};
}

Step scan_one(ShellItem& item, const ByteReader& r, DecodeContext& context,
              std::vector<ByteReader>* storages) {
  uint64_t left = r.size();
  uint64_t size = r.u16(0);
  uint64_t at4 = r.u16(4);
  uint32_t signature = left >= 10 ? r.u32(6) : 0;

  if (left >= 10 && size >= 10 && at4 <= size && signature == kSignatureMarker0A29) {
    item.flags |= kFlagMarker0A29;
    return {true, true, 10};
  }
  if (left >= 25 && size >= 25 && at4 <= size && r.u16(10) <= size && signature == kSignatureCfsf)
    return scan_cfsf(item, r, context);
  if (left >= 76 && size <= kMaxRecordSize && signature == kSignatureText0719 &&
      text_record_fits(r, kText0719)) {
    decode_text_record(item, r, kText0719);
    return {true, true, at4};
  }
  if (left >= 56 && size <= kMaxRecordSize && signature == kSignatureText1031 &&
      text_record_fits(r, kText1031)) {
    decode_text_record(item, r, kText1031);
    return {true, true, at4};
  }
  if (left >= 19 && at4 <= size && signature == kSignatureMarker4517) {
    item.flags |= kFlagMarker4517;
    return {true, true, 18};
  }
  if (left >= 40 && signature == kSignatureText0831 && text_record_fits(r, kText0831)) {
    item.flags |= kFlagText0831;
    ByteReader inner = r.tail(4);
    if (text_record_fits(inner, kText0831Short)) decode_text_record(item, inner, kText0831Short);
    return {true, true, at4};
  }
  if (left >= 13 && signature == kSignatureItemHolder && at4 <= size + 4 &&
      r.u16(10) <= at4 + 4)
    return scan_item_holder(item, r, context);
  if (left >= 16 && r.matches(4, kAugmText) && r.u32(12) > 0)
    return scan_augm(item, r, context);
  if (guid_record_fits(r)) return scan_guid_record(item, r, context);
  if (left >= 8 && size <= kMaxRecordSize && at4 == 0 && r.u16(6) != 0)
    return scan_named_record(item, r, context);
  if (left >= 38 && r.u32(4) == kPropertyStorageVersion && storage_plausible(r, 8, 33)) {
    uint64_t storage_size = r.u32(0);
    ByteReader storage = r.sub(0, storage_size);
    if (storages) {
      storages->push_back(storage);
      return {true, true, storage_size};
    }
    bool parsed = parse_property_store(item.property_map_first, storage, context);
    return {true, parsed, storage_size};
  }
  if (left >= 36 && r.u32(2) == kSignatureText0831 && text_record_fits(r, kText0831Short)) {
    decode_text_record(item, r, kText0831Short);
    return {true, true, size};
  }
  if (left >= 25 && r.u32(4) == kSignatureTextChain && size <= kMaxRecordSize &&
      text_chain_fits(r))
    return scan_text_chain(item, r);
  if (layout94_matches(r.sub(0, size))) {
    ShellItem piece;
    decode_layout94(piece, r.sub(0, size));
    merge_item(item, piece);
    return {true, true, size};
  }
  if (size >= 8 && r.has(0, size) && r.has(6, 2) && r.u16(6) == kExtensionSignatureHigh) {
    bool used = false;
    if (left >= 18) {
      ShellItem piece;
      used = decode_extension_block(piece, r, context) != 0;
      if (used) merge_item(item, piece);
    }
    return {true, used, size};
  }
  return {};
}

}  // namespace

bool scan_embedded_structures(ShellItem& item, ByteReader region, DecodeContext& context,
                              std::vector<ByteReader>* storages) {
  DepthGuard guard(context);
  if (!guard.allowed()) return false;
  uint64_t base = context.position;
  uint64_t off = 0;
  bool recognised = false;
  for (uint32_t steps = 0; steps < kMaxScanSteps && region.has(off, 9); ++steps) {
    Step step;
    {
      PositionScope at(context, base + off);
      step = scan_one(item, region.tail(off), context, storages);
    }
    if (!step.handled) break;
    recognised = step.recognised;
    if (step.consumed == 0) break;
    off += step.consumed;
  }
  return recognised;
}

bool search_embedded_item(ShellItem& item, ByteReader item_bytes, DecodeContext& context) {
  uint64_t size = item_bytes.size();
  uint64_t k = 0;
  while (item_bytes.has(k, 2) && item_bytes.u16(k) != kExtensionSignatureHigh) ++k;
  if (!item_bytes.has(k, 2) || k < 16) return false;
  uint64_t block = k - 6;
  uint64_t block_size = item_bytes.u16(block);
  if (block_size < 2 || !fits(block, block_size, size)) return false;
  uint64_t distance = item_bytes.u16(block + block_size - 2);
  if (distance > block) return false;
  uint64_t start = block - distance;
  ItemText name = read_utf16(item_bytes, 0, start);
  if (name.chars * 2 > 2) item.names.push_back(name.text);
  PositionScope at(context, context.position + start);
  ShellItem embedded;
  uint32_t result =
      decode_shell_item(embedded, item_bytes.tail(start), false, true, kFlagEmbeddedItem, context);
  if (result == 0 || embedded.unknown) return false;
  merge_item(item, embedded);
  return true;
}

}  // namespace lnk
