// Any bytes through the compound-file reader and its stream and slack split.
#include <cstdint>
#include <vector>

#include "jumplist/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::CompoundFile file;
  if (!lnk::parse_compound_file(file, data, size)) return 0;
  std::vector<uint8_t> allocated, slack;
  lnk::stream_sectors_and_slack(file, allocated, slack, data, size);
  return 0;
}
