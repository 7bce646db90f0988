// libFuzzer target: any bytes as an IDList, walked, settled, rendered and
// broken out; and as a serialized property store, then its listing and notes.
#include <cstddef>
#include <cstdint>
#include <set>
#include <sstream>
#include <vector>

#include "core/options.h"
#include "report/idlist_breakout.h"
#include "report/property_text.h"
#include "report/render_idlist.h"
#include "shellitems/idlist.h"
#include "shellitems/item_settle.h"
#include "shellitems/property_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFF) return 0;
  lnk::useropts options;
  lnk::DecodeContext context;
  std::vector<lnk::ShellItem> items;
  lnk::walk_idlist(items, lnk::ByteReader(data, size), context);
  lnk::settle_items(items);
  lnk::RenderedIdList rendered;
  lnk::render_idlist(items, options, rendered);
  std::ostringstream out;
  lnk::write_idlist_breakout(out, items, rendered, options);

  lnk::DecodeContext store_context;
  lnk::PropertyMap properties;
  lnk::parse_property_store(properties, lnk::ByteReader(data, size), store_context);
  std::vector<std::string> names, values;
  lnk::list_properties(properties, names, values, options);
  std::vector<lnk::ShellItem> holder(1);
  holder[0].property_map_first = properties;
  lnk::settle_items(holder);
  std::vector<std::string> notes;
  std::set<std::string> added;
  lnk::describe_item_properties(holder[0], notes, added, options);
  std::string fallback;
  lnk::property_item_name(holder[0], fallback);
  return 0;
}
