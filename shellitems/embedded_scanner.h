// Structures embedded in shell items under signatures of their own (CFSF,
// text records, AugM, GUID and named records, item holders), and the search
// for a whole item hidden inside another.
#pragma once

#include <vector>

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

// Scans region (the context position is at its start) and merges what it
// recognises into item. Serialized property storages are parsed into the
// first property map, or, when storages is given, only collected there.
// True when the last structure handled was recognised.
bool scan_embedded_structures(ShellItem& item, ByteReader region, DecodeContext& context,
                              std::vector<ByteReader>* storages = nullptr);

// Looks for an extension block inside an item nothing else understood and
// decodes the item that ends with it; true when that decoding succeeded.
bool search_embedded_item(ShellItem& item, ByteReader item_bytes, DecodeContext& context);

}  // namespace lnk
