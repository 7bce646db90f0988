#include "report/json_report.h"

#include "core/time_value.h"
#include "lnk/names.h"
#include "platform/text.h"
#include "report/json_text.h"
#include "shellitems/guid_names.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

constexpr uint32_t kNoMruIndex = 99999;
constexpr uint32_t kHasLinkInfo = 0x02;

std::string hex_bytes(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    text.push_back(digits[b >> 4]);
    text.push_back(digits[b & 0x0F]);
  }
  return text;
}

// Names joined by separator in the name tables, split into an array.
void name_array(JsonWriter& w, std::string_view key, const std::string& joined,
                std::string_view separator) {
  w.key(key);
  w.begin_array();
  size_t start = 0;
  while (start < joined.size()) {
    size_t end = joined.find(separator, start);
    if (end == std::string::npos) end = joined.size();
    if (end > start) w.string(std::string_view(joined).substr(start, end - start));
    start = end + separator.size();
  }
  w.end_array();
}

template <class T, class Put>
void array_field(JsonWriter& w, std::string_view key, const std::vector<T>& values, Put put) {
  if (values.empty()) return;
  w.key(key);
  w.begin_array();
  for (const T& value : values) put(value);
  w.end_array();
}

void string_array(JsonWriter& w, std::string_view key, const std::vector<std::string>& values) {
  array_field(w, key, values, [&](const std::string& text) { w.string(text); });
}

// What else the volume says of a found file: the stream read, its other
// names, a torn MFT record.
void volume_file_fields(JsonWriter& w, const SourceInfo& source) {
  w.text_field("stream", source.stream);
  string_array(w, "other_paths", source.other_paths);
  if (source.damaged_record) w.field("damaged_record", true);
}

const char* item_class_name(uint16_t class_type) {
  if (class_type == 0x00) return "variable";
  if (class_type == 0x74) return "delegate";
  if (class_type >= 0x80 && class_type != 0xB1 && class_type != 0xC3) return nullptr;
  switch (class_type & 0x70) {
    case 0x10: return "root folder";
    case 0x20: return "volume";
    case 0x30: return "file entry";
    case 0x40: return "network location";
    case 0x50: return "compressed folder";
    case 0x60: return "uri";
    case 0x70: return "control panel";
    default: return nullptr;
  }
}

const char* vartype_name(uint16_t type) {
  switch (type) {
    case kVtEmpty: return "VT_EMPTY";
    case kVtNull: return "VT_NULL";
    case kVtI4: return "VT_I4";
    case kVtR8: return "VT_R8";
    case kVtDate: return "VT_DATE";
    case kVtBstr: return "VT_BSTR";
    case kVtError: return "VT_ERROR";
    case kVtBool: return "VT_BOOL";
    case kVtI1: return "VT_I1";
    case kVtUi1: return "VT_UI1";
    case kVtUi4: return "VT_UI4";
    case kVtI8: return "VT_I8";
    case kVtUi8: return "VT_UI8";
    case kVtInt: return "VT_INT";
    case kVtLpstr: return "VT_LPSTR";
    case kVtLpwstr: return "VT_LPWSTR";
    case kVtFiletime: return "VT_FILETIME";
    case kVtBlob: return "VT_BLOB";
    case kVtStream: return "VT_STREAM";
    case kVtClsid: return "VT_CLSID";
    default: return nullptr;
  }
}

class RecordJson {
 public:
  RecordJson(JsonWriter& w, const LnkRecord& record, const SourceInfo& source,
             const useropts& options, const RecordValues& values)
      : w_(w), record_(record), source_(source), options_(options), values_(values) {}

  void write(uint32_t codepage);

 private:
  void source_object();
  void jumplist_object();
  void target_object();
  void command_object();
  void anomaly_list();
  void header_object();
  void idlist_object(std::string_view key, const std::vector<ShellItem>& items,
                     const RenderedIdList& rendered, uint32_t block_offset);
  void item_list(const std::vector<ShellItem>& items, const RenderedIdList* rendered);
  void item_object(const ShellItem& item, const RenderedIdList* rendered);
  void property_list(std::string_view key, const PropertyMap& map);
  void property_object(const Property& p);
  void property_value(const Property& p);
  void link_info_object();
  void string_data_object();
  void extra_data_object();
  void tracker_object();
  void console_object();
  void ansi_text_list();
  bool block_present(BlockSlot slot) const { return record_.block_offsets[slot] != 0; }
  void begin_block(std::string_view key, BlockSlot slot) {
    w_.key(key);
    w_.begin_object();
    w_.field("offset", record_.block_offsets[slot]);
  }

