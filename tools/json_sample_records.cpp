// Writes, in the -json layout, records whose every field is set: jump-list
// entries with and without DestList data, a record from an MFT scan of a
// volume, every extra block, every kind of shell item part and property
// value. tools/check_json.py reads them to see each documented key written.
// Built with the tests: cmake --build build --target json_sample_records
#include <iostream>

#include "core/options.h"
#include "core/source_info.h"
#include "lnk/lnk_record.h"
#include "report/record_writer.h"
#include "shellitems/property_store.h"
#include "shellitems/property_value.h"

namespace {

using namespace lnk;

constexpr uint64_t kTime = 0x01D9C7F0A1B2C3D4;  // 2023-08-15
constexpr Guid kFormat = guid_literal("B725F130-47EF-101A-A5F1-02608C9EEBAC");

Property property(uint32_t pid, uint16_t vartype) {
  Property p;
  p.fmtid = kFormat;
  p.pid = pid;
  p.vartype = vartype;
  p.name = "System.Sample" + std::to_string(pid);
  p.in_table = true;
  return p;
}

ShellItem file_item(const std::string& name) {
  ShellItem item;
  item.class_type = 0x32;
  item.item_position = 100;
  item.name = name;
  item.short_name = "SAMPLE~1";
  item.names = {"SAMPLE~1", "localized"};
  item.extra_name_a = "secondary";
  item.file_size = 4096;
  item.modify_time = item.access_time = item.create_time = kTime;
  item.mft_entry = 0x1234;
  item.mft_seq = 7;
  item.extension_blocks.push_back({140, 78, 9, 0xBEEF0004});
  return item;
}

PropertyMap every_value(const std::vector<ShellItem>& nested) {
  PropertyMap map;
  Property text = property(10, kVtLpwstr);
  text.text = "text value";
  add_property(map, std::move(text));
  Property number = property(11, kVtUi4);
  number.number = 42;
  add_property(map, std::move(number));
  Property when = property(12, kVtFiletime);
  when.number = kTime;
  add_property(map, std::move(when));
  Property blob = property(13, kVtBlob);
  blob.bytes = {0xDE, 0xAD};
  blob.idlists.push_back(nested);
  add_property(map, std::move(blob));
  Property vector = property(14, kVtVector | kVtLpwstr);
  vector.is_vector = true;
  vector.vector_texts = {"a", "b"};
  add_property(map, std::move(vector));
  Property named;
  named.fmtid = kStringNamedSetId;
  named.string_named = true;
  named.name = "CustomName";
  named.vartype = kVtBool;
  named.number = 0xFFFF;
  add_property(map, std::move(named));
  return map;
}

LnkRecord full_record() {
  LnkRecord r;
  r.source_type = "JMPLIST (carved allocated)";
  r.lnk_offset = 0x600;
  r.jumplist_kind = JumplistKind::with_destlist;
  r.mru_index = 3;
  r.stream_number = 5;
  r.mru_time = kTime;
  r.destlist_netbios = "host-pc";
  r.destlist_path = "C:\\Users\\alice\\report.docx";
  r.destlist = {true, 2, true, 17, "11111111-2222-3333-4444-555555555555", "66666666-7777-11ee-8888-000c293a5b7c",
                "99999999-2222-3333-4444-555555555555", "aaaaaaaa-7777-11ee-8888-000c293a5b7c"};
  r.header.header_size = 0x4C;
  r.header.link_flags = 0xFF;
  r.header.file_attributes = 0x20;
  r.header.creation_time = r.header.access_time = r.header.write_time = kTime;
  r.header.file_size = 4096;
  r.header.show_command = 1;
  r.parsed_size = 900;

  ShellItem root;
  root.class_type = 0x1F;
  root.item_position = 78;
  root.guids.push_back(guid_literal("20D04FE0-3AEA-1069-A2D8-08002B30309D"));
  root.guid_names.push_back("{CLSID_My Computer}");
  ShellItem file = file_item("sample.txt");
  file.extra_list.push_back({"Created [guess]: ", kTime, true});
  file.extra_list.push_back({"plain note", 0, false});
  file.children.push_back(file_item("child.txt"));
  file.embedded_idlists.push_back({file_item("embedded.txt")});
  file.property_map_first = every_value({file_item("in value.txt")});
  r.shell_items = {root, file};
  r.target_mft_entry = file.mft_entry;
  r.target_mft_seq = file.mft_seq;

  r.link_info_flags = 3;
  r.volume_id_offset = 200;
  r.drive_type_code = 3;
  r.drive_type = "fixed";
  r.drive_serial_number = 0x12345678;
  r.volume_serial = "1234-5678";
  r.volume_label = "DATA";
  r.net_link_offset = 240;
  r.net_name = "\\\\server\\share";
  r.device_name = "Z:";
  r.local_base_path_offset = 260;
  r.local_base_path = "C:\\sample.txt";
  r.common_path_suffix_offset = 280;
  r.common_path_suffix = "sample.txt";
  r.name_string = "description";
  r.relative_path = ".\\sample.txt";
  r.working_dir = "C:\\";
  r.command_line_arguments = "/x";
  r.icon_location = "shell32.dll";
  r.ansi_texts = kAnsiVolumeLabel | kAnsiLocalBasePath | kAnsiNetName;

  for (size_t slot = 0; slot < kBlockSlotCount; ++slot) r.block_offsets[slot] = 300 + 40 * slot;
  r.env_target = "%windir%\\sample.txt";
  r.console.face_name = "Consolas";
  r.machine_id = "host-pc";
  r.droid_volume_id = r.birth_droid_volume_id = "76543210-ba98-4edc-8f01-23456789abcd";
  r.droid_object_id = r.birth_droid_object_id = "3f2a9c10-9a1b-11ee-a107-000c293a5b7c";
  r.droid_mac = r.birth_droid_mac = "00:0c:29:3a:5b:7c";
  r.droid_time = r.birth_droid_time = kTime;
  r.code_page = 437;
  r.special_folder_id = 2;
  r.special_folder_name = "CSIDL_PROGRAMS";
  r.darwin_descriptor = "descriptor";
  r.darwin_product = "00000000-0000-0000-0000-000000000000";
  r.darwin_feature = "Feature";
  r.darwin_component = "00000000-0000-0000-0000-000000000000";
  r.icon_env_target = "%windir%\\icon.ico";
  r.shim_layer = "WinXPSp3";
  r.property_store = every_value({});
  r.storage_format_name = "{CLSID_Sample}";
  r.known_folder_id = "905e63b6-c1bf-494e-b29c-65b732d3d21a";
  r.vista_shell_items = {root};
  return r;
}

}  // namespace

