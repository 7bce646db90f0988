// One decoded shortcut record and where it came from.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shellitems/shell_item.h"

namespace lnk {

enum class JumplistKind { none, with_destlist, without_destlist };

// Slots of LnkRecord::block_offsets, one per recognised extra data block.
enum BlockSlot {
  kBlockEnvironment,
  kBlockConsole,
  kBlockTracker,
  kBlockConsoleFe,
  kBlockSpecialFolder,
  kBlockDarwin,
  kBlockIconEnvironment,
  kBlockShim,
  kBlockPropertyStore,
  kBlockBarePropertyStorage,
  kBlockKnownFolder,
  kBlockVistaIdList,
  kBlockSlotCount
};

// Texts of a LnkRecord that hold ANSI bytes as stored (LnkRecord::ansi_texts):
// the writers decode them by code page.
enum AnsiText : uint32_t {
  kAnsiVolumeLabel = 1u << 0,
  kAnsiNetName = 1u << 1,
  kAnsiDeviceName = 1u << 2,
  kAnsiLocalBasePath = 1u << 3,
  kAnsiCommonPathSuffix = 1u << 4,
  kAnsiNameString = 1u << 5,
  kAnsiRelativePath = 1u << 6,
  kAnsiWorkingDir = 1u << 7,
  kAnsiArguments = 1u << 8,
  kAnsiIconLocation = 1u << 9,
  kAnsiEnvTarget = 1u << 10,
  kAnsiIconEnvTarget = 1u << 11,
  kAnsiMachineId = 1u << 12,
  kAnsiDarwin = 1u << 13,  // darwin_descriptor and darwin_feature
};

// The ConsoleDataBlock's settings, as stored.
struct ConsoleSettings {
  uint16_t fill_attributes = 0;
  uint16_t popup_fill_attributes = 0;
  int16_t screen_buffer_size_x = 0;
  int16_t screen_buffer_size_y = 0;
  int16_t window_size_x = 0;
  int16_t window_size_y = 0;
  int16_t window_origin_x = 0;
  int16_t window_origin_y = 0;
  uint32_t font_size = 0;
  uint32_t font_family = 0;
  uint32_t font_weight = 0;
  std::string face_name;
  uint32_t cursor_size = 0;
  uint32_t full_screen = 0;
  uint32_t quick_edit = 0;
  uint32_t insert_mode = 0;
  uint32_t auto_position = 0;
  uint32_t history_buffer_size = 0;
  uint32_t number_of_history_buffers = 0;
  uint32_t history_no_dup = 0;
  std::array<uint32_t, 16> color_table{};
};

// A StringData count beyond what Windows reads: Windows stops at the limit
// and reads the next string from there, so the text the count claims is
// kept here, where it cannot hide the strings after it.
struct StringOverrun {
  uint8_t slot = 0;  // 0 description .. 4 icon location
  uint16_t claimed = 0;
  std::string claimed_text;
  // The string ran past the bytes there are, and the strings and blocks
  // after it were not read.
  bool past_end = false;
};

// An extra data block Windows would not have written, or the place where
// the walk over the blocks stopped short of its TerminalBlock.
struct ExtraDataDamage {
  enum Kind { size_past_data, unknown_signature, undecodable, no_terminal_block };
  Kind kind = size_past_data;
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t signature = 0;
};

// Bytes of a shortcut file after its TerminalBlock.
struct AppendedData {
  uint64_t offset = 0;
  uint64_t size = 0;
  std::string sha256;
  std::string kind;
};

// The 76 bytes of the ShellLinkHeader, as stored.
struct LinkHeader {
  uint32_t header_size = 0;
  Guid link_clsid{};
  uint32_t link_flags = 0;
  uint32_t file_attributes = 0;
  uint64_t creation_time = 0;
  uint64_t access_time = 0;
  uint64_t write_time = 0;
  uint32_t file_size = 0;
  int32_t icon_index = 0;
  uint32_t show_command = 0;
  uint16_t hot_key = 0;
  uint16_t reserved1 = 0;
  uint32_t reserved2 = 0;
  uint32_t reserved3 = 0;
};

// What a jump list's DestList entry says of the shortcut it names, beside
// what the shortcut itself holds.
struct DestListData {
  bool present = false;     // the record was joined to an entry
  int32_t pin_status = -1;  // -1 unpinned, otherwise the pin position
  bool has_access_count = false;
  uint32_t access_count = 0;
  // Object identifiers as GUID texts, empty when zero.
  std::string volume_id;
  std::string object_id;
  std::string birth_volume_id;
  std::string birth_object_id;
};

struct LnkRecord {
  // Provenance set by the producer before the writer runs.
  std::string source_type;
  std::string artifact = "LNK";
  uint64_t lnk_offset = 0;
  JumplistKind jumplist_kind = JumplistKind::none;
  uint32_t mru_index = 0;
  uint64_t stream_number = 0;
  uint64_t mru_time = 0;
  bool from_slack = false;
  std::string destlist_netbios;
  // The path the jump list's DestList entry names for this record.
  std::string destlist_path;
  DestListData destlist;
  // No shortcut stream holds this DestList entry (or none that parses): the
  // record carries the DestList's data alone.
  bool destlist_only = false;

