#include "tests/lnk_builder.h"

namespace lnk::test {
namespace {

void put_le(Bytes& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void set_le(Bytes& out, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

template <class Container>
void append(Bytes& out, const Container& more) {
  out.insert(out.end(), more.begin(), more.end());
}

void put_ansiz(Bytes& out, const std::string& text) {
  append(out, text);
  out.push_back(0);
}

}  // namespace

void put_u16(Bytes& out, uint16_t v) { put_le(out, v, 2); }
void put_u32(Bytes& out, uint32_t v) { put_le(out, v, 4); }
void put_u64(Bytes& out, uint64_t v) { put_le(out, v, 8); }
void set_u16(Bytes& out, size_t at, uint16_t v) { set_le(out, at, v, 2); }
void set_u32(Bytes& out, size_t at, uint32_t v) { set_le(out, at, v, 4); }

Bytes utf16le(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size();) {
    uint8_t lead = static_cast<uint8_t>(text[i]);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put_u16(out, static_cast<uint16_t>(0xD800 + (cp >> 10)));
      cp = 0xDC00 + (cp & 0x3FF);
    }
    put_u16(out, static_cast<uint16_t>(cp));
  }
  return out;
}

Bytes item_id(const Bytes& body) {
  Bytes out;
  put_u16(out, static_cast<uint16_t>(body.size() + 2));
  append(out, body);
  return out;
}

Bytes extra_block(uint32_t signature, const Bytes& payload) {
  Bytes out;
  put_u32(out, static_cast<uint32_t>(payload.size() + 8));
  put_u32(out, signature);
  append(out, payload);
  return out;
}

namespace {

Bytes volume_id(const VolumeIdFields& fields) {
  Bytes out;
  // VolumeIDSize (set below), DriveType, DriveSerialNumber, VolumeLabelOffset
  for (uint32_t v : {0u, fields.drive_type, fields.serial, 0x10u}) put_u32(out, v);
  put_ansiz(out, fields.label);
  set_u32(out, 0, static_cast<uint32_t>(out.size()));
  return out;
}

Bytes net_link(const NetLinkFields& fields) {
  Bytes out;
  // Size and DeviceNameOffset are set below; the provider type is WNNC_NET_LANMAN.
  for (uint32_t v : {0u, fields.device_name.empty() ? 0x02u : 0x03u, 0x14u, 0u, 0x00020000u}) put_u32(out, v);
  put_ansiz(out, fields.net_name);
  if (!fields.device_name.empty()) {
    set_u32(out, 12, static_cast<uint32_t>(out.size()));
    put_ansiz(out, fields.device_name);
  }
  set_u32(out, 0, static_cast<uint32_t>(out.size()));
  return out;
}

constexpr uint32_t kHasIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kIsUnicode = 0x80;

Bytes link_info_bytes(const LinkInfoFields& fields) {
  Bytes out;
  // LinkInfoSize, then the four offsets, are set below.
  for (uint32_t v : {0u, fields.header_size, (fields.volume ? 0x01u : 0u) | (fields.net ? 0x02u : 0u), 0u, 0u, 0u, 0u})
    put_u32(out, v);
  if (fields.volume) {
    set_u32(out, 12, static_cast<uint32_t>(out.size()));
    append(out, volume_id(*fields.volume));
  }
  if (fields.local_base_path) {
    set_u32(out, 16, static_cast<uint32_t>(out.size()));
    put_ansiz(out, *fields.local_base_path);
  }
  if (fields.net) {
    set_u32(out, 20, static_cast<uint32_t>(out.size()));
    append(out, net_link(*fields.net));
  }
  set_u32(out, 24, static_cast<uint32_t>(out.size()));
  put_ansiz(out, fields.common_path_suffix);
  set_u32(out, 0, fields.size_override.value_or(static_cast<uint32_t>(out.size())));
  return out;
}

}  // namespace

Bytes LnkBuilder::build(Layout* layout) const {
  Layout where;
  uint32_t flags = link_flags | (idlist_items ? kHasIdList : 0) | (link_info ? kHasLinkInfo : 0) |
                   (unicode_strings ? kIsUnicode : 0);
  for (size_t i = 0; i < strings.size(); ++i) flags |= strings[i] ? 0x04u << i : 0;

  Bytes out;
  put_u32(out, header_size);
  append(out, clsid);
  for (uint32_t v : {flags, file_attributes}) put_u32(out, v);
  for (uint64_t v : {creation_time, access_time, write_time}) put_u64(out, v);
  for (uint32_t v : {file_size, static_cast<uint32_t>(icon_index), show_command}) put_u32(out, v);
  put_u32(out, hot_key);  // HotKey and Reserved1
  put_u64(out, 0);        // Reserved2 and Reserved3

  if (idlist_items) {
    put_u16(out, static_cast<uint16_t>(idlist_items->size() + 2));
    append(out, *idlist_items);
    put_u16(out, 0);
  }
  if (link_info) {
    where.link_info = out.size();
    append(out, link_info_bytes(*link_info));
  }
  for (size_t i = 0; i < strings.size(); ++i) {
    if (!strings[i]) continue;
    where.strings[i] = out.size();
    Bytes data = unicode_strings ? utf16le(*strings[i]) : Bytes(strings[i]->begin(), strings[i]->end());
    put_u16(out, string_count_override[i].value_or(static_cast<uint16_t>(data.size() / (unicode_strings ? 2 : 1))));
    append(out, data);
  }
  where.extra_data = out.size();
  for (const Bytes& block : extra_blocks) append(out, block);
  where.terminal = out.size();
  if (terminal_block) put_u32(out, 0);
  where.end = out.size();
  if (layout != nullptr) *layout = where;
  return out;
}

namespace {

uint32_t dos_date_time(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return date | (time << 16);
}

// A file entry item (0x31 folder, 0x32 file) with a version 8 (Windows 7)
// 0xbeef0004 extension block carrying the long name and the MFT reference.
Bytes file_entry_item(uint8_t class_type, uint32_t size, uint32_t modified, uint16_t attributes,
                      const std::string& short_name, const std::string& long_name, uint32_t created,
                      uint32_t accessed, uint64_t mft_entry, uint16_t mft_seq) {
  Bytes body = {class_type, 0};
  put_u32(body, size);
  put_u32(body, modified);
  put_u16(body, attributes);
  put_ansiz(body, short_name);
  if ((body.size() + 2) % 2 != 0) body.push_back(0);
  const uint16_t extension_at = static_cast<uint16_t>(body.size() + 2);
  Bytes ext;
  for (uint16_t v : {0, 8}) put_u16(ext, v);  // size (set below), version
  for (uint32_t v : {0xBEEF0004u, created, accessed, 0x2Au}) put_u32(ext, v);
  put_u64(ext, mft_entry | (uint64_t{mft_seq} << 48));
  put_u64(ext, 0);
  put_u16(ext, 0);  // no localized name
  put_u32(ext, 0);
  append(ext, utf16le(long_name));
  put_u16(ext, 0);
  put_u16(ext, extension_at);
  set_u16(ext, 0, static_cast<uint16_t>(ext.size()));
  append(body, ext);
  return item_id(body);
}

Bytes tracker_block() {
  Bytes payload;
  put_u32(payload, 0x58);
  put_u32(payload, 0);
  std::string machine = "rook-pc";
  machine.resize(16, '\0');
  append(payload, machine);
  // Volume and object identifiers; the object one is a version 1 UUID whose
  // node is the MAC 00:0c:29:3a:5b:7c.
  const Bytes volume = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0x4e,
                        0x8f, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd};
  const Bytes object = {0x10, 0x9c, 0x2a, 0x3f, 0x1b, 0x9a, 0xee, 0x11,
                        0xa1, 0x07, 0x00, 0x0c, 0x29, 0x3a, 0x5b, 0x7c};
  for (const Bytes* id : {&volume, &object, &volume, &object}) append(payload, *id);
  return extra_block(0xA0000003, payload);
}

}  // namespace