  JsonWriter& w_;
  const LnkRecord& record_;
  const SourceInfo& source_;
  const useropts& options_;
  const RecordValues& values_;
};

void RecordJson::write(uint32_t codepage) {
  w_.begin_object();
  source_object();
  if (record_.jumplist_kind != JumplistKind::none) jumplist_object();
  target_object();
  command_object();
  anomaly_list();
  header_object();
  w_.field("parsed_size", record_.parsed_size);
  if (!record_.shell_items.empty())
    idlist_object("link_target_idlist", record_.shell_items, values_.idlist, 0);
  link_info_object();
  string_data_object();
  extra_data_object();
  if (options_.username_given || !options_.username.empty()) w_.field("username", options_.username);
  if (options_.hostname_given || !options_.hostname.empty()) w_.field("hostname", options_.hostname);
  w_.field("ansi_code_page", codepage);
  ansi_text_list();
  w_.end_object();
}

void RecordJson::source_object() {
  w_.key("source");
  w_.begin_object();
  w_.text_field("path", source_.source_path);
  w_.text_field("volume", source_.volume_name);
  string_array(w_, "vmdk_paths", source_.vmdk_paths);
  w_.text_field("type", record_.source_type);
  if (!source_.volume_path.empty()) {
    w_.text_field("volume_path", source_.volume_path);
    w_.field("deleted", source_.deleted);
    volume_file_fields(w_, source_);
  }
  w_.text_field("carved_from", source_.carve_label);
  w_.text_field("artifact", record_.artifact);
  w_.field("offset", record_.lnk_offset);
  if (source_.source_file_size != 0) w_.field("file_size", source_.source_file_size);
  w_.time_field("modified", source_.source_modified);
  w_.time_field("accessed", source_.source_accessed);
  w_.time_field("created", source_.source_created);
  w_.time_field("mft_changed", source_.source_mft_changed);
  if (source_.src_inode != 0) {
    w_.field("mft_entry", source_.src_inode);
    w_.field("mft_sequence", source_.src_seq);
  }
  if (source_.shadow_copy != 0) {
    w_.field("shadow_copy", static_cast<uint64_t>(source_.shadow_copy));
    w_.time_field("shadow_copy_created", source_.shadow_copy_created);
  }
  w_.end_object();
}

void RecordJson::jumplist_object() {
  w_.key("jumplist");
  w_.begin_object();
  const bool destlist = record_.jumplist_kind == JumplistKind::with_destlist;
  w_.field("kind", destlist ? "destlist" : "no_destlist");
  w_.text_field("app_id", source_.app_id);
  w_.text_field("app_name", source_.app_name);
  w_.field("from_slack", record_.from_slack);
  if (destlist && !record_.from_slack) {
    if (record_.mru_index < kNoMruIndex) w_.field("mru_index", record_.mru_index);
    w_.field("stream_number", record_.stream_number);
    w_.time_field("mru_time", record_.mru_time);
    if (record_.destlist.present) destlist_entry_fields(w_, record_, false);
  }
  w_.text_field("destlist_netbios", record_.destlist_netbios);
  w_.end_object();
}

void RecordJson::target_object() {
  w_.key("target");
  w_.begin_object();
  w_.text_field("name", values_.target_name);
  w_.time_field("modified", values_.target_modified);
  w_.time_field("accessed", values_.target_accessed);
  w_.time_field("created", values_.target_created);
  if (record_.target_mft_entry != 0) {
    w_.field("mft_entry", record_.target_mft_entry);
    w_.field("mft_sequence", record_.target_mft_seq);
  }
  w_.end_object();
}

void RecordJson::command_object() {
  const LaunchCommand& c = values_.command;
  if (c.line.empty()) return;
  w_.key("command");
  w_.begin_object();
  w_.text_field("target", c.target);
  w_.text_field("target_from", c.target_from);
  w_.text_field("arguments", c.arguments);
  w_.text_field("working_directory", c.working_directory);
  w_.field("show_command", c.show_command);
  w_.end_object();
}

void RecordJson::anomaly_list() {
  if (values_.anomalies.empty()) return;
  w_.key("anomalies");
  w_.begin_array();
  for (const Anomaly& a : values_.anomalies) {
    w_.begin_object();
    w_.field("code", a.code);
    w_.field("detail", a.detail);
    w_.end_object();
  }
  w_.end_array();
}

