#include "report/timeline_report.h"

#include <algorithm>
#include <iterator>

#include "report/delimited_table.h"
#include "report/time_format.h"

namespace lnk {
namespace {

constexpr uint64_t kUnixEpochFiletime = 116444736000000000ULL;
constexpr uint64_t kFiletimeTicksPerSecond = 10000000ULL;

const char* const kL2tColumns[] = {"timezone", "MACB", "source", "sourcetype", "type",
                                   "user",     "host", "short",  "desc",       "version",
                                   "filename", "inode", "notes", "format",     "extra"};
const char* const kBodyfileHeader =
    "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n";

struct Slot {
  uint64_t time;
  const char* description;
  bool takes_part;
  bool used = false;
};

Slot make_slot(uint64_t time, const char* description) {
  return {time, description, time != 0 && TimeValue::from_filetime(time).valid};
}

// Marks slot into the event when it is still free and at the event's time.
bool merge_into(TimelineEvent& event, Slot& slot, uint64_t time) {
  if (!slot.takes_part || slot.used || slot.time != time) return false;
  slot.used = true;
  event.type_text += "; ";
  event.type_text += slot.description;
  return true;
}

std::string join_fields(const std::vector<std::string>& fields, const std::string& separator) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += separator;
    line += fields[i];
  }
  return line;
}

}  // namespace

std::string timeline_description(const LnkRecord& r, const RecordValues& values, const std::string& source) {
  std::string text = values.target_name + " <- " + source + "; ";
  const std::pair<const char*, const std::string*> parts[] = {
      {"vol label-", &r.volume_label},  {"local path-", &r.local_base_path},
      {"nebios-", &r.machine_id},       {"mac-", &r.droid_mac},
      {"cmdargs-", &r.command_line_arguments}};
  for (const auto& [label, value] : parts)
    if (!value->empty()) text += label + *value + "; ";
  text.resize(text.size() - 2);
  return text;
}

namespace {

std::string l2t_notes(const LnkRecord& r, const useropts& options) {
  std::vector<std::string> parts;
  if (!r.volume_serial.empty()) parts.push_back("VSN: " + r.volume_serial);
  if (r.header.file_size != 0) parts.push_back("target size: " + std::to_string(r.header.file_size));
  if (r.droid_time != 0) {
    if (!r.droid_volume_id.empty()) parts.push_back("VolID: " + r.droid_volume_id);
    parts.push_back("ObjID: " + r.droid_object_id);
    std::string date_text, time_text;
    std::string stamp = "ObjID time: ";
    if (format_user(TimeValue::from_filetime(r.droid_time), options.date_format, options.time_format,
                    date_text, time_text))
      stamp += date_text + " " + time_text + " [UTC]";
    parts.push_back(stamp);
  }
  if (options.rawscan) parts.push_back("(rawscan)");
  return join_fields(parts, "; ");
}

}  // namespace

std::vector<TimelineEvent> merge_macb(const TimelineSlots& slots, const SlotNames& names) {
  Slot m = make_slot(slots.m_time, names.m);
  Slot a = make_slot(slots.a_time, names.a);
  Slot c = make_slot(slots.c_time, names.c);
  Slot b = make_slot(slots.b_time, names.b);
  std::vector<TimelineEvent> events;

  if (m.takes_part) {
    TimelineEvent e{m.time, "M", m.description};
    m.used = true;
    e.marks += merge_into(e, a, m.time) ? 'A' : '.';
    e.marks += merge_into(e, c, m.time) ? 'C' : '.';
    e.marks += merge_into(e, b, m.time) ? 'B' : '.';
    events.push_back(e);
  }
  if (a.takes_part && !a.used) {
    TimelineEvent e{a.time, ".A", a.description};
    a.used = true;
    e.marks += merge_into(e, c, a.time) ? 'C' : '.';
    e.marks += merge_into(e, b, a.time) ? 'B' : '.';
    events.push_back(e);
  }
  if (c.takes_part && !c.used) {
    TimelineEvent e{c.time, "..C", c.description};
    c.used = true;
    e.marks += merge_into(e, b, c.time) ? 'B' : '.';
    events.push_back(e);
  }
  if (b.takes_part && !b.used) {
    b.used = true;
    events.push_back({b.time, "...B", b.description});
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const TimelineEvent& x, const TimelineEvent& y) { return x.time < y.time; });
  return events;
}

TimelineSlots timeline_slots(const LnkRecord& record, const RecordValues& values) {
  TimelineSlots slots;
  slots.m_time = values.target_modified;
  slots.a_time = values.target_accessed;
  slots.c_time = record.jumplist_kind != JumplistKind::none ? record.mru_time : 0;
  slots.b_time = values.target_created;
  return slots;
}