Bytes sample_shortcut() {
  LnkBuilder b;
  b.file_attributes = 0x20;  // archive
  b.creation_time = 0x1d956571d2137c0;  // 2023-03-14 09:26:53.5
  b.access_time = 0x1da3da637e57120;    // 2024-01-02 18:05:07.25
  b.write_time = 0x1da23e9528a5300;     // 2023-11-30 23:59:58
  b.file_size = 48213;
  b.icon_index = 1;
  b.show_command = 1;

  const Bytes my_computer = {0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                             0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
  Bytes volume = {0x2F, 'C', ':', '\\'};
  volume.resize(23, 0);
  const uint32_t accessed = dos_date_time(2024, 1, 2, 18, 5, 6);
  const uint32_t folder_time = dos_date_time(2023, 3, 14, 9, 20, 0);
  b.idlist_items = Bytes{};
  for (const Bytes& item :
       {item_id(my_computer), item_id(volume),
        file_entry_item(0x31, 0, folder_time, 0x10, "Projects", "Projects", folder_time, accessed, 91532, 3),
        file_entry_item(0x32, 48213, dos_date_time(2023, 11, 30, 23, 59, 58), 0x20, "REPORT~1.DOC",
                        "Report 2023.docx", dos_date_time(2023, 3, 14, 9, 26, 52), accessed, 104877, 1)}) {
    append(*b.idlist_items, item);
  }

  LinkInfoFields info;
  info.volume = VolumeIdFields{3, 0x5C1E2F3A, "SYSTEM"};
  info.local_base_path = "C:\\Projects\\Report 2023.docx";
  b.link_info = info;

  b.strings[kName] = "Quarterly report";
  b.strings[kRelativePath] = "..\\..\\..\\..\\..\\Projects\\Report 2023.docx";
  b.strings[kWorkingDir] = "C:\\Projects";
  b.strings[kArguments] = "/safe";
  b.strings[kIconLocation] = "%SystemRoot%\\System32\\shell32.dll";
  b.extra_blocks.push_back(tracker_block());
  return b.build();
}

}  // namespace lnk::test
