#include "lnk/parse_lnk.h"

#include <span>

#include "lnk/extra_blocks.h"
#include "lnk/link_info.h"
#include "lnk/string_data.h"
#include "platform/text.h"
#include "shellitems/idlist.h"
#include "shellitems/item_settle.h"

namespace lnk {
namespace {

constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint64_t kHeaderBytes = 76;
// Below this nothing but a header fits, and the IDList size cannot be read.
constexpr uint64_t kMinRecordBytes = 82;
// An IDList that overruns the bytes is cut to them, but only when at least
// one small item could be in there.
constexpr uint64_t kMinShrinkableBytes = 88;
constexpr uint64_t kIdListSizeField = 76;
constexpr uint64_t kIdListStart = 78;
constexpr uint32_t kHasLinkTargetIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint64_t kExtraBlockHeader = 8;

constexpr Guid kLinkClsid = guid_literal("00021401-0000-0000-C000-000000000046");

void read_header(LinkHeader& header, const ByteReader& bytes) {
  header.header_size = bytes.u32(0);
  header.link_clsid = bytes.guid(4);
  header.link_flags = bytes.u32(20);
  header.file_attributes = bytes.u32(24);
  header.creation_time = bytes.u64(28);
  header.access_time = bytes.u64(36);
  header.write_time = bytes.u64(44);
  header.file_size = bytes.u32(52);
  header.icon_index = bytes.i32(56);
  header.show_command = bytes.u32(60);
  header.hot_key = bytes.u16(64);
  header.reserved1 = bytes.u16(66);
  header.reserved2 = bytes.u32(68);
  header.reserved3 = bytes.u32(72);
}

void clear_idlist_fields(LnkRecord& record) {
  record.shell_items.clear();
  record.idlist_modify_time = record.idlist_access_time = record.idlist_create_time = 0;
  record.target_mft_entry = 0;
  record.target_mft_seq = 0;
}

void decode_idlist(LnkRecord& record, const ByteReader& items, uint64_t position) {
  DecodeContext context;
  context.position = position;
  try {
    if (!walk_idlist(record.shell_items, items, context) || record.shell_items.empty()) return;
    settle_items(record.shell_items);
    const ShellItem& last = record.shell_items.back();
    record.idlist_modify_time = last.modify_time;
    record.idlist_access_time = last.access_time;
    record.idlist_create_time = last.create_time;
    record.target_mft_entry = last.mft_entry;
    record.target_mft_seq = last.mft_seq;
  } catch (...) {
    // A failed decode (a huge allocation, say) counts as an IDList without items.
    clear_idlist_fields(record);
  }
}

// Reads the LinkTargetIDList and moves pos past it; false rejects the record.
bool read_idlist(LnkRecord& record, const ByteReader& bytes, uint64_t record_offset, uint64_t& pos) {
  const uint64_t length = bytes.size();
  uint64_t idlist_size = bytes.u16(kIdListSizeField);
  if (kIdListSizeField + idlist_size >= length) return false;
  if (bytes.u16(kIdListStart) == 0) {
    pos = kIdListStart + 2;
    return true;
  }
  if (kIdListStart + idlist_size >= length) {
    if (length < kMinShrinkableBytes) return false;
    idlist_size = length - kIdListStart;
  }
  // The items, without the two-byte TerminalID.
  uint64_t items_size = idlist_size >= 2 ? idlist_size - 2 : 0;
  decode_idlist(record, bytes.sub(kIdListStart, items_size), record_offset + kIdListStart);
  // IDListSize has been checked, so the sections after it are found from it
  // even when no item could be decoded.
  pos = kIdListStart + idlist_size;
  return true;
}

// The blocks Windows writes, by signature; any other is named as damage.
bool known_block_signature(uint32_t signature) {
  return signature >= 0xA0000001 && signature <= 0xA000000C;
}

// A block the decoders left whose size is still one Windows writes for its
// signature (an empty property store, say) is no damage.
bool size_windows_writes(uint32_t signature, uint64_t size) {
  switch (signature) {
    case 0xA0000001: case 0xA0000006: case 0xA0000007: return size == 0x314;
    case 0xA0000002: return size == 0xCC;
    case 0xA0000003: return size == 0x60;
    case 0xA0000004: return size == 0x0C;
    case 0xA0000005: return size == 0x10;
    case 0xA0000008: return size >= 0x88;
    case 0xA000000B: return size == 0x1C;
    default: return size >= kExtraBlockHeader + 4;  // property stores and IDLists
  }
}

void note_damage(LnkRecord& record, ExtraDataDamage::Kind kind, uint64_t pos, uint32_t size,
                 uint32_t signature) {
  record.extra_data_damage.push_back({kind, static_cast<uint32_t>(pos), size, signature});
}

// False when a block's size stopped the walk (that damage is noted).
bool walk_extra_data(LnkRecord& record, const ByteReader& bytes, uint64_t record_offset,
                     uint64_t& pos) {
  const uint64_t length = bytes.size();
  // Every step moves at least kExtraBlockHeader bytes, which bounds the walk.
  while (pos + kExtraBlockHeader < length) {
    uint64_t rest = length - pos;
    uint64_t block_size = bytes.u16(pos);
    const uint32_t signature = bytes.u32(pos + 4);
    if (block_size < 4) return true;  // a TerminalBlock, or what Windows takes for one
    if (block_size < kExtraBlockHeader || block_size > rest || pos + block_size >= length ||
        bytes.u8(pos + 2) != 0) {
      note_damage(record, ExtraDataDamage::size_past_data, pos, bytes.u32(pos), signature);
      return false;
    }
    uint32_t block_position = static_cast<uint32_t>(pos);
    if (!decode_extra_block(record, bytes.tail(pos), block_position, record_offset)) {
      if (!known_block_signature(signature))
        note_damage(record, ExtraDataDamage::unknown_signature, pos, static_cast<uint32_t>(block_size), signature);
      else if (!size_windows_writes(signature, block_size))
        note_damage(record, ExtraDataDamage::undecodable, pos, static_cast<uint32_t>(block_size), signature);
    }
    pos += block_size;
  }
  return true;
}

}  // namespace

bool parse_lnk_record(LnkRecord& record, std::span<const uint8_t> bytes, uint64_t record_offset) {
  // Sizes and offsets of a record are 32-bit; nothing past that belongs to it.
  if (bytes.size() > UINT32_MAX) bytes = bytes.first(UINT32_MAX);
  const uint64_t length = bytes.size();
  ByteReader reader(bytes);
  if (length <= kHeaderBytes || reader.u32(0) != kHeaderSize || reader.guid(4) != kLinkClsid) {
    return false;
  }
  read_header(record.header, reader);
  if (length < kMinRecordBytes) return false;
  uint64_t pos = kHeaderBytes;

  if ((record.header.link_flags & kHasLinkTargetIdList) != 0 &&
      !read_idlist(record, reader, record_offset, pos)) {
    return false;
  }
  if ((record.header.link_flags & kHasLinkInfo) != 0) read_link_info(record, reader, pos);
  const bool walked = read_string_data(record, reader, pos) && walk_extra_data(record, reader, record_offset, pos);

  if (reader.has(pos, 4) && reader.u32(pos) == 0) {
    pos += 4;
    record.terminal_block = true;
  } else if (walked) {
    note_damage(record, ExtraDataDamage::no_terminal_block, pos, 0, 0);
  }
  record.parsed_size = static_cast<uint32_t>(pos);
  return true;
}

}  // namespace lnk
