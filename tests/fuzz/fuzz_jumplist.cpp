// Any bytes through both jump-list readers and the text writer.
#include <cstdint>
#include <sstream>
#include <vector>

#include "cmdline/useropts.h"
#include "jumplist/jumplist.h"
#include "jumplist/jumplist_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  lnk::useropts options;
  options.progress = false;
  std::ostringstream out;
  lnk::classify_jump_list(bytes.data(), bytes.size());
  lnk::carve_jump_list(out, bytes.data(), bytes.size(), options, false);
  lnk::carve_custom_destinations(bytes.data(), bytes.size(), options, false, [](lnk::LnkRecord&) {});
  return 0;
}
