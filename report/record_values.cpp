#include "report/record_values.h"

#include "core/time_value.h"
#include "report/property_text.h"

namespace lnk {
namespace {

// A zero header time is common for shortcuts to folders and shell objects;
// the IDList's last item often still carries the times.
uint64_t time_with_fallback(uint64_t header_time, uint64_t idlist_time) {
  if (header_time != 0) return header_time;
  return TimeValue::from_filetime(idlist_time).valid ? idlist_time : 0;
}

}  // namespace

std::string volume_location(const SourceInfo& source) {
  if (!source.volume_path.empty()) return source.deleted ? source.volume_path + " (deleted)" : source.volume_path;
  if (!source.carve_label.empty()) return source.carve_label + " (carved)";
  return {};
}

RecordValues derive_record_values(const LnkRecord& record, const SourceInfo& source,
                                  const cmd_params& options) {
  RecordValues values;
  render_idlist(record.shell_items, options, values.idlist);
  render_idlist(record.vista_shell_items, options, values.vista_idlist);
  list_properties(record.property_store, values.property_names, values.property_values, options);

  // A jump-list entry without its stream has only the DestList's path.
  const std::string* const candidates[] = {&values.idlist.path, &values.vista_idlist.path,
                                           &record.env_target, &record.relative_path,
                                           &record.icon_location, &record.destlist_path};
  for (const std::string* candidate : candidates) {
    if (!candidate->empty()) {
      values.target_name = *candidate;
      break;
    }
  }
  values.target_modified = time_with_fallback(record.header.write_time, record.idlist_modify_time);
  values.target_accessed = time_with_fallback(record.header.access_time, record.idlist_access_time);
  values.target_created = time_with_fallback(record.header.creation_time, record.idlist_create_time);
  values.command = launch_command(record, values.idlist);
  values.anomalies = find_anomalies(record, values.idlist, values.vista_idlist, values.property_values, values.command);
  values.app_id_text = source.app_id;
  if (!source.app_name.empty()) values.app_id_text += " [" + source.app_name + "]";
  return values;
}

}  // namespace lnk
