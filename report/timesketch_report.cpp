#include "report/timesketch_report.h"

#include <algorithm>

#include "core/time_value.h"
#include "report/json_report.h"
#include "report/json_text.h"

namespace lnk {
namespace {

constexpr uint64_t kUnixEpochFiletime = 116444736000000000ULL;
constexpr uint64_t kTicksPerMicrosecond = 10;
constexpr uint32_t kNoMruIndex = 99999;

constexpr SlotNames kSourceFileSlotNames = {"Source File Modified", "Source File Accessed",
                                            "Source File MFT Changed", "Source File Created"};

// A source's own times belong to its records when the source is the file
// the records were read from; an image or device carved with -rawscan, or
// the clusters a volume scan carves, has times that say nothing of them.
bool source_times_belong(const LnkRecord& record, const SourceInfo& source, const useropts& options) {
  if (source.mft_scan) return source.src_inode != 0;
  return !options.rawscan || record.jumplist_kind != JumplistKind::none;
}

const char* times_name(EventTimes times) {
  switch (times) {
    case EventTimes::target: return "target";
    case EventTimes::source_file: return "source_file";
    case EventTimes::object_id: return "object_id";
  }
  return "";
}

std::string volume_text(const SourceInfo& source) {
  if (!source.volume_name.empty()) return source.volume_name;
  std::string joined;
  for (const std::string& path : source.vmdk_paths) {
    if (!joined.empty()) joined += "; ";
    joined += path;
  }
  return joined;
}

}  // namespace

std::vector<RecordEvent> record_events(const LnkRecord& record, const SourceInfo& source,
                                       const useropts& options, const RecordValues& values) {
  std::vector<RecordEvent> events;
  for (const TimelineEvent& e : merge_macb(timeline_slots(record, values)))
    events.push_back({e, EventTimes::target});
  if (source_times_belong(record, source, options)) {
    const TimelineSlots own{source.source_modified, source.source_accessed, source.source_mft_changed,
                            source.source_created};
    for (const TimelineEvent& e : merge_macb(own, kSourceFileSlotNames))
      events.push_back({e, EventTimes::source_file});
  }
  if (TimeValue::from_filetime(record.droid_time).valid)
    events.push_back({{record.droid_time, "", "ObjectID Time"}, EventTimes::object_id});
  if (record.birth_droid_time != record.droid_time && TimeValue::from_filetime(record.birth_droid_time).valid)
    events.push_back({{record.birth_droid_time, "", "Birth ObjectID Time"}, EventTimes::object_id});
  return events;
}

void append_timesketch_events(std::string& out, const LnkRecord& record, const SourceInfo& source,
                              const useropts& options, const RecordValues& values, uint64_t record_number) {
  const std::vector<RecordEvent> events = record_events(record, source, options, values);
  if (events.empty()) return;

  // Everything after the event's own fields is the same on each of its lines.
  std::string record_fields;
  JsonWriter w(record_fields);
  w.begin_object();
  const bool jump_list = record.jumplist_kind != JumplistKind::none;
  const bool destlist = record.jumplist_kind == JumplistKind::with_destlist && !record.from_slack;
  w.field("data_type", jump_list ? "windows:jumplist:entry" : "windows:lnk:link");
  w.field("record_number", record_number);
  w.text_field("source_path", source.source_path);
  w.text_field("source_type", record.source_type);
  if (!source.volume_path.empty()) {
    w.text_field("volume_path", source.volume_path);
    w.field("deleted", source.deleted);
  }
  w.text_field("volume_name", volume_text(source));
  if (source.shadow_copy != 0) w.field("shadow_copy", static_cast<uint64_t>(source.shadow_copy));
  w.text_field("target_path", values.target_name);
  w.text_field("local_path", record.local_base_path);
  w.text_field("arguments", record.command_line_arguments);
  w.text_field("volume_serial", record.volume_serial);
  w.text_field("volume_label", record.volume_label);
  w.text_field("machine_id", !record.machine_id.empty() || !destlist ? record.machine_id : record.destlist_netbios);
  w.text_field("mac_address", record.droid_mac);
  if (jump_list) {
    w.text_field("app_id", source.app_id);
    w.text_field("app_name", source.app_name);
  }
  if (destlist && record.mru_index > 0 && record.mru_index < kNoMruIndex) w.field("mru_position", record.mru_index);
  if (destlist && record.destlist.present) destlist_entry_fields(w, record, true);
  if (source.src_inode != 0) {
    w.field("mft_entry", source.src_inode);
    w.field("mft_sequence", source.src_seq);
  }
  if (record.target_mft_entry != 0) {
    w.field("target_mft_entry", record.target_mft_entry);
    w.field("target_mft_sequence", record.target_mft_seq);
  }
  w.field("record_offset", record.lnk_offset);
  if (!values.command.line.empty()) w.text_field("command", values.command.line);
  if (!values.anomalies.empty()) {
    // Timesketch filters on tags; each code is one.
    w.key("tag");
    w.begin_array();
    std::vector<std::string> tags;
    for (const Anomaly& a : values.anomalies)
      if (std::find(tags.begin(), tags.end(), a.code) == tags.end()) tags.push_back(a.code);
    for (const std::string& tag : tags) w.string(tag);
    w.end_array();
    std::string details;
    for (const Anomaly& a : values.anomalies) details += (details.empty() ? "" : "\n") + a.code + ": " + a.detail;
    w.text_field("anomalies", details);
  }
  if (options.username_given) w.field("username", options.username);
  if (options.hostname_given) w.field("hostname", options.hostname);
  w.end_object();
  const std::string message = timeline_description(record, values, source.source_path);

  for (const RecordEvent& e : events) {
    JsonWriter line(out);
    line.begin_object();
    line.field("message", message);
    line.field("datetime", iso_time(e.event.time));
    line.field("timestamp", (e.event.time - kUnixEpochFiletime) / kTicksPerMicrosecond);
    line.field("timestamp_desc", e.event.type_text);
    if (!e.event.marks.empty()) line.field("macb", e.event.marks);
    line.field("time_of", times_name(e.times));
    // The record's fields follow the event's inside the same object.
    out += ',';
    out.append(record_fields, 1, std::string::npos);
    out += '\n';
  }
}

}  // namespace lnk