void RecordJson::header_object() {
  const LinkHeader& h = record_.header;
  w_.key("header");
  w_.begin_object();
  w_.field("header_size", h.header_size);
  w_.field("link_clsid", guid_text(h.link_clsid));
  w_.field("link_flags", h.link_flags);
  name_array(w_, "link_flag_names", h.link_flags == 0 ? std::string() : link_flags_text(h.link_flags),
             ", ");
  w_.field("file_attributes", h.file_attributes);
  // The unit separator cannot occur in a name, so the table's text splits cleanly.
  const std::string attributes = file_attributes_text(h.file_attributes, "\x1f");
  name_array(w_, "file_attribute_names", attributes == "unk" ? std::string() : attributes, "\x1f");
  w_.time_field("creation_time", h.creation_time);
  w_.time_field("access_time", h.access_time);
  w_.time_field("write_time", h.write_time);
  w_.field("file_size", h.file_size);
  w_.field("icon_index", h.icon_index);
  w_.field("show_command", h.show_command);
  w_.field("show_command_name", show_command_text(h.show_command));
  w_.field("hot_key", h.hot_key);
  w_.field("reserved1", h.reserved1);
  w_.field("reserved2", h.reserved2);
  w_.field("reserved3", h.reserved3);
  w_.end_object();
}

void RecordJson::idlist_object(std::string_view key, const std::vector<ShellItem>& items,
                               const RenderedIdList& rendered, uint32_t block_offset) {
  w_.key(key);
  w_.begin_object();
  if (block_offset != 0) w_.field("offset", block_offset);
  w_.text_field("path", rendered.path);
  string_array(w_, "notes", rendered.notes);
  w_.key("items");
  item_list(items, &rendered);
  w_.end_object();
}

void RecordJson::item_list(const std::vector<ShellItem>& items, const RenderedIdList* rendered) {
  w_.begin_array();
  for (const ShellItem& item : items) item_object(item, rendered);
  w_.end_array();
}

void RecordJson::item_object(const ShellItem& item, const RenderedIdList* rendered) {
  w_.begin_object();
  w_.field("offset", item.item_position);
  w_.field("class", item.class_type);
  if (const char* name = item_class_name(item.class_type)) w_.field("class_name", name);
  if (rendered != nullptr) {
    auto shown = rendered->names.find(&item);
    if (shown != rendered->names.end()) w_.text_field("display_name", shown->second);
  }
  w_.text_field("name", item.name);
  w_.text_field("short_name", item.short_name);
  string_array(w_, "names", item.names);
  std::vector<std::string> extra_names;
  for (const std::string* extra : {&item.extra_name_a, &item.extra_name_b})
    if (!extra->empty()) extra_names.push_back(*extra);
  string_array(w_, "extra_names", extra_names);
  array_field(w_, "guids", item.guids, [&](const Guid& g) { w_.string(guid_text(g)); });
  string_array(w_, "guid_names", item.guid_names);
  if (item.file_size != 0) w_.field("file_size", item.file_size);
  w_.field("is_folder", item.is_folder);
  w_.field("unknown", item.unknown);
  w_.time_field("modified", item.modify_time);
  w_.time_field("accessed", item.access_time);
  w_.time_field("created", item.create_time);
  if (item.mft_entry != 0) {
    w_.field("mft_entry", item.mft_entry);
    w_.field("mft_sequence", item.mft_seq);
  }
  array_field(w_, "notes", item.extra_list, [&](const ItemNote& note) {
    w_.begin_object();
    w_.field("text", note.text);
    if (note.timed) w_.time_field("time", note.filetime);
    w_.end_object();
  });
  if (!item.property_map_first.empty() || !item.property_map_second.empty()) {
    w_.key("properties");
    w_.begin_array();
    for (const PropertyMap* map : {&item.property_map_first, &item.property_map_second})
      for (const auto& [key, p] : *map) property_object(p);
    w_.end_array();
  }
  array_field(w_, "extension_blocks", item.extension_blocks, [&](const ExtensionBlockInfo& block) {
    w_.begin_object();
    w_.field("offset", block.position);
    w_.field("size", block.size);
    w_.field("version", block.version);
    w_.field("signature", block.signature);
    w_.end_object();
  });
  // Nested lists were named by the same rendering as their parent.
  if (!item.children.empty()) {
    w_.key("children");
    item_list(item.children, rendered);
  }
  array_field(w_, "embedded_idlists", item.embedded_idlists,
              [&](const std::vector<ShellItem>& list) { item_list(list, rendered); });
  w_.end_object();
}

