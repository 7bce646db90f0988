#include "lnk/link_info.h"

#include <cstdio>

#include "lnk/names.h"

namespace lnk {
namespace {

// LinkInfo header fields.
constexpr uint64_t kLinkInfoSizeField = 0;
constexpr uint64_t kLinkInfoHeaderSizeField = 4;
constexpr uint64_t kLinkInfoFlagsField = 8;
constexpr uint64_t kVolumeIdOffsetField = 12;
constexpr uint64_t kLocalBasePathOffsetField = 16;
constexpr uint64_t kNetLinkOffsetField = 20;
constexpr uint64_t kCommonPathSuffixOffsetField = 24;
constexpr uint64_t kLinkInfoMinSize = 0x1C;
// Real LinkInfo sections are a few hundred bytes; anything this large is
// garbage that would swallow the StringData.
constexpr uint64_t kLinkInfoSizeLimit = 0x500;
constexpr uint32_t kHeaderSizeBadBit = 0x80000000u;

// VolumeID fields.
constexpr uint64_t kDriveTypeField = 4;
constexpr uint64_t kDriveSerialField = 8;
constexpr uint64_t kVolumeLabelOffsetField = 12;
constexpr uint64_t kVolumeLabelAnsi = 16;
// Only the ANSI label layout is read; 0x14 announces a Unicode label.
constexpr uint32_t kAnsiLabelOffset = 0x10;
constexpr uint64_t kVolumeIdMinTail = 17;

// CommonNetworkRelativeLink fields.
constexpr uint64_t kNetLinkSizeField = 0;
constexpr uint64_t kNetNameOffsetField = 8;
constexpr uint64_t kDeviceNameOffsetField = 12;
constexpr uint64_t kNetLinkMinTail = 20;
constexpr uint32_t kNetTextOffsetLimit = 2048;

// Zero-terminated ANSI text at off, ending at the end of the bytes when the
// terminator is missing.
std::string ansi_text(const ByteReader& bytes, uint64_t off) {
  return bytes.ansiz(off, bytes.size());
}

void read_volume_id(LnkRecord& record, const ByteReader& bytes, uint64_t volume) {
  record.volume_id_offset = static_cast<uint32_t>(volume);
  if (bytes.u32(volume + kVolumeLabelOffsetField) == kAnsiLabelOffset &&
      bytes.u8(volume + kVolumeLabelAnsi) != 0) {
    record.volume_label = ansi_text(bytes, volume + kVolumeLabelAnsi);
    record.ansi_texts |= kAnsiVolumeLabel;
  }
  record.drive_type_code = bytes.u32(volume + kDriveTypeField);
  record.drive_type = drive_type_text(record.drive_type_code);
  uint32_t serial = bytes.u32(volume + kDriveSerialField);
  record.drive_serial_number = serial;
  char text[16];
  std::snprintf(text, sizeof text, "%02x%02x-%02x%02x", (serial >> 24) & 0xFF,
                (serial >> 16) & 0xFF, (serial >> 8) & 0xFF, serial & 0xFF);
  record.volume_serial = text;
}

std::string net_link_text(const ByteReader& bytes, uint64_t link, uint32_t link_size,
                          uint64_t offset_field) {
  uint32_t text_offset = bytes.u32(link + offset_field);
  if (text_offset == 0 || text_offset >= link_size || text_offset >= kNetTextOffsetLimit) return {};
  return ansi_text(bytes, link + text_offset);
}

void read_net_link(LnkRecord& record, const ByteReader& bytes, uint64_t link) {
  record.net_link_offset = static_cast<uint32_t>(link);
  uint32_t link_size = bytes.u32(link + kNetLinkSizeField);
  record.net_name = net_link_text(bytes, link, link_size, kNetNameOffsetField);
  record.device_name = net_link_text(bytes, link, link_size, kDeviceNameOffsetField);
  record.ansi_texts |= kAnsiNetName | kAnsiDeviceName;
}

// A path text whose offset field is positive and lands inside the bytes.
bool path_text(const ByteReader& bytes, uint64_t pos, uint64_t offset_field, uint32_t& offset_out,
               std::string& text_out) {
  int32_t offset = bytes.i32(pos + offset_field);
  if (offset <= 0 || pos + static_cast<uint64_t>(offset) >= bytes.size()) return false;
  uint64_t at = pos + static_cast<uint64_t>(offset);
  offset_out = static_cast<uint32_t>(at);
  if (bytes.u8(at) != 0) text_out = ansi_text(bytes, at);
  return true;
}

}  // namespace

void read_link_info(LnkRecord& record, const ByteReader& bytes, uint64_t& pos) {
  const uint64_t length = bytes.size();
  if (pos + 28 >= length) return;
  uint32_t info_size = bytes.u32(pos + kLinkInfoSizeField);
  uint32_t header_size = bytes.u32(pos + kLinkInfoHeaderSizeField);
  if (info_size < kLinkInfoMinSize || info_size >= kLinkInfoSizeLimit ||
      (header_size & kHeaderSizeBadBit) != 0 || pos + info_size >= length) {
    return;
  }
  // The LinkInfoFlags are not trusted: each part is read when its offset is set.
  int32_t volume_offset = bytes.i32(pos + kVolumeIdOffsetField);
  if (volume_offset > 0 && pos + static_cast<uint64_t>(volume_offset) + kVolumeIdMinTail < length) {
    read_volume_id(record, bytes, pos + static_cast<uint64_t>(volume_offset));
  }
  int32_t net_offset = bytes.i32(pos + kNetLinkOffsetField);
  if (net_offset > 0 && pos + static_cast<uint64_t>(net_offset) + kNetLinkMinTail < length) {
    read_net_link(record, bytes, pos + static_cast<uint64_t>(net_offset));
  }
  record.link_info_flags = bytes.u32(pos + kLinkInfoFlagsField);
  path_text(bytes, pos, kLocalBasePathOffsetField, record.local_base_path_offset,
            record.local_base_path);
  path_text(bytes, pos, kCommonPathSuffixOffsetField, record.common_path_suffix_offset,
            record.common_path_suffix);
  record.ansi_texts |= kAnsiLocalBasePath | kAnsiCommonPathSuffix;
  pos += info_size;
}

}  // namespace lnk
