#include "lnk/extra_blocks.h"

#include <vector>

#include "lnk/darwin_block.h"
#include "lnk/names.h"
#include "lnk/tracker_block.h"
#include "platform/text.h"
#include "shellitems/guid_names.h"
#include "shellitems/idlist.h"
#include "shellitems/item_settle.h"
#include "shellitems/property_store.h"

namespace lnk {
namespace {

constexpr uint64_t kBlockSignatureOffset = 4;
constexpr uint64_t kBlockSignatureLowOffset = 4;
constexpr uint64_t kBlockSignatureHighOffset = 6;
constexpr uint64_t kBlockSizeHighByteOffset = 2;
constexpr uint64_t kBlockDataOffset = 8;
constexpr uint16_t kShellLinkBlockHigh = 0xA000;
constexpr uint32_t kVistaIdListSignature = 0xA000000C;

// EnvironmentVariable, IconEnvironment and Darwin blocks share this layout.
constexpr uint64_t kTargetAnsiOffset = 8;
constexpr uint64_t kTargetAnsiSize = 260;
constexpr uint64_t kTargetUnicodeOffset = 268;
constexpr uint64_t kTargetUnicodeSize = 520;
constexpr uint64_t kTargetUnicodeHighByte = 269;

constexpr uint64_t kSpecialFolderIdOffset = 8;
constexpr uint64_t kSpecialFolderOffsetField = 12;
constexpr uint64_t kKnownFolderOffsetField = 24;
constexpr uint64_t kCodePageOffset = 8;
constexpr uint64_t kKnownFolderIdOffset = 8;
constexpr uint64_t kBareFormatIdOffset = 8;
constexpr uint64_t kShimLayerOffset = 8;
constexpr uint64_t kShimLayerHighByte = 9;
constexpr uint64_t kShimLayerMaxBytes = 1000;

// Storages inside a PropertyStoreDataBlock are smaller than this.
constexpr uint32_t kBlockStorageLimit = 16384;
constexpr uint64_t kMaxBlockStorages = 1024;

std::string environment_target(const ByteReader& block, bool& ansi) {
  std::string target = block.utf16z(kTargetUnicodeOffset, kTargetUnicodeSize);
  ansi = target.empty();
  if (ansi) target = block.ansiz(kTargetAnsiOffset, kTargetAnsiSize);
  return target;
}

std::string icon_environment_target(const ByteReader& block, bool& ansi) {
  // A non-zero high byte in the first character means the Unicode field holds
  // no UTF-16 text; Windows then relies on the ANSI field.
  ansi = block.u8(kTargetUnicodeHighByte) != 0;
  if (ansi) return block.ansiz(kTargetAnsiOffset, kTargetAnsiSize);
  return block.utf16z(kTargetUnicodeOffset, kTargetUnicodeSize);
}

// ConsoleDataBlock fields, from the block's start.
void decode_console_block(ConsoleSettings& console, const ByteReader& block) {
  console.fill_attributes = block.u16(8);
  console.popup_fill_attributes = block.u16(10);
  console.screen_buffer_size_x = static_cast<int16_t>(block.u16(12));
  console.screen_buffer_size_y = static_cast<int16_t>(block.u16(14));
  console.window_size_x = static_cast<int16_t>(block.u16(16));
  console.window_size_y = static_cast<int16_t>(block.u16(18));
  console.window_origin_x = static_cast<int16_t>(block.u16(20));
  console.window_origin_y = static_cast<int16_t>(block.u16(22));
  console.font_size = block.u32(32);
  console.font_family = block.u32(36);
  console.font_weight = block.u32(40);
  console.face_name = block.utf16z(44, 64);
  console.cursor_size = block.u32(108);
  console.full_screen = block.u32(112);
  console.quick_edit = block.u32(116);
  console.insert_mode = block.u32(120);
  console.auto_position = block.u32(124);
  console.history_buffer_size = block.u32(128);
  console.number_of_history_buffers = block.u32(132);
  console.history_no_dup = block.u32(136);
  for (size_t i = 0; i < console.color_table.size(); ++i) console.color_table[i] = block.u32(140 + 4 * i);
}

std::string shim_layer(const ByteReader& block) {
  if (block.u8(kShimLayerHighByte) != 0) return {};
  return block.utf16z(kShimLayerOffset, kShimLayerMaxBytes);
}

// The storages the block walk accepts: each size non-zero, below the limit and
// smaller than what is left.
uint64_t block_storage_length(const ByteReader& storages) {
  uint64_t pos = 0;
  for (uint64_t n = 0; n < kMaxBlockStorages && storages.has(pos, 4); ++n) {
    uint32_t size = storages.u32(pos);
    if (size == 0 || size >= kBlockStorageLimit || size >= storages.size() - pos) break;
    pos += size;
  }
  return pos;
}

void decode_property_store_block(LnkRecord& record, const ByteReader& block,
                                 uint64_t block_position) {
  ByteReader storages = block.tail(kBlockDataOffset);
  storages = storages.sub(0, block_storage_length(storages));
  DecodeContext context;
  context.position = block_position + kBlockDataOffset;
  record.property_store.clear();
  parse_property_store(record.property_store, storages, context);
}

void decode_vista_idlist(LnkRecord& record, const ByteReader& block, uint64_t block_position) {
  DecodeContext context;
  context.position = block_position + kBlockDataOffset;
  std::vector<ShellItem> items;
  if (!walk_idlist(items, block.tail(kBlockDataOffset), context) || items.empty()) return;
  settle_items(items);
  record.vista_shell_items = std::move(items);
}

}  // namespace

bool decode_extra_block(LnkRecord& record, ByteReader block, uint32_t block_position) {
  return decode_extra_block(record, block, block_position, record.lnk_offset);
}

bool decode_extra_block(LnkRecord& record, ByteReader block, uint32_t block_position,
                        uint64_t record_offset) {
  const uint64_t absolute_position = record_offset + block_position;
  if (!block.has(0, kBlockDataOffset)) return false;
  const uint16_t size = block.u16(0);
  const uint16_t low = block.u16(kBlockSignatureLowOffset);
  const bool shell_link_block = block.u16(kBlockSignatureHighOffset) == kShellLinkBlockHigh &&
                                block.u8(kBlockSizeHighByteOffset) == 0;
  if (block.size() < size) return false;
  const ByteReader data = block.sub(0, size);
  auto take = [&](BlockSlot slot) {
    record.block_offsets[slot] = block_position;
    return true;
  };

  if (shell_link_block) {
    if (low == 1 && size == 788) {
      bool ansi = false;
      record.env_target = environment_target(data, ansi);
      if (ansi) record.ansi_texts |= kAnsiEnvTarget;
      return take(kBlockEnvironment);
    }
    if (low == 2 && size == 204) {
      decode_console_block(record.console, data);
      return take(kBlockConsole);
    }
    if (low == 3 && size == 96) {
      decode_tracker_block(record, data);
      return take(kBlockTracker);
    }
    if (low == 4 && size == 12) {
      record.code_page = data.u32(kCodePageOffset);
      return take(kBlockConsoleFe);
    }
    if (low == 5 && size >= 16) {
      record.special_folder_id = data.u32(kSpecialFolderIdOffset);
      record.special_folder_offset = data.u32(kSpecialFolderOffsetField);
      record.special_folder_name = csidl_text(static_cast<int32_t>(record.special_folder_id));
      return take(kBlockSpecialFolder);
    }
    if (low == 6 && size == 788) {
      decode_darwin_block(record, data);
      return take(kBlockDarwin);
    }
    if (low == 7 && size == 788) {
      bool ansi = false;
      record.icon_env_target = icon_environment_target(data, ansi);
      if (ansi) record.ansi_texts |= kAnsiIconEnvTarget;
      return take(kBlockIconEnvironment);
    }
    if (low == 8 && size >= 136) {
      record.shim_layer = shim_layer(data);
      return take(kBlockShim);
    }
    if (low == 9 && size >= 46) {
      decode_property_store_block(record, data, absolute_position);
      return take(kBlockPropertyStore);
    }
  }
  if (size >= 24 && block.u32(kBlockSignatureOffset) == kPropertyStorageVersion) {
    bool known = false;
    record.storage_format_name = lookup_guid_name(data.guid(kBareFormatIdOffset), known);
    return take(kBlockBarePropertyStorage);
  }
  if (shell_link_block && low == 11 && size >= 28) {
    record.known_folder_id = guid_text(data.guid(kKnownFolderIdOffset));
    record.known_folder_offset = data.u32(kKnownFolderOffsetField);
    return take(kBlockKnownFolder);
  }
  const uint32_t full_size = block.u32(0);
  if (full_size >= 8 && full_size <= block.size() &&
      block.u32(kBlockSignatureOffset) == kVistaIdListSignature) {
    decode_vista_idlist(record, block.sub(0, full_size), absolute_position);
    return take(kBlockVistaIdList);
  }
  return false;
}

}  // namespace lnk
