#include "report/csv_report.h"

#include "lnk/names.h"
#include "platform/text.h"
#include "report/time_format.h"

namespace lnk {
namespace {

constexpr int32_t kSourcePathMinWidth = 40;
constexpr uint32_t kNoMruIndex = 99999;
constexpr const char* kSegmentLegend =
    "!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>";

class ColumnBuilder {
 public:
  ColumnBuilder(const useropts& options, std::vector<TableColumn>& columns)
      : columns_(columns),
        paired_(!options.split_date_time),
        date_width_(static_cast<int32_t>(options.date_format.size())),
        time_width_(static_cast<int32_t>(options.time_format.size())) {}

  void add(CsvField field, const char* name, int32_t width, uint16_t kind = kCellText,
           uint32_t flags = 0) {
    columns_.push_back({kind, flags, width, name, static_cast<uint16_t>(field)});
  }

  // One paired column, or a date column and its time column.
  void add_time(CsvField field, const char* paired_name, const char* date_name,
                const char* time_name, uint32_t flags = 0) {
    if (paired_) {
      add(field, paired_name, date_width_ + time_width_ + 1, kCellDateTimePaired,
          flags | kCellCentredHeader);
    } else {
      add(field, date_name, date_width_, kCellDateTime, flags);
      add(field, time_name, time_width_, kCellTimePart, flags);
    }
  }

