#include "ntfs/record_summary.h"

namespace lnk {

bool summarize_record(std::span<const uint8_t> record, RecordSummary& out) {
  out = RecordSummary{};
  if (!decode_record_header(record, out.header)) return false;
  AttributeWalker walker(record);
  AttributeView a;
  while (walker.next(a) && a.well_formed) {
    switch (a.type) {
      case kAttrStandardInformation:
        if (!a.non_resident && !out.has_standard_information)
          out.has_standard_information = decode_standard_information(a.value, out.standard_information);
        break;
      case kAttrAttributeList:
        out.has_attribute_list = true;
        break;
      case kAttrFileName: {
        FileName name;
        if (!a.non_resident) ++out.name_count;
        if (out.has_name || a.non_resident || !decode_file_name(a.value, name)) break;
        if (name.name_space == kNameSpaceDos) {
          out.has_dos_name_only = true;
          break;
        }
        out.name = std::move(name);
        out.has_name = true;
        out.has_dos_name_only = false;
        break;
      }
      case kAttrReparsePoint:
        out.has_reparse_point = true;
        break;
      case kAttrData:
        if (a.named()) out.has_named_data = true;
        if (a.named() || out.has_data || (a.non_resident && a.lowest_vcn != 0)) break;
        out.has_data = true;
        out.data_resident = !a.non_resident;
        out.data_flags = a.flags;
        out.data_size = a.non_resident ? a.real_size : a.value.size();
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace lnk
