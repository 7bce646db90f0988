// Any bytes through the compound-file reader: streams and slack, every
// piece inside the bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "jumplist/compound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::CompoundFile file;
  if (!lnk::parse_compound_file(file, data, size)) return 0;
  auto inside = [size](const std::vector<lnk::FileRun>& runs) {
    for (const lnk::FileRun& run : runs)
      if (run.offset > size || run.length > size - run.offset) std::abort();
  };
  for (const lnk::CfbDirectoryEntry& entry : file.entries) inside(lnk::stream_runs(file, entry, size));
  const lnk::CfbSlack found = lnk::find_slack(file, size);
  inside(found.sectors);
  inside(found.mini_sectors);
  return 0;
}
