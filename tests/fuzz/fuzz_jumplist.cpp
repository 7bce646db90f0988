// Any bytes through the jump-list carver and the text writer.
#include <cstdint>
#include <sstream>
#include <vector>

#include "core/options.h"
#include "jumplist/jumplist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // Short inputs are padded as the file scan pads a jump list read past its end.
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() < 4096) bytes.resize(4096, 0);
  lnk::useropts options;
  options.progress = false;
  std::ostringstream out;
  lnk::carve_jump_list(out, bytes.data(), bytes.size(), options, false);
  return 0;
}
