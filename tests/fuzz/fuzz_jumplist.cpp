// Any bytes through the jump-list readers: the compound-file reader (streams
// and slack, every piece inside the bytes), the DestList decoder (entries
// inside the bytes), both carvers and the text writer.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "core/options.h"
#include "jumplist/compound_file.h"
#include "jumplist/destlist.h"
#include "jumplist/jumplist_records.h"
#include "report/record_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  lnk::CompoundFile file;
  if (lnk::parse_compound_file(file, data, size)) {
    auto inside = [size](const std::vector<lnk::FileRun>& runs) {
      for (const lnk::FileRun& run : runs)
        if (run.offset > size || run.length > size - run.offset) std::abort();
    };
    for (const lnk::CfbDirectoryEntry& entry : file.entries) inside(lnk::stream_runs(file, entry, size));
    const lnk::CfbSlack found = lnk::find_slack(file, size);
    inside(found.sectors);
    inside(found.mini_sectors);
  }
  lnk::DestList list;
  if (lnk::decode_destlist(lnk::ByteReader(data, size), list)) {
    if (list.entries.size() > list.entry_count) std::abort();
    for (const lnk::DestListEntry& entry : list.entries)
      if (entry.stream_offset >= size) std::abort();
  }

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
