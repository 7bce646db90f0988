// Any bytes as one MFT record: fixups, the attribute walk, run lists, names,
// attribute lists and index nodes inside it, and the one-pass summary.
#include <cstdint>
#include <set>
#include <vector>

#include "ntfs/mft_entry.h"
#include "ntfs/mft_record.h"
#include "ntfs/path_lookup.h"
#include "ntfs/record_summary.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (64u << 10)) return 0;
  for (uint32_t sector : {512u, 4096u}) {
    std::vector<uint8_t> record(data, data + size);
    lnk::apply_fixups(record, sector);
    lnk::RecordSummary summary;
    lnk::summarize_record(record, summary);
    lnk::MftEntry entry;
    lnk::AttributeWalker walker(record);
    lnk::AttributeView a;
    while (walker.next(a)) {
      if (!lnk::parse_attribute(a, 0, entry)) break;
      if (a.type == lnk::kAttrAttributeList && !a.non_resident) {
        lnk::AttributeListWalker list(a.value);
        lnk::AttributeListEntry item;
        while (list.next(item)) {
        }
      }
      if (a.type == lnk::kAttrIndexRoot && a.value.size() > 16) {
        std::set<uint64_t> children;
        lnk::walk_index_node(a.value.subspan(16), children);
      }
    }
    entry.preferred_name();
  }
  return 0;
}
