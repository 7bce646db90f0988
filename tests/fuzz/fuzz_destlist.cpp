// Any bytes through the DestList decoder, whose entries must stay inside them.
#include <cstdint>
#include <cstdlib>

#include "jumplist/destlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lnk::DestList list;
  if (!lnk::decode_destlist(lnk::ByteReader(data, size), list)) return 0;
  if (list.entries.size() > list.entry_count) std::abort();
  for (const lnk::DestListEntry& entry : list.entries)
    if (entry.stream_offset >= size) std::abort();
  return 0;
}
