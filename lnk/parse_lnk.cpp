#include "lnk/parse_lnk.h"

#include <span>

#include "lnk/extra_blocks.h"
#include "lnk/link_info.h"
#include "lnk/newline_rule.h"
#include "lnk/record_dump.h"
#include "lnk/string_data.h"
#include "platform/text.h"
#include "shellitems/idlist.h"
#include "shellitems/render_idlist.h"

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
  record.idlist_path.clear();
  record.idlist_extra_info.clear();
  record.idlist_extra_list.clear();
  record.idlist_modify_time = record.idlist_access_time = record.idlist_create_time = 0;
  record.target_mft_entry = 0;
  record.target_mft_seq = 0;
}

void decode_idlist(LnkRecord& record, std::span<uint8_t> items, uint64_t position,
                   useropts& options) {
  DecodeContext context;
  context.position = position;
  try {
    if (!walk_idlist(record.shell_items, items.data(), static_cast<uint32_t>(items.size()),
                     context, options) ||
        record.shell_items.empty()) {
      return;
    }
    render_idlist(record.idlist_path, record.idlist_extra_info, record.idlist_extra_list,
                  record.idlist_modify_time, record.idlist_access_time, record.idlist_create_time,
                  options, record.shell_items);
    record.target_mft_entry = record.shell_items.back().mft_entry;
    record.target_mft_seq = record.shell_items.back().mft_seq;
    record.idlist_path = one_line_text(std::move(record.idlist_path), "<corrupted>");
    record.idlist_extra_info = one_line_text(std::move(record.idlist_extra_info));
  } catch (...) {
    // A failed decode (a huge allocation, say) counts as an IDList without items.
    clear_idlist_fields(record);
  }
}

// Reads the LinkTargetIDList and moves pos past it; false rejects the record.
bool read_idlist(LnkRecord& record, std::span<uint8_t> whole, const ByteReader& bytes,
                 uint64_t record_offset, useropts& options, uint64_t& pos) {
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
  decode_idlist(record, whole.subspan(kIdListStart, items_size), record_offset + kIdListStart,
                options);
  // IDListSize has been checked, so the sections after it are found from it
  // even when no item could be decoded.
  pos = kIdListStart + idlist_size;
  return true;
}

void walk_extra_data(LnkRecord& record, const ByteReader& bytes, uint64_t record_offset,
                     useropts& options, uint64_t& pos) {
  const uint64_t length = bytes.size();
  // Every step moves at least kExtraBlockHeader bytes, which bounds the walk.
  while (pos + kExtraBlockHeader < length) {
    uint64_t rest = length - pos;
    uint64_t block_size = bytes.u16(pos);
    if (rest < kExtraBlockHeader || block_size < kExtraBlockHeader || block_size > rest ||
        pos + block_size >= length || bytes.u8(pos + 2) != 0) {
      return;
    }
    uint32_t block_position = static_cast<uint32_t>(pos);
    bool taken = decode_extra_block(record, bytes.tail(pos), block_position, record_offset, options);
    // A carriage return in an environment path marks a block overwritten by
    // other data; nothing after it can be trusted.
    if (taken && record.block_offsets[kBlockEnvironment] == block_position &&
        record.env_target.find('\r') != std::string::npos) {
      record.env_target.clear();
      return;
    }
    pos += block_size;
  }
}

}  // namespace

bool parse_lnk_record(LnkRecord& record, uint8_t* bytes, uint32_t length, useropts& options,
                      uint64_t record_offset) {
  if (bytes == nullptr || length < kHeaderBytes) return false;
  std::span<uint8_t> whole(bytes, length);
  ByteReader reader(whole);
  if (length <= kHeaderBytes || reader.u32(0) != kHeaderSize || reader.guid(4) != kLinkClsid) {
    return false;
  }
  read_header(record.header, reader);
  if (length < kMinRecordBytes) return false;
  uint64_t pos = kHeaderBytes;

  if ((record.header.link_flags & kHasLinkTargetIdList) != 0 &&
      !read_idlist(record, whole, reader, record_offset, options, pos)) {
    return false;
  }
  if ((record.header.link_flags & kHasLinkInfo) != 0) read_link_info(record, reader, pos);
  if (read_string_data(record, reader, pos)) walk_extra_data(record, reader, record_offset, options, pos);

  if (reader.has(pos, 4) && reader.u32(pos) == 0) pos += 4;
  record.parsed_size = static_cast<uint32_t>(pos);

  if (!options.carve_dump_dir.empty()) {
    dump_record(options.carve_dump_dir, options.carve_dump_count, record_offset,
                whole.first(record.parsed_size));
  }
  return true;
}

}  // namespace lnk