 private:
  std::vector<TableColumn>& columns_;
  bool paired_;
  int32_t date_width_;
  int32_t time_width_;
};

int32_t source_path_width(const SourceInfo& source) {
  if (source.opened_path.size() > static_cast<size_t>(kSourcePathMinWidth))
    return static_cast<int32_t>(source.opened_path.size());
  if (source.volume_name.size() > static_cast<size_t>(kSourcePathMinWidth))
    return static_cast<int32_t>(source.volume_name.size());
  return kSourcePathMinWidth;
}

std::string source_path_text(const SourceInfo& source) {
  if (!source.opened_path.empty()) return source.source_path;
  if (!source.volume_name.empty()) return source.volume_name;
  if (!source.vmdk_paths_joined.empty()) return source.vmdk_paths_joined;
  std::string paths;
  for (size_t i = 0; i < source.vmdk_paths.size(); ++i) {
    if (i) paths += ';';
    paths += source.vmdk_paths[i];
  }
  return paths;
}

// Each later part brings its own "; ", even after an empty item list.
std::string idlist_extra_info_text(const RecordValues& record_values) {
  std::string text;
  const auto& notes = record_values.idlist.notes;
  for (size_t i = 0; i < notes.size(); ++i) {
    if (i) text += "; ";
    text += notes[i];
  }
  if (!record_values.vista_idlist.notes_text.empty()) text += "; " + record_values.vista_idlist.notes_text;
  const auto& names = record_values.property_names;
  const auto& values = record_values.property_values;
  if (names.size() == values.size()) {
    for (size_t i = 0; i < names.size(); ++i) text += "; " + names[i] + " [" + values[i] + "]";
  }
  return text;
}

// "[Label]: text; " for each text present, without the last "; ".
std::string labelled_list(std::initializer_list<std::pair<const char*, const std::string*>> items) {
  std::string text;
  for (const auto& [label, value] : items)
    if (!value->empty()) text += std::string(label) + *value + "; ";
  if (text.size() >= 2) text.resize(text.size() - 2);
  return text;
}

std::string segment_time(uint64_t filetime, const cmd_params& options) {
  if (filetime == 0) return "0";
  // A set but undecodable time still gets its date-time blank.
  std::string date_text, time_text;
  format_user_no_fraction(TimeValue::from_filetime(filetime), options.date_format,
                          options.time_format, date_text, time_text);
  return date_text + " " + time_text;
}

std::string segment_number(uint64_t value, int digits, const cmd_params& options) {
  return options.sizes_in_hex ? "0x" + hex_lower(value, digits) : std::to_string(value);
}

TableCell text_cell(std::string text) {
  TableCell cell;
  cell.text = std::move(text);
  return cell;
}

TableCell number_cell(uint16_t kind, uint64_t value) {
  TableCell cell;
  cell.kind = kind;
  cell.value = value;
  return cell;
}

// A jump-list entry without DestList data has "na" in the DestList columns.
bool destlist_missing(const LnkRecord& record) {
  return record.jumplist_kind == JumplistKind::without_destlist ||
         (record.jumplist_kind == JumplistKind::with_destlist && record.from_slack);
}

// A DestList entry's own fields: "na" where the list has no DestList data
// for the record, empty where no entry names it.
TableCell destlist_cell(CsvField field, const LnkRecord& r) {
  if (destlist_missing(r)) return text_cell("na");
  const DestListData& d = r.destlist;
  if (!d.present) return text_cell("");
  switch (field) {
    case CsvField::pinned: return text_cell(d.pin_status == -1 ? "no" : "yes");
    case CsvField::pin_position: return text_cell(d.pin_status == -1 ? "" : std::to_string(d.pin_status));
    case CsvField::access_count: return text_cell(d.has_access_count ? std::to_string(d.access_count) : "");
    case CsvField::destlist_path: return text_cell(r.destlist_path);
    case CsvField::destlist_netbios: return text_cell(r.destlist_netbios);
    case CsvField::destlist_volume_id: return text_cell(d.volume_id);
    case CsvField::destlist_object_id: return text_cell(d.object_id);
    case CsvField::destlist_birth_volume_id: return text_cell(d.birth_volume_id);
    case CsvField::destlist_birth_object_id: return text_cell(d.birth_object_id);
    default: return text_cell("");
  }
}

TableCell cell_for(const TableColumn& column, const LnkRecord& record, const SourceInfo& source,
                   const RecordValues& values, const useropts& options) {
  auto time_cell = [&column](uint64_t filetime) {
    TableCell cell;
    cell.kind = column.kind;
    cell.flags = column.flags;
    cell.value = filetime;
    return cell;
  };
  const LnkRecord& r = record;
  switch (static_cast<CsvField>(column.field)) {
    case CsvField::source_path: return text_cell(source_path_text(source));
    case CsvField::source_type: return text_cell(r.source_type);
    case CsvField::app_id: return text_cell(values.app_id_text);
    case CsvField::mru_index:
      if (destlist_missing(r)) return text_cell("na");
      if (r.mru_index > 0 && r.mru_index < kNoMruIndex) return text_cell(std::to_string(r.mru_index));
      return text_cell("");
    case CsvField::stream_number:
      if (destlist_missing(r)) return text_cell("na");
      return text_cell(r.stream_number != 0 ? std::to_string(r.stream_number) : "");
    case CsvField::mru_time: {
      TableCell cell = time_cell(r.mru_time);
      if (destlist_missing(r)) cell.text = "na";
      return cell;
    }
    case CsvField::file_modified: return time_cell(source.source_modified);
    case CsvField::file_accessed: return time_cell(source.source_accessed);
    case CsvField::file_created: return time_cell(source.source_created);
    case CsvField::file_mft_changed: return time_cell(source.source_mft_changed);
    case CsvField::target_modified: return time_cell(values.target_modified);
    case CsvField::target_accessed: return time_cell(values.target_accessed);
    case CsvField::target_created: return time_cell(values.target_created);
    case CsvField::object_id_time: return time_cell(r.droid_time);
    case CsvField::target_attributes:
      return text_cell(file_attributes_text(r.header.file_attributes, "; "));
    case CsvField::lnk_offset: return number_cell(kCellNumber64, r.lnk_offset);
    case CsvField::src_inode:
      return source.src_inode ? number_cell(kCellNumber64, source.src_inode) : text_cell("");
    case CsvField::src_seq:
      return source.src_inode ? number_cell(kCellNumber16, source.src_seq & 0xFFFF) : text_cell("");
    case CsvField::target_inode:
      return r.target_mft_entry ? number_cell(kCellNumber64, r.target_mft_entry) : text_cell("");
    case CsvField::target_seq:
      return r.target_mft_entry ? number_cell(kCellNumber16, r.target_mft_seq) : text_cell("");
    case CsvField::file_size:
      return r.header.file_size ? number_cell(kCellNumber32, r.header.file_size) : text_cell("");
    case CsvField::target_name: return text_cell(values.target_name);
    case CsvField::idlist_extra_info: return text_cell(idlist_extra_info_text(values));
    case CsvField::volume_type: return text_cell(r.drive_type);
    case CsvField::volume_serial: return text_cell(r.volume_serial);
    case CsvField::volume_label: return text_cell(r.volume_label);
    case CsvField::local_path: return text_cell(r.local_base_path);
    case CsvField::common_path: return text_cell(r.common_path_suffix);
    case CsvField::network_info:
      return text_cell(labelled_list({{"[NetworkName]: ", &r.net_name},
                                      {"[DeviceName]: ", &r.device_name}}));
    case CsvField::extra_info:
      return text_cell(labelled_list({{"[Description]: ", &r.name_string},
                                      {"[RelPath]: ", &r.relative_path},
                                      {"[WorkDir]: ", &r.working_dir},
                                      {"[CmdArgs]: ", &r.command_line_arguments},
                                      {"[IconName]: ", &r.icon_location},
                                      {"[EnvBlk]: ", &r.env_target}}));
    case CsvField::netbios_name: return text_cell(r.machine_id);
    case CsvField::volume_id: return text_cell(r.droid_volume_id);
    case CsvField::object_id: return text_cell(r.droid_object_id);
    case CsvField::mac_address: return text_cell(r.droid_mac);
    case CsvField::user_account: return text_cell(options.username);
    case CsvField::host_name: return text_cell(options.hostname);
    case CsvField::anomalies: return text_cell(anomaly_codes(values.anomalies));
    case CsvField::idlist_segments:
      return text_cell(idlist_segments_text(collect_idlist_segments(r.shell_items, values.idlist), options));
    case CsvField::pinned:
    case CsvField::pin_position:
    case CsvField::access_count:
    case CsvField::destlist_path:
    case CsvField::destlist_netbios:
    case CsvField::destlist_volume_id:
    case CsvField::destlist_object_id:
    case CsvField::destlist_birth_volume_id:
    case CsvField::destlist_birth_object_id: return destlist_cell(static_cast<CsvField>(column.field), r);
  }
  return text_cell("");
}

bool has_column(const std::vector<TableColumn>& columns, CsvField field) {
  for (const TableColumn& column : columns)
    if (column.field == static_cast<uint16_t>(field)) return true;
  return false;
}

}  // namespace

std::vector<TableColumn> build_csv_columns(const LnkRecord& first_record, const SourceInfo& source,
                                           const useropts& options, bool jump_list_expected, bool volume_scan) {
  const bool mft_columns = options.ntfs_scan || volume_scan;
  std::vector<TableColumn> columns;
  ColumnBuilder b(options, columns);
  const bool first_from_jump_list = first_record.jumplist_kind != JumplistKind::none;
  const bool jump_list = first_from_jump_list || jump_list_expected;
  const bool carving_plain_source = options.rawscan && !first_from_jump_list;

  b.add(CsvField::source_path, "source path/filename", source_path_width(source));
  b.add(CsvField::source_type, "source type", 19);
  if (jump_list) {
    b.add(CsvField::app_id, "appid", 16);
    b.add(CsvField::mru_index, "MRU/MFU", 7);
    b.add(CsvField::stream_number, "stream#", 7);
    b.add_time(CsvField::mru_time, "MRU date [UTC]", "MRU date", "MRU-UTC");
  }
  if (!carving_plain_source) {
    b.add_time(CsvField::file_modified, "file modify date [UTC]", "file mdate", "time-UTC", kCellNoFraction);
    b.add_time(CsvField::file_accessed, "file access date [UTC]", "file adate", "time-UTC", kCellNoFraction);
    b.add_time(CsvField::file_created, "file create date [UTC]", "file cdate", "time-UTC", kCellNoFraction);
    if (mft_columns)
      b.add_time(CsvField::file_mft_changed, "file mft date [UTC]", "file mftdate", "time-UTC");
  }
  b.add_time(CsvField::target_modified, "tgt modify date [UTC]", "tgt mdate", "time-UTC",
             kCellTargetModified);
  b.add_time(CsvField::target_accessed, "tgt access date [UTC]", "tgt adate", "time-UTC");
  b.add_time(CsvField::target_created, "tgt create date [UTC]", "tgt cdate", "time-UTC");
  b.add_time(CsvField::object_id_time, "ObjID date [UTC]", "ObjID date", "time-UTC");
  b.add(CsvField::target_attributes, "tgt attrib", 24);
  if (carving_plain_source || source.mft_scan)
    b.add(CsvField::lnk_offset, "LNK offset", 10, kCellNumber64);
  if (mft_columns) {
    b.add(CsvField::src_inode, "src inode", 10, kCellNumber64);
    b.add(CsvField::src_seq, "src seq#", 6, kCellNumber16);
  }
  if (source.mft_scan) {
    b.add(CsvField::target_inode, "target inode", 10, kCellNumber64);
    b.add(CsvField::target_seq, "target seq#", 6, kCellNumber16);
  }
  b.add(CsvField::file_size, "file size", 10, kCellNumber32);
  b.add(CsvField::target_name, "target name", 60, kCellText, kCellTargetName);
  b.add(CsvField::idlist_extra_info, "IDList extra info", 60);
  b.add(CsvField::volume_type, "vol type", 8);
  b.add(CsvField::volume_serial, "vol serial", 10);
  b.add(CsvField::volume_label, "vol label", 9);
  b.add(CsvField::local_path, "local path", 10);
  b.add(CsvField::common_path, "common path", 11);
  b.add(CsvField::network_info, "network/device info", 19);
  b.add(CsvField::extra_info, "extra info", 10);
  b.add(CsvField::netbios_name, "netbios name", 12);
  b.add(CsvField::volume_id, "volume id", 9);
  b.add(CsvField::object_id, "object id", 9);
  b.add(CsvField::mac_address, "mac addr", 8);
  if (options.username_given) b.add(CsvField::user_account, "user acct", 9);
  if (options.hostname_given) b.add(CsvField::host_name, "host name", 9);
  if (options.idltimes) b.add(CsvField::idlist_segments, "IDList segments", 20);
  // Last, so that readers that take columns by position read what they did.
  b.add(CsvField::anomalies, "anomalies", 9);
  if (jump_list) {
    b.add(CsvField::pinned, "pinned", 6);
    b.add(CsvField::pin_position, "pin position", 12);
    b.add(CsvField::access_count, "access count", 12);
    b.add(CsvField::destlist_path, "DestList path", 13);
    b.add(CsvField::destlist_netbios, "DestList netbios", 16);
    b.add(CsvField::destlist_volume_id, "DestList volume id", 18);
    b.add(CsvField::destlist_object_id, "DestList object id", 18);
    b.add(CsvField::destlist_birth_volume_id, "DestList birth volume id", 24);
    b.add(CsvField::destlist_birth_object_id, "DestList birth object id", 24);
  }
  return columns;
}

std::vector<TableCell> csv_row_cells(const std::vector<TableColumn>& columns, const LnkRecord& record,
                                     const SourceInfo& source, const RecordValues& values,
                                     const useropts& options) {
  std::vector<TableCell> cells;
  cells.reserve(columns.size());
  for (const TableColumn& column : columns) {
    if (column.kind == kCellTimePart) cells.emplace_back();  // filled by its date cell
    else cells.push_back(cell_for(column, record, source, values, options));
  }
  return cells;
}

std::string idlist_segments_text(const std::map<uint64_t, IdlistSegment>& segments,
                                 const cmd_params& options) {
  if (segments.empty()) return {};
  std::string text = kSegmentLegend;
  for (const auto& [position, segment] : segments) {
    (void)position;
    text += "*<" + segment.subpath;
    if (!segment.is_path_segment) {
      text += ";0;0;0;0;0>";
      continue;
    }
    for (const std::string& field :
         {segment_time(segment.modify_time, options), segment_time(segment.access_time, options),
          segment_time(segment.create_time, options), segment_number(segment.mft_entry, 8, options),
          segment_number(segment.mft_seq, 4, options)}) {
      text += ';';
      text += field;
    }
    text += '>';
  }
  return text;
}

void write_csv_record(std::ostream& out, const LnkRecord& record, const SourceInfo& source,
                      const useropts& options, const RecordValues& values, WriterState& state) {
  const TableStyle style = table_style(options);
  if (state.csv_columns.empty())
    state.csv_columns = build_csv_columns(record, source, options, state.jump_list_records_expected, state.volume_scan);
  if (record.jumplist_kind != JumplistKind::none && !has_column(state.csv_columns, CsvField::app_id))
    ++state.records_lacking_jump_list_columns;
  if (state.header_due) {
    out << render_header(state.csv_columns, style);
    state.header_due = false;
  }
  out << render_row(state.csv_columns, csv_row_cells(state.csv_columns, record, source, values, options),
                    style);
}

}  // namespace lnk