int main() {
  useropts options;
  options.layout = Layout::json;
  options.username = "examiner";
  options.username_given = true;
  options.hostname = "workstation";
  options.hostname_given = true;
  OutputSink out;
  RecordWriter writer(out, options);

  SourceInfo volume;
  volume.volume_name = "\\\\.\\C:";
  volume.vmdk_paths = {"a.vmdk", "b.vmdk"};
  volume.source_path = "C:\\Users\\x\\AutomaticDestinations\\1b4dd67f29cb1962.automaticDestinations-ms";
  volume.source_file_size = 8192;
  volume.source_modified = volume.source_accessed = volume.source_created = kTime;
  volume.source_mft_changed = kTime;
  volume.src_inode = 0x2A;
  volume.src_seq = 2;
  volume.app_id = "1b4dd67f29cb1962";
  volume.app_name = "Windows Explorer";
  volume.mft_scan = true;
  volume.shadow_copy = 2;
  volume.shadow_copy_created = 132223104000000000ull;
  volume.volume_path = "[root]\\Users\\x\\AutomaticDestinations\\1b4dd67f29cb1962.automaticDestinations-ms";
  volume.deleted = true;
  volume.data_attribute_id = 3;

  LnkRecord record = full_record();
  writer.write(record, volume);
  record.from_slack = true;
  writer.write(record, volume);
  SourceInfo carved = volume;
  carved.volume_path.clear();
  carved.carve_label = "Unalloc";
  writer.write(record, carved);
  record.jumplist_kind = JumplistKind::without_destlist;
  record.block_offsets[kBlockVistaIdList] = 0;
  writer.write(record, volume);
  // A jump list in a named stream of a file of two names, read from a torn
  // MFT record.
  SourceInfo streamed = volume;
  streamed.stream = "5f7b5f1e01b83767.automaticDestinations-ms";
  streamed.volume_path = "[root]\\Users\\x\\readme.txt:" + streamed.stream;
  streamed.other_paths = {"[root]\\old\\readme.txt:" + streamed.stream};
  streamed.damaged_record = true;
  writer.write(record, streamed);
  return 0;
}
