// Any bytes through both jump-list readers and the text writer.
#include <cstdint>
#include <sstream>
#include <vector>

#include "core/options.h"
#include "jumplist/jumplist_records.h"
#include "report/record_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // Short inputs are padded as the file scan pads a jump list read past its end.
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() < 4096) bytes.resize(4096, 0);
  lnk::useropts options;
  std::ostringstream out;
  lnk::OutputSink sink_out(out);
  lnk::RecordWriter writer(sink_out, options);
  const lnk::RecordSink sink = [&](const lnk::LnkRecord& record, const lnk::ParsedBytes&) {
    writer.write(record, lnk::SourceInfo{});
  };
  lnk::classify_jump_list(std::span<const uint8_t>(data, size));
  lnk::carve_jump_list_records(bytes, lnk::JumpListPlacement{}, sink);
  lnk::carve_custom_destinations(std::span<const uint8_t>(data, size), lnk::JumpListPlacement{}, sink);
  return 0;
}