void RecordJson::property_list(std::string_view key, const PropertyMap& map) {
  w_.key(key);
  w_.begin_array();
  for (const auto& [map_key, p] : map) property_object(p);
  w_.end_array();
}

void RecordJson::property_object(const Property& p) {
  w_.begin_object();
  w_.field("format_id", guid_text(p.fmtid));
  w_.field("id", p.pid);
  // "unk" in the table stands for no name.
  if (p.string_named || p.in_table) w_.text_field("name", p.name);
  if (p.string_named) w_.field("string_named", true);
  w_.field("type", p.vartype);
  const char* base_name = vartype_name(p.vartype & 0xFF);
  if (base_name != nullptr)
    w_.field("type_name", p.is_vector ? std::string("VT_VECTOR|") + base_name : std::string(base_name));
  property_value(p);
  array_field(w_, "idlists", p.idlists,
              [&](const std::vector<ShellItem>& list) { item_list(list, nullptr); });
  w_.end_object();
}

void RecordJson::property_value(const Property& p) {
  const uint16_t type = p.vartype & 0xFF;
  if (p.is_vector) {
    if (type == kVtUi1 || type == kVtI1) {
      w_.field("bytes", hex_bytes(p.bytes));
    } else {
      w_.key("value");
      w_.begin_array();
      for (const std::string& text : p.vector_texts) w_.string(text);
      w_.end_array();
    }
    return;
  }
  switch (type) {
    case kVtI4: case kVtInt:
      w_.field("value", static_cast<int32_t>(p.number));
      return;
    case kVtUi4: case kVtError: case kVtUi8:
      w_.field("value", p.number);
      return;
    case kVtI8:
      w_.field("value", static_cast<int64_t>(p.number));
      return;
    case kVtBool:
      w_.field("value", p.number != 0);
      return;
    case kVtR8:
      w_.field("value", p.real);
      return;
    case kVtDate: {
      const TimeValue t = TimeValue::from_ole_date(p.real);
      if (t.valid) w_.field("value", iso_time(t.filetime));
      else w_.field("value", p.real);
      return;
    }
    case kVtFiletime: {
      const std::string text = iso_time(p.number);
      if (!text.empty()) w_.field("value", text);
      else w_.field("value", p.number);
      return;
    }
    case kVtI1:
      if (!p.bytes.empty()) w_.field("value", static_cast<int8_t>(p.bytes.front()));
      return;
    case kVtUi1:
      if (!p.bytes.empty()) w_.field("value", p.bytes.front());
      return;
    case kVtBlob:
      w_.field("bytes", hex_bytes(p.bytes));
      return;
    case kVtStream:
      w_.field("value", p.text);
      w_.field("bytes", hex_bytes(p.bytes));
      return;
    case kVtEmpty: case kVtNull:
      w_.key("value");
      w_.null();
      return;
    default:
      w_.field("value", p.text);
  }
}

void RecordJson::link_info_object() {
  const LnkRecord& r = record_;
  const bool present = (r.header.link_flags & kHasLinkInfo) != 0 &&
                       (r.link_info_flags != 0 || r.volume_id_offset != 0 || r.net_link_offset != 0 ||
                        r.local_base_path_offset != 0 || r.common_path_suffix_offset != 0);
  if (!present) return;
  w_.key("link_info");
  w_.begin_object();
  w_.field("flags", r.link_info_flags);
  if (r.volume_id_offset != 0) {
    w_.key("volume");
    w_.begin_object();
    w_.field("offset", r.volume_id_offset);
    w_.field("drive_type", r.drive_type_code);
    w_.field("drive_type_name", r.drive_type);
    w_.field("serial_number", r.drive_serial_number);
    w_.field("serial", r.volume_serial);
    w_.text_field("label", r.volume_label);
    w_.end_object();
  }
  if (r.net_link_offset != 0) {
    w_.key("network");
    w_.begin_object();
    w_.field("offset", r.net_link_offset);
    w_.text_field("net_name", r.net_name);
    w_.text_field("device_name", r.device_name);
    w_.end_object();
  }
  if (r.local_base_path_offset != 0) w_.field("local_base_path_offset", r.local_base_path_offset);
  w_.text_field("local_base_path", r.local_base_path);
  if (r.common_path_suffix_offset != 0)
    w_.field("common_path_suffix_offset", r.common_path_suffix_offset);
  w_.text_field("common_path_suffix", r.common_path_suffix);
  w_.end_object();
}

