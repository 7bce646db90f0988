// Any bytes as a serialized property store, then its listing.
#include <cstdint>
#include <vector>

#include "core/options.h"
#include "shellitems/property_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  lnk::useropts options;
  lnk::DecodeContext context;
  lnk::PropertyMap properties;
  lnk::parse_property_store(properties, lnk::ByteReader(bytes), context, options);
  std::vector<std::string> names, values;
  lnk::list_properties(properties, names, values, options);
  lnk::ShellItem item;
  item.property_map_first = properties;
  std::vector<std::string> notes;
  std::set<std::string> added;
  lnk::describe_item_properties(item, notes, added, options);
  std::string fallback;
  lnk::property_item_name(item, fallback);
  return 0;
}
