#include "tests/lnk_builder.h"

namespace lnk::test {

void put_u16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void put_u32(Bytes& out, uint32_t v) {
  put_u16(out, static_cast<uint16_t>(v));
  put_u16(out, static_cast<uint16_t>(v >> 16));
}

void put_u64(Bytes& out, uint64_t v) {
  put_u32(out, static_cast<uint32_t>(v));
  put_u32(out, static_cast<uint32_t>(v >> 32));
}

void set_u16(Bytes& out, size_t at, uint16_t v) {
  out.at(at) = static_cast<uint8_t>(v);
  out.at(at + 1) = static_cast<uint8_t>(v >> 8);
}

void set_u32(Bytes& out, size_t at, uint32_t v) {
  set_u16(out, at, static_cast<uint16_t>(v));
  set_u16(out, at + 2, static_cast<uint16_t>(v >> 16));
}

Bytes utf16le(const std::string& text) {
  Bytes out;
  for (size_t i = 0; i < text.size();) {
    uint8_t lead = static_cast<uint8_t>(text[i]);
    int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) {
      cp = (cp << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      put_u16(out, static_cast<uint16_t>(0xD800 + (cp >> 10)));
      put_u16(out, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      put_u16(out, static_cast<uint16_t>(cp));
    }
  }
  return out;
}

Bytes item_id(const Bytes& body) {
  Bytes out;
  put_u16(out, static_cast<uint16_t>(body.size() + 2));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes extra_block(uint32_t signature, const Bytes& payload) {
  Bytes out;
  put_u32(out, static_cast<uint32_t>(payload.size() + 8));
  put_u32(out, signature);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

namespace {

void put_ansiz(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

Bytes volume_id(const VolumeIdFields& fields) {
  Bytes out;
  put_u32(out, 0);  // VolumeIDSize, set below
  put_u32(out, fields.drive_type);
  put_u32(out, fields.serial);
  if (fields.unicode_label) {
    put_u32(out, 0x14);
    put_u32(out, 0x14);
    Bytes label = utf16le(fields.label);
    out.insert(out.end(), label.begin(), label.end());
    put_u16(out, 0);
  } else {
    put_u32(out, 0x10);
    put_ansiz(out, fields.label);
  }
  set_u32(out, 0, static_cast<uint32_t>(out.size()));
  return out;
}

Bytes net_link(const NetLinkFields& fields) {
  Bytes out;
  put_u32(out, 0);  // CommonNetworkRelativeLinkSize, set below
  put_u32(out, fields.device_name.empty() ? 0x02 : 0x03);
  put_u32(out, 0x14);
  put_u32(out, 0);  // DeviceNameOffset, set below
  put_u32(out, fields.provider_type);
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

}  // namespace

Bytes LnkBuilder::build_link_info() const {
  const LinkInfoFields& fields = *link_info;
  Bytes out;
  uint32_t flags = (fields.volume ? 0x01u : 0u) | (fields.net ? 0x02u : 0u);
  put_u32(out, 0);  // LinkInfoSize, set below
  put_u32(out, fields.header_size);
  put_u32(out, flags);
  for (int i = 0; i < 4; ++i) put_u32(out, 0);  // the four offsets, set below
  if (fields.volume) {
    set_u32(out, 12, static_cast<uint32_t>(out.size()));
    Bytes v = volume_id(*fields.volume);
    out.insert(out.end(), v.begin(), v.end());
  }
  if (fields.local_base_path) {
    set_u32(out, 16, static_cast<uint32_t>(out.size()));
    put_ansiz(out, *fields.local_base_path);
  }
  if (fields.net) {
    set_u32(out, 20, static_cast<uint32_t>(out.size()));
    Bytes n = net_link(*fields.net);
    out.insert(out.end(), n.begin(), n.end());
  }
  set_u32(out, 24, static_cast<uint32_t>(out.size()));
  put_ansiz(out, fields.common_path_suffix);
  set_u32(out, 0, fields.size_override.value_or(static_cast<uint32_t>(out.size())));
  return out;
}

Bytes LnkBuilder::build(Layout* layout) const {
  Layout where;
  uint32_t flags = link_flags;
  if (idlist_items) flags |= kHasIdList;
  if (link_info) flags |= kHasLinkInfo;
  for (size_t i = 0; i < strings.size(); ++i) {
    if (strings[i]) flags |= 0x04u << i;
  }
  if (unicode_strings) flags |= kIsUnicode;
  flags &= ~clear_flags;

  Bytes out;
  put_u32(out, header_size);
  out.insert(out.end(), clsid.begin(), clsid.end());
  put_u32(out, flags);
  put_u32(out, file_attributes);
  put_u64(out, creation_time);
  put_u64(out, access_time);
  put_u64(out, write_time);
  put_u32(out, file_size);
  put_u32(out, static_cast<uint32_t>(icon_index));
  put_u32(out, show_command);
  put_u16(out, hot_key);
  put_u16(out, 0);
  put_u32(out, 0);
  put_u32(out, 0);

  if (idlist_items) {
    where.idlist = out.size();
    put_u16(out, idlist_size_override.value_or(static_cast<uint16_t>(idlist_items->size() + 2)));
    out.insert(out.end(), idlist_items->begin(), idlist_items->end());
    put_u16(out, 0);
  }
  if (link_info) {
    where.link_info = out.size();
    Bytes info = build_link_info();
    out.insert(out.end(), info.begin(), info.end());
  }
  for (size_t i = 0; i < strings.size(); ++i) {
    if (!strings[i]) continue;
    where.strings[i] = out.size();
    Bytes data = unicode_strings ? utf16le(*strings[i]) : Bytes(strings[i]->begin(), strings[i]->end());
    uint16_t count = static_cast<uint16_t>(unicode_strings ? data.size() / 2 : data.size());
    put_u16(out, string_count_override[i].value_or(count));
    out.insert(out.end(), data.begin(), data.end());
  }
  where.extra_data = out.size();
  for (const Bytes& block : extra_blocks) out.insert(out.end(), block.begin(), block.end());
  where.terminal = out.size();
  if (terminal_block) put_u32(out, 0);
  where.end = out.size();
  if (layout != nullptr) *layout = where;
  return out;
}

}  // namespace lnk::test

namespace lnk::test {
namespace {

uint32_t dos_date_time(int year, int month, int day, int hour, int minute, int second) {
  uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return date | (time << 16);
}

// A file entry item (0x31 folder, 0x32 file) with a version 8 (Windows 7)
// 0xbeef0004 extension block carrying the long name and the MFT reference.
Bytes file_entry_item(uint8_t class_type, uint32_t size, uint32_t modified, uint16_t attributes,
                      const std::string& short_name, const std::string& long_name,
                      uint32_t created, uint32_t accessed, uint64_t mft_entry, uint16_t mft_seq) {
  Bytes body = {class_type, 0};
  put_u32(body, size);
  put_u32(body, modified);
  put_u16(body, attributes);
  put_ansiz(body, short_name);
  if ((body.size() + 2) % 2 != 0) body.push_back(0);
  uint16_t extension_at = static_cast<uint16_t>(body.size() + 2);
  Bytes ext;
  put_u16(ext, 0);  // size, set below
  put_u16(ext, 8);
  put_u32(ext, 0xBEEF0004);
  put_u32(ext, created);
  put_u32(ext, accessed);
  put_u16(ext, 0x2A);
  put_u16(ext, 0);
  put_u64(ext, mft_entry | (uint64_t{mft_seq} << 48));
  put_u64(ext, 0);
  put_u16(ext, 0);  // no localized name
  put_u32(ext, 0);
  Bytes name = utf16le(long_name);
  ext.insert(ext.end(), name.begin(), name.end());
  put_u16(ext, 0);
  put_u16(ext, extension_at);
  set_u16(ext, 0, static_cast<uint16_t>(ext.size()));
  body.insert(body.end(), ext.begin(), ext.end());
  return item_id(body);
}

Bytes tracker_block() {
  Bytes payload;
  put_u32(payload, 0x58);
  put_u32(payload, 0);
  std::string machine = "rook-pc";
  machine.resize(16, '\0');
  payload.insert(payload.end(), machine.begin(), machine.end());
  // Volume and object identifiers; the object one is a version 1 UUID whose
  // node is the MAC 00:0c:29:3a:5b:7c.
  const Bytes volume = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0x4e,
                        0x8f, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd};
  const Bytes object = {0x10, 0x9c, 0x2a, 0x3f, 0x1b, 0x9a, 0xee, 0x11,
                        0xa1, 0x07, 0x00, 0x0c, 0x29, 0x3a, 0x5b, 0x7c};
  for (int copy = 0; copy < 2; ++copy) {
    payload.insert(payload.end(), volume.begin(), volume.end());
    payload.insert(payload.end(), object.begin(), object.end());
  }
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

  Bytes items;
  const Bytes my_computer = {0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10,
                             0xA2, 0xD8, 0x08, 0x00, 0x2B, 0x30, 0x30, 0x9D};
  Bytes volume = {0x2F, 'C', ':', '\\'};
  volume.resize(23, 0);
  Bytes folder = file_entry_item(0x31, 0, dos_date_time(2023, 3, 14, 9, 20, 0), 0x10, "Projects",
                                 "Projects", dos_date_time(2023, 3, 14, 9, 20, 0),
                                 dos_date_time(2024, 1, 2, 18, 5, 6), 91532, 3);
  Bytes file = file_entry_item(0x32, 48213, dos_date_time(2023, 11, 30, 23, 59, 58), 0x20,
                               "REPORT~1.DOC", "Report 2023.docx",
                               dos_date_time(2023, 3, 14, 9, 26, 52),
                               dos_date_time(2024, 1, 2, 18, 5, 6), 104877, 1);
  for (const Bytes& item : {item_id(my_computer), item_id(volume), folder, file}) {
    items.insert(items.end(), item.begin(), item.end());
  }
  b.idlist_items = items;

  LinkInfoFields info;
  info.volume = VolumeIdFields{3, 0x5C1E2F3A, "SYSTEM", false};
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
