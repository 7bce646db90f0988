// Decoders for the kinds of ItemID, chosen by the class byte at +2. Each
// gets the bytes from the item's start to the end of the IDList and the
// item's size; the context position is at the item's start.
#pragma once

#include <cstdint>
#include <span>

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

struct ItemBytes {
  ByteReader rest;       // item start to the end of the input
  ByteReader item;       // exactly the item (clipped to rest)
  uint16_t size = 0;     // the item's size field
};

// The 94-byte layout: two counted UTF-16 names after fixed fields.
bool layout94_matches(const ByteReader& item);
void decode_layout94(ShellItem& item, const ByteReader& bytes);

bool decode_file_entry(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_root_folder(ShellItem& item, const ItemBytes& in, bool may_repair,
                        DecodeContext& context);
bool decode_root_with_idlist(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_root_extension(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_volume(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_plain_network(ShellItem& item, const ItemBytes& in);
bool decode_network(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_control_panel_category(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_item_02(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_item_52(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_uri(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_item_64(ShellItem& item, const ItemBytes& in);
bool decode_control_panel_item(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_delegate(ShellItem& item, const ItemBytes& in, DecodeContext& context);
bool decode_variable_item(ShellItem& item, const ItemBytes& in, bool keep_raw,
                          DecodeContext& context);

}  // namespace lnk
