// One decoded ItemID of an IDList, and the running state of one decode.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "platform/byte_reader.h"

namespace lnk {

struct ShellItem;

// A note an item carries into the report: a text, or a label followed by an
// instant that the writer prints in the run's date and time formats.
struct ItemNote {
  std::string text;
  uint64_t filetime = 0;
  bool timed = false;
  bool operator==(const ItemNote&) const = default;
};

// One decoded value of a serialized property store.
struct Property {
  Guid fmtid{};
  uint32_t pid = 0;
  std::string name;          // display name from the table, or the string-set name
  bool string_named = false; // from the string-named set
  uint16_t vartype = 0;
  uint64_t table_flags = 0;  // flags of the property-name table row
  std::string text;          // text values
  uint64_t number = 0;       // integer and FILETIME values
  double real = 0;           // VT_DATE and floating values
  std::vector<uint8_t> bytes;
  uint64_t bytes_offset = 0;  // where bytes start in the value, counted from the VARTYPE
  std::vector<std::string> vector_texts;  // VT_VECTOR elements rendered as text
  std::vector<std::vector<ShellItem>> idlists;  // IDLists found inside the value
  uint8_t name_role = 0;     // PropertyNameRole of the table row: names an unnamed item
  bool in_table = false;     // the property-name table knows (fmtid, pid)
  bool is_vector = false;    // VT_VECTOR: values are in vector_texts (bytes for VT_UI1)
};

// Ordered by an internal key that keeps decode order.
using PropertyMap = std::map<std::string, Property>;

// The header of one extension block (0xBEEFxxxx) an item carried.
struct ExtensionBlockInfo {
  uint64_t position = 0;  // in the source, like ShellItem::item_position
  uint16_t size = 0;
  uint16_t version = 0;
  uint32_t signature = 0;
  bool operator==(const ExtensionBlockInfo&) const = default;
};

struct ShellItem {
  std::vector<Guid> guids;
  std::vector<std::string> guid_names;
  std::vector<std::string> names;
  std::string short_name;
  std::string name;
  std::string extra_name_a;
  std::string extra_name_b;
  uint32_t file_size = 0;
  std::vector<ItemNote> extra_list;
  PropertyMap property_map_first;
  PropertyMap property_map_second;
  uint64_t modify_time = 0;
  uint64_t access_time = 0;
  uint64_t create_time = 0;
  bool is_folder = false;
  bool unknown = false;
  uint64_t mft_entry = 0;
  uint16_t mft_seq = 0;
  uint16_t class_type = 0xFFFF;
  uint64_t item_position = 0;
  std::vector<uint8_t> raw_bytes;
  std::vector<ShellItem> children;
  std::vector<std::vector<ShellItem>> embedded_idlists;
  uint64_t flags = 0;
  // A root folder item stored shorter than its GUID is read, as Windows
  // reads it, as 20 bytes; the walk steps by this size instead of the stored one.
  uint16_t repaired_size = 0;
  std::vector<ExtensionBlockInfo> extension_blocks;
  // The texts of this item (name, short name, names, extra names) that were
  // read from ANSI bytes, each byte taken as the character of the same
  // number; only those with a byte above 0x7F are listed. The writers map
  // them back to bytes and decode them by code page.
  std::vector<std::string> ansi_texts;
};

struct DecodeContext {
  uint64_t position = 0;
  std::ostream* dump_stream = nullptr;
  bool dump_enabled = false;
  // Nesting depth, bounded so a crafted item cannot recurse without end.
  uint32_t depth = 0;
  // Items and lists decoded so far, bounded so crafted nesting cannot make
  // the decode take exponential time.
  uint32_t work = 0;
};

}  // namespace lnk
