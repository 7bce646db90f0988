// Any bytes through the shortcut parser and the text writer.
#include <cstdint>
#include <sstream>
#include <vector>

#include "core/options.h"
#include "lnk/parse_lnk.h"
#include "report/record_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::useropts options;
  options.multiline = true;
  options.progress = false;
  options.idltimes = true;
  lnk::LnkRecord record;
  if (lnk::parse_lnk_record(record, std::span<const uint8_t>(data, size), 0)) {
    std::ostringstream out;
    lnk::RecordWriter(out, options).write(record, lnk::SourceInfo{});
  }
  return 0;
}
