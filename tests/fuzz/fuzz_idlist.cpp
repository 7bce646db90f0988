// libFuzzer target: any bytes as an IDList, walked, rendered and broken out.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

#include "report/idlist_breakout.h"
#include "shellitems/idlist.h"
#include "shellitems/render_idlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFF) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  lnk::useropts options;
  lnk::DecodeContext context;
  std::vector<lnk::ShellItem> items;
  lnk::walk_idlist(items, bytes.data(), static_cast<uint32_t>(bytes.size()), context, options);
  std::string path, notes_text;
  std::vector<std::string> notes;
  uint64_t modified = 0, accessed = 0, created = 0;
  lnk::render_idlist(path, notes_text, notes, modified, accessed, created, options, items);
  std::ostringstream out;
  lnk::write_idlist_breakout(out, items, options);
  return 0;
}