void write_l2t_record(std::ostream& out, const LnkRecord& record, const SourceInfo& source_info,
                      const useropts& options, const RecordValues& values, WriterState& state) {
  const TableStyle style = table_style(options);
  if (state.header_due) {
    std::vector<std::string> names;
    if (options.pair_datetime) {
      names.push_back("date/time");
    } else {
      names.push_back("date");
      names.push_back("time");
    }
    names.insert(names.end(), std::begin(kL2tColumns), std::end(kL2tColumns));
    out << join_fields(names, style.separator) << '\n';
    state.header_due = false;
  }

  const bool jump_list = record.jumplist_kind != JumplistKind::none;
  const std::string& source = source_info.source_path;
  auto clean = [&style](const std::string& text) { return clean_cell_text(text, style); };
  // Everything after the MACB marks is the same on every line of the record.
  const std::vector<std::string> tail{
      clean(jump_list ? "JMPLIST" : "LNK"),
      clean(record.source_type),
      "",  // the event's type text
      clean(options.username),
      clean(options.hostname),
      clean(values.target_name),
      clean(timeline_description(record, values, source)),
      "2",
      clean(source),
      std::to_string(source_info.src_inode),
      clean(l2t_notes(record, options)),
      clean(options.program_base_name + " (marlow)"),
      clean(jump_list ? values.app_id_text : "")};
  const std::string time_blank = options.whitespace_allowed ? " " : "";

  for (const TimelineEvent& event : merge_macb(timeline_slots(record, values))) {
    std::string date_text, time_text;
    if (!format_user(TimeValue::from_filetime(event.time), options.date_format, options.time_format,
                     date_text, time_text))
      continue;
    std::vector<std::string> fields;
    if (options.pair_datetime) {
      fields.push_back(time_blank + date_text + " " + time_text);
    } else {
      fields.push_back(date_text);
      fields.push_back(time_blank + time_text);
    }
    fields.push_back("UTC");
    fields.push_back(event.marks);
    fields.insert(fields.end(), tail.begin(), tail.end());
    fields[fields.size() - tail.size() + 2] = clean(event.type_text);
    out << join_fields(fields, style.separator) << '\n';
  }
}

uint64_t bodyfile_seconds(uint64_t filetime) {
  if (filetime == 0 || (filetime >> 63) != 0 || filetime < kUnixEpochFiletime) return 0;
  return (filetime - kUnixEpochFiletime) / kFiletimeTicksPerSecond;
}

void write_bodyfile_record(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                           const useropts& options, const RecordValues& values, WriterState& state) {
  // The body format has no header line; readers that take the first line as
  // a record (plaso) refuse the file when it has one.
  if (state.header_due && !options.no_header) out << kBodyfileHeader;
  state.header_due = false;
  // A file found on a volume is named by its path there and identified as
  // fls identifies it, so the line sits beside sleuthkit's own for that file.
  const bool found_file = !source.volume_path.empty();
  std::string name;
  std::string inode;
  if (found_file) {
    name = volume_location(source) + " -> " + values.target_name + " (LNK TARGET)";
    inode = std::to_string(source.src_inode) + "-128-" + std::to_string(source.data_attribute_id);
  } else {
    name = values.target_name + " (LNK TARGET)";
    if (!values.idlist.path.empty()) name += " <- " + source.source_path;
    inode = std::to_string(source.mft_scan ? record.target_mft_entry : 0);
  }
  if (!record.command_line_arguments.empty()) name += "; cmdargs-" + record.command_line_arguments;
  if (options.rawscan) name += " (rawscan)";
  // The body file is always "|"-separated, whatever the run's separator.
  TableStyle style;
  style.replaced = '|';
  style.replacement = ';';

  const uint64_t times[] = {bodyfile_seconds(values.target_accessed), bodyfile_seconds(values.target_modified),
                            bodyfile_seconds(timeline_slots(record, values).c_time),
                            bodyfile_seconds(values.target_created)};
  // mactime shows a 0 beside a real time as an event at no date; it skips a
  // time before its start, so a lacking time is -1. A record lacking all
  // four keeps the zeros, which mactime and plaso both pass over.
  const bool any_time = std::any_of(std::begin(times), std::end(times), [](uint64_t t) { return t != 0; });
  out << "0|" << clean_cell_text(name, style) << '|' << inode << "||0|0|" << record.header.file_size;
  for (uint64_t seconds : times) {
    out << '|';
    if (seconds != 0 || !any_time) out << seconds;
    else out << "-1";
  }
  out << '\n';
}

}  // namespace lnk
