#include "report/text_report.h"

#include <iomanip>
#include <vector>

#include "lnk/names.h"
#include "platform/text.h"
#include "report/escape_text.h"
#include "report/idlist_breakout.h"
#include "report/time_format.h"

namespace lnk {
namespace {

constexpr int kLabelWidth = 26;
constexpr int kPropertyNameWidth = 49;
constexpr uint32_t kNoMruIndex = 99999;
const char kPropertyStoreLabel[] = "PropertyStoreDataBlk:    format guid/id [value] ";

// Flushed per line so a crash mid-record still leaves everything before it.
void line(std::ostream& out, const std::string& label, const std::string& value) {
  out << std::left << std::setfill(' ') << std::setw(kLabelWidth) << label << escape_controls(value) << '\n';
  out.flush();
}

void line_if(std::ostream& out, const std::string& label, const std::string& value) {
  if (!value.empty()) line(out, label, value);
}

std::string hex_field(uint64_t value, int digits) { return "0x" + hex_lower(value, digits); }

std::string number_field(uint64_t value, int digits, const useropts& options) {
  return options.sizes_in_hex ? hex_field(value, digits) : std::to_string(value);
}

std::string with_original(const std::string& value, const std::string& original) {
  if (original.empty() || original == value) return value;
  return value + " [orig: " + original + "]";
}

// One text on the label line; several as numbered lines below it.
void extra_list_lines(std::ostream& out, const std::string& label,
                      const std::vector<std::string>& texts) {
  if (texts.empty()) return;
  if (texts.size() == 1) {
    line(out, label, texts.front());
    return;
  }
  line(out, label, "");
  for (size_t i = 0; i < texts.size(); ++i) {
    out << " [" << (i + 1) << "] " << escape_controls(texts[i]) << '\n';
    out.flush();
  }
}

// A found file's other names and a torn MFT record, after its location.
void volume_file_lines(std::ostream& out, const SourceInfo& source) {
  for (const std::string& path : source.other_paths) line(out, "also named:", path);
  if (source.damaged_record)
    line(out, "damaged record:", "the MFT record's update sequence does not match; read as it is");
}

// What the DestList entry holds besides its index, stream and time.
void destlist_entry_lines(std::ostream& out, const LnkRecord& record) {
  const DestListData& d = record.destlist;
  if (!d.present) return;
  line(out, "Pin status:", d.pin_status == -1 ? "not pinned" : "pinned, position " + std::to_string(d.pin_status));
  if (d.has_access_count) line(out, "Access count:", std::to_string(d.access_count));
  line_if(out, "DestList path:", record.destlist_path);
  line_if(out, "DestList NETBIOS name:", record.destlist_netbios);
  if (!d.volume_id.empty()) line(out, "DestList volume ID:", with_original(d.volume_id, d.birth_volume_id));
  if (!d.object_id.empty()) line(out, "DestList object ID:", with_original(d.object_id, d.birth_object_id));
}

void provenance_lines(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                      const useropts& options, const RecordValues& values) {
  const bool single_file_source = source.volume_name.empty() && source.vmdk_paths.empty();
  const bool offset_shown = options.rawscan || options.deepscan || source.mft_scan;

  if (single_file_source) line(out, "source path/filename:", source.source_path);
  if (source.shadow_copy != 0) {
    const std::string created = report_date_time(source.shadow_copy_created, options, false);
    line(out, "shadow copy:", std::to_string(source.shadow_copy) + (created.empty() ? "" : ", created " + created));
  }
  std::string location = volume_location(source);
  if (!source.volume_path.empty()) {
    location += " [MFT entry " + number_field(source.src_inode, 8, options) + ", seq# " +
                number_field(source.src_seq, 4, options) + "]";
  }
  if (!location.empty()) line(out, "location in volume:", location);
  volume_file_lines(out, source);
  if (offset_shown && record.lnk_offset != 0) {
    line(out, "file offset:", number_field(record.lnk_offset, 8, options));
  }
  if (record.jumplist_kind != JumplistKind::none) line(out, "AppID:", values.app_id_text);
  if (record.jumplist_kind == JumplistKind::with_destlist) {
    if (record.from_slack) {
      line(out, "MRU/MFU/Stream# data:", "not avail - parsed from slack space");
    } else {
      line(out, "MRU/MFU index:", record.mru_index >= kNoMruIndex
                                      ? "not available for this record"
                                      : std::to_string(record.mru_index));
      line(out, "stream #:", std::to_string(record.stream_number));
      line(out, "MRU time:", report_date_time(record.mru_time, options, true));
      destlist_entry_lines(out, record);
    }
  }
  if (single_file_source) {
    line(out, "file modified:", report_date_time(source.source_modified, options, false));
    line(out, "file accessed:", report_date_time(source.source_accessed, options, false));
    line(out, "file created:", report_date_time(source.source_created, options, false));
  }
  if (source.mft_scan && record.target_mft_entry != 0) {
    line(out, "MFT Entry:", number_field(record.target_mft_entry, 8, options));
    line(out, "MFT Sequence#:", number_field(record.target_mft_seq, 4, options));
  }
}

void header_lines(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                  const useropts& options, const RecordValues& values) {
  const LinkHeader& header = record.header;
  line(out, "Target flags:", link_flags_text(header.link_flags));
  line(out, "Target attributes:", header.file_attributes == 0
                                      ? "not specified"
                                      : file_attributes_text(header.file_attributes, "; "));

  auto target_time = [&](const char* label, uint64_t filetime) {
    std::string text = report_date_time(filetime, options, true);
    line(out, label, text.empty() ? "not available" : text);
  };
  target_time("Target modified:", values.target_modified);
  target_time("Target accessed:", values.target_accessed);
  target_time("Target created:", values.target_created);

  line_if(out, "Target ObjID time:", report_date_time(record.droid_time, options, true));
  if (record.birth_droid_time != 0 && record.birth_droid_time != record.droid_time) {
    line(out, "Target ObjID time [orig]:", report_date_time(record.birth_droid_time, options, true));
  }

  if (options.rawscan || options.deepscan || source.mft_scan) {
    line(out, "File offset:",
         hex_field(record.lnk_offset, 8) + " [" + std::to_string(record.lnk_offset) + "]");
  }
  line(out, "Parsed size:",
       hex_field(record.parsed_size, 8) + " [" + std::to_string(record.parsed_size) + " bytes]");
  line(out, "Target file size:",
       hex_field(header.file_size, 8) + " [" + std::to_string(header.file_size) + " bytes]");
  const std::string show = show_command_text(header.show_command);
  if (show != "unk") line(out, "Show cmd:", "[" + show + "]");
}

void field_lines(std::ostream& out, const LnkRecord& record, const RecordValues& values) {
  line_if(out, "ID List:", values.idlist.path);
  extra_list_lines(out, "Embedded ID List info:", values.idlist.notes);
  line_if(out, "Volume Type:", record.drive_type);
  line_if(out, "Volume serial num:", record.volume_serial);
  line_if(out, "Volume label:", record.volume_label);
  line_if(out, "Network name:", record.net_name);
  line_if(out, "Device name:", record.device_name);
  line_if(out, "Local base path:", record.local_base_path);
  line_if(out, "Common path:", record.common_path_suffix);
  line_if(out, "Description:", record.name_string);
  line_if(out, "Relative path:", record.relative_path);
  line_if(out, "Working directory:", record.working_dir);
  line_if(out, "Cmdline args:", record.command_line_arguments);
  line_if(out, "Icon filename:", record.icon_location);
  line_if(out, "Icon environ name:", record.icon_env_target);
  line_if(out, "Environment DataBlk:", record.env_target);
  line_if(out, "Special Folder ID:", record.special_folder_name);
  line_if(out, "Known Folder ID:", record.known_folder_id);

  std::string netbios = record.machine_id;
  if (netbios.empty() && record.jumplist_kind == JumplistKind::with_destlist) {
    netbios = record.destlist_netbios;
  }
  line_if(out, "NETBIOS name:", netbios);
  if (!record.droid_volume_id.empty()) {
    line(out, "Volume ID:", with_original(record.droid_volume_id, record.birth_droid_volume_id));
  }
  line_if(out, "VistaAndAboveIDList:", values.vista_idlist.path);
  extra_list_lines(out, "VistaAndAboveIDList-info:", values.vista_idlist.notes);
  if (!record.droid_object_id.empty()) {
    line(out, "Object ID:", with_original(record.droid_object_id, record.birth_droid_object_id));
  }
  if (!record.droid_mac.empty()) {
    line(out, "MAC address:", with_original(record.droid_mac, record.birth_droid_mac));
  }
}

// What Windows would start, and each way the record departs from what
// Windows writes, one line each.
void command_and_anomaly_lines(std::ostream& out, const RecordValues& values) {
  if (!values.command.line.empty())
    line(out, "Command run:", values.command.line + " [target from " + values.command.target_from + "]");
  for (const Anomaly& anomaly : values.anomalies) line(out, "Anomaly:", anomaly.code + ": " + anomaly.detail);
}

void property_store_lines(std::ostream& out, const RecordValues& listing, const useropts& options) {
  const auto& names = listing.property_names;
  const auto& values = listing.property_values;
  if (names.empty() || names.size() != values.size()) return;
  out << kPropertyStoreLabel << '\n';
  out.flush();
  for (size_t i = 0; i < names.size(); ++i) {
    out << " [" << (i + 1) << "] " << std::left << std::setfill(' ')
        << std::setw(kPropertyNameWidth) << escape_controls(names[i]) << " [" << escape_controls(values[i]) << "]\n";
    out.flush();
  }
  if (options.hostname_given || !options.hostname.empty()) {
    line(out, "username:", options.username);
    line(out, "hostname:", options.hostname);
  }
}

}  // namespace

std::string report_date_time(uint64_t filetime, const cmd_params& options, bool with_fraction) {
  TimeValue t = TimeValue::from_filetime(filetime);
  std::string date_text, time_text;
  if (with_fraction) {
    format_user(t, options.date_format, options.time_format, date_text, time_text);
  } else {
    format_user_no_fraction(t, options.date_format, options.time_format, date_text, time_text);
  }
  if (date_text.empty()) return {};
  return date_text + " " + time_text + " [UTC]";
}

void write_text_report(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                       const useropts& options, const RecordValues& values) {
  provenance_lines(out, record, source, options, values);
  header_lines(out, record, source, options, values);
  field_lines(out, record, values);
  property_store_lines(out, values, options);
  command_and_anomaly_lines(out, values);
  if (options.idltimes) write_idlist_breakout(out, record.shell_items, values.idlist, options);
  out << '\n';
  out.flush();
}

}  // namespace lnk
