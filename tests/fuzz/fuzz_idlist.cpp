// libFuzzer target: any bytes as an IDList, walked, settled, rendered and broken out.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "report/idlist_breakout.h"
#include "report/render_idlist.h"
#include "shellitems/idlist.h"
#include "shellitems/item_settle.h"

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
  return 0;
}
