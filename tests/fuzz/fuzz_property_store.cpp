// Any bytes as a serialized property store, then its listing and notes.
#include <cstdint>
#include <set>
#include <vector>

#include "core/options.h"
#include "report/property_text.h"
#include "shellitems/item_settle.h"
#include "shellitems/property_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::useropts options;
  lnk::DecodeContext context;
  lnk::PropertyMap properties;
  lnk::parse_property_store(properties, lnk::ByteReader(data, size), context);
  std::vector<std::string> names, values;
  lnk::list_properties(properties, names, values, options);
  std::vector<lnk::ShellItem> items(1);
  items[0].property_map_first = properties;
  lnk::settle_items(items);
  std::vector<std::string> notes;
  std::set<std::string> added;
  lnk::describe_item_properties(items[0], notes, added, options);
  std::string fallback;
  lnk::property_item_name(items[0], fallback);
  return 0;
}