  LinkHeader header;
  uint32_t parsed_size = 0;

  // The LinkTargetIDList's items; the writers render their path and notes.
  std::vector<ShellItem> shell_items;
  // The last item's times.
  uint64_t idlist_modify_time = 0;
  uint64_t idlist_access_time = 0;
  uint64_t idlist_create_time = 0;
  uint64_t target_mft_entry = 0;
  uint16_t target_mft_seq = 0;

  // LinkInfo
  uint32_t link_info_flags = 0;
  uint32_t volume_id_offset = 0;
  uint32_t drive_type_code = 0;
  uint32_t drive_serial_number = 0;
  std::string volume_label;
  std::string volume_serial;
  std::string drive_type;
  uint32_t net_link_offset = 0;
  std::string net_name;
  std::string device_name;
  uint32_t local_base_path_offset = 0;
  uint32_t common_path_suffix_offset = 0;
  std::string local_base_path;
  std::string common_path_suffix;

  // StringData: name, relative path, working dir, arguments, icon.
  std::array<uint32_t, 5> string_offsets{};
  std::string name_string;
  std::string relative_path;
  std::string working_dir;
  std::string command_line_arguments;
  std::string icon_location;

  // ExtraData
  std::array<uint32_t, kBlockSlotCount> block_offsets{};
  std::string env_target;
  std::string machine_id;
  std::string droid_volume_id;
  std::string droid_object_id;
  std::string birth_droid_volume_id;
  std::string birth_droid_object_id;
  Guid droid_object_id_raw{};
  std::string droid_mac;
  std::string birth_droid_mac;
  uint64_t droid_time = 0;
  uint64_t birth_droid_time = 0;
  uint32_t code_page = 0;
  ConsoleSettings console;
  uint32_t special_folder_id = 0;
  uint32_t special_folder_offset = 0;
  std::string special_folder_name;
  // The whole descriptor as stored (UTF-16, or the ANSI field's bytes).
  std::string darwin_descriptor;
  std::string darwin_product;
  std::string darwin_feature;
  std::string darwin_component;
  std::string icon_env_target;
  std::string shim_layer;
  PropertyMap property_store;
  std::string storage_format_name;
  std::string known_folder_id;
  uint32_t known_folder_offset = 0;
  std::vector<ShellItem> vista_shell_items;

  // Which of the texts above hold ANSI bytes (AnsiText bits).
  uint32_t ansi_texts = 0;

  // What the bytes hold beyond what Windows reads.
  std::vector<StringOverrun> string_overruns;
  std::vector<ExtraDataDamage> extra_data_damage;
  bool terminal_block = false;
  // Set by the file producer for a shortcut that is a whole file.
  AppendedData appended;
};

}  // namespace lnk