void RecordJson::string_data_object() {
  const LnkRecord& r = record_;
  const std::pair<const char*, const std::string*> strings[] = {
      {"description", &r.name_string},       {"relative_path", &r.relative_path},
      {"working_directory", &r.working_dir}, {"arguments", &r.command_line_arguments},
      {"icon_location", &r.icon_location},
  };
  bool any = false;
  for (const auto& [key, text] : strings) any = any || !text->empty();
  if (!any) return;
  w_.key("string_data");
  w_.begin_object();
  for (const auto& [key, text] : strings) w_.text_field(key, *text);
  w_.end_object();
}

void RecordJson::tracker_object() {
  const LnkRecord& r = record_;
  begin_block("tracker", kBlockTracker);
  w_.text_field("machine_id", r.machine_id);
  w_.text_field("droid_volume_id", r.droid_volume_id);
  w_.text_field("droid_object_id", r.droid_object_id);
  w_.text_field("birth_droid_volume_id", r.birth_droid_volume_id);
  w_.text_field("birth_droid_object_id", r.birth_droid_object_id);
  w_.text_field("mac_address", r.droid_mac);
  w_.text_field("birth_mac_address", r.birth_droid_mac);
  w_.time_field("object_id_time", r.droid_time);
  w_.time_field("birth_object_id_time", r.birth_droid_time);
  w_.end_object();
}

void RecordJson::console_object() {
  const ConsoleSettings& c = record_.console;
  begin_block("console", kBlockConsole);
  w_.field("fill_attributes", c.fill_attributes);
  w_.field("popup_fill_attributes", c.popup_fill_attributes);
  w_.field("screen_buffer_size_x", c.screen_buffer_size_x);
  w_.field("screen_buffer_size_y", c.screen_buffer_size_y);
  w_.field("window_size_x", c.window_size_x);
  w_.field("window_size_y", c.window_size_y);
  w_.field("window_origin_x", c.window_origin_x);
  w_.field("window_origin_y", c.window_origin_y);
  w_.field("font_size", c.font_size);
  w_.field("font_family", c.font_family);
  w_.field("font_weight", c.font_weight);
  w_.text_field("face_name", c.face_name);
  w_.field("cursor_size", c.cursor_size);
  w_.field("full_screen", c.full_screen);
  w_.field("quick_edit", c.quick_edit);
  w_.field("insert_mode", c.insert_mode);
  w_.field("auto_position", c.auto_position);
  w_.field("history_buffer_size", c.history_buffer_size);
  w_.field("number_of_history_buffers", c.number_of_history_buffers);
  w_.field("history_no_dup", c.history_no_dup);
  w_.key("color_table");
  w_.begin_array();
  for (uint32_t color : c.color_table) w_.number(uint64_t{color});
  w_.end_array();
  w_.end_object();
}

void RecordJson::extra_data_object() {
  const LnkRecord& r = record_;
  bool any = false;
  for (uint32_t offset : r.block_offsets) any = any || offset != 0;
  if (!any) return;
  w_.key("extra_data");
  w_.begin_object();
  if (block_present(kBlockEnvironment)) {
    begin_block("environment", kBlockEnvironment);
    w_.text_field("target", r.env_target);
    w_.end_object();
  }
  if (block_present(kBlockConsole)) console_object();
  if (block_present(kBlockTracker)) tracker_object();
  if (block_present(kBlockConsoleFe)) {
    begin_block("console_fe", kBlockConsoleFe);
    w_.field("code_page", r.code_page);
    w_.end_object();
  }
  if (block_present(kBlockSpecialFolder)) {
    begin_block("special_folder", kBlockSpecialFolder);
    w_.field("id", r.special_folder_id);
    w_.text_field("name", r.special_folder_name);
    w_.field("item_offset", r.special_folder_offset);
    w_.end_object();
  }
  if (block_present(kBlockDarwin)) {
    begin_block("darwin", kBlockDarwin);
    w_.text_field("descriptor", r.darwin_descriptor);
    w_.text_field("product", r.darwin_product);
    w_.text_field("feature", r.darwin_feature);
    w_.text_field("component", r.darwin_component);
    w_.end_object();
  }
  if (block_present(kBlockIconEnvironment)) {
    begin_block("icon_environment", kBlockIconEnvironment);
    w_.text_field("target", r.icon_env_target);
    w_.end_object();
  }
  if (block_present(kBlockShim)) {
    begin_block("shim", kBlockShim);
    w_.text_field("layer_name", r.shim_layer);
    w_.end_object();
  }
  if (block_present(kBlockPropertyStore)) {
    begin_block("property_store", kBlockPropertyStore);
    property_list("properties", r.property_store);
    w_.end_object();
  }
  if (block_present(kBlockBarePropertyStorage)) {
    begin_block("property_storage", kBlockBarePropertyStorage);
    w_.text_field("format_id", r.storage_format_name);
    w_.end_object();
  }
  if (block_present(kBlockKnownFolder)) {
    begin_block("known_folder", kBlockKnownFolder);
    w_.text_field("id", r.known_folder_id);
    Guid id{};
    if (parse_guid(r.known_folder_id, id)) w_.text_field("name", guid_name_text(id));
    w_.field("item_offset", r.known_folder_offset);
    w_.end_object();
  }
  if (block_present(kBlockVistaIdList)) {
    if (r.vista_shell_items.empty()) {
      begin_block("vista_idlist", kBlockVistaIdList);
      w_.key("items");
      w_.begin_array();
      w_.end_array();
      w_.end_object();
    } else {
      idlist_object("vista_idlist", r.vista_shell_items, values_.vista_idlist,
                    r.block_offsets[kBlockVistaIdList]);
    }
  }
  w_.end_object();
}

