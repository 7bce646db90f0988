#include "report/record_values.h"

#include "report/time_value.h"

namespace lnk {
namespace {

// A zero header time is common for shortcuts to folders and shell objects;
// the IDList's last item often still carries the times.
uint64_t time_with_fallback(uint64_t header_time, uint64_t idlist_time) {
  if (header_time != 0) return header_time;
  return TimeValue::from_filetime(idlist_time).valid ? idlist_time : 0;
}

}  // namespace

RecordValues derive_record_values(const LnkRecord& record, const useropts& options) {
  RecordValues values;
  for (const std::string* candidate :
       {&record.idlist_path, &record.vista_idlist_path, &record.env_target,
        &record.relative_path, &record.icon_location}) {
    if (!candidate->empty()) {
      values.target_name = *candidate;
      break;
    }
  }
  values.target_modified = time_with_fallback(record.header.write_time, record.idlist_modify_time);
  values.target_accessed = time_with_fallback(record.header.access_time, record.idlist_access_time);
  values.target_created = time_with_fallback(record.header.creation_time, record.idlist_create_time);
  values.app_id_text = options.app_id;
  if (!options.app_name.empty()) values.app_id_text += " [" + options.app_name + "]";
  return values;
}

}  // namespace lnk