void RecordJson::ansi_text_list() {
  const LnkRecord& r = record_;
  const std::pair<uint32_t, std::pair<const char*, const std::string*>> fields[] = {
      {kAnsiVolumeLabel, {"link_info.volume.label", &r.volume_label}},
      {kAnsiNetName, {"link_info.network.net_name", &r.net_name}},
      {kAnsiDeviceName, {"link_info.network.device_name", &r.device_name}},
      {kAnsiLocalBasePath, {"link_info.local_base_path", &r.local_base_path}},
      {kAnsiCommonPathSuffix, {"link_info.common_path_suffix", &r.common_path_suffix}},
      {kAnsiNameString, {"string_data.description", &r.name_string}},
      {kAnsiRelativePath, {"string_data.relative_path", &r.relative_path}},
      {kAnsiWorkingDir, {"string_data.working_directory", &r.working_dir}},
      {kAnsiArguments, {"string_data.arguments", &r.command_line_arguments}},
      {kAnsiIconLocation, {"string_data.icon_location", &r.icon_location}},
      {kAnsiEnvTarget, {"extra_data.environment.target", &r.env_target}},
      {kAnsiIconEnvTarget, {"extra_data.icon_environment.target", &r.icon_env_target}},
      {kAnsiMachineId, {"extra_data.tracker.machine_id", &r.machine_id}},
      {kAnsiDarwin, {"extra_data.darwin.descriptor", &r.darwin_descriptor}},
      {kAnsiDarwin, {"extra_data.darwin.feature", &r.darwin_feature}},
  };
  bool any = false;
  for (const auto& [bit, field] : fields) any = any || ((r.ansi_texts & bit) && !field.second->empty());
  if (!any) return;
  w_.key("ansi_texts");
  w_.begin_array();
  for (const auto& [bit, field] : fields)
    if ((r.ansi_texts & bit) && !field.second->empty()) w_.string(field.first);
  w_.end_array();
}

}  // namespace

void destlist_entry_fields(JsonWriter& w, const LnkRecord& record, bool with_netbios) {
  const DestListData& d = record.destlist;
  w.field("pinned", d.pin_status != -1);
  if (d.pin_status != -1) w.field("pin_position", static_cast<int64_t>(d.pin_status));
  if (d.has_access_count) w.field("access_count", d.access_count);
  w.text_field("destlist_path", record.destlist_path);
  if (with_netbios) w.text_field("destlist_netbios", record.destlist_netbios);
  w.text_field("destlist_volume_id", d.volume_id);
  w.text_field("destlist_object_id", d.object_id);
  w.text_field("destlist_birth_volume_id", d.birth_volume_id);
  w.text_field("destlist_birth_object_id", d.birth_object_id);
}

void append_json_record(std::string& line, const LnkRecord& record, const SourceInfo& source,
                        const useropts& options, const RecordValues& values, uint32_t codepage) {
  JsonWriter w(line);
  RecordJson(w, record, source, options, values).write(codepage);
  line.push_back('\n');
}

}  // namespace lnk
