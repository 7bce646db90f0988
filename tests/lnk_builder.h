// Writes shortcut records field by field so tests can make exact records.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lnk::test {

using Bytes = std::vector<uint8_t>;

void put_u16(Bytes& out, uint16_t v);
void put_u32(Bytes& out, uint32_t v);
void put_u64(Bytes& out, uint64_t v);
void set_u16(Bytes& out, size_t at, uint16_t v);
void set_u32(Bytes& out, size_t at, uint32_t v);
// UTF-8 to UTF-16LE code units, no terminator.
Bytes utf16le(const std::string& text);

// One ItemID: its u16 size followed by the given bytes.
Bytes item_id(const Bytes& body);
// An ExtraData block: BlockSize, BlockSignature and payload.
Bytes extra_block(uint32_t signature, const Bytes& payload);

struct VolumeIdFields {
  uint32_t drive_type = 3;
  uint32_t serial = 0;
  std::string label;
};

struct NetLinkFields {
  std::string net_name;
  std::string device_name;
};

struct LinkInfoFields {
  std::optional<VolumeIdFields> volume;
  std::optional<std::string> local_base_path;
  std::optional<NetLinkFields> net;
  std::string common_path_suffix;
  uint32_t header_size = 0x1C;
  std::optional<uint32_t> size_override;
};

// Where each part landed in the last build.
struct Layout {
  size_t link_info = 0;
  std::array<size_t, 5> strings{};
  size_t extra_data = 0;
  size_t terminal = 0;
  size_t end = 0;
};

enum StringIndex { kName, kRelativePath, kWorkingDir, kArguments, kIconLocation };

struct LnkBuilder {
  // Header; link_flags gets the bits of the parts present OR-ed in.
  uint32_t header_size = 0x4C;
  std::array<uint8_t, 16> clsid = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  uint32_t link_flags = 0;
  uint32_t file_attributes = 0;
  uint64_t creation_time = 0;
  uint64_t access_time = 0;
  uint64_t write_time = 0;
  uint32_t file_size = 0;
  int32_t icon_index = 0;
  uint32_t show_command = 1;
  uint16_t hot_key = 0;

  // The ItemIDs (each with its size) without the TerminalID.
  std::optional<Bytes> idlist_items;

  std::optional<LinkInfoFields> link_info;

  bool unicode_strings = true;  // also sets IsUnicode
  std::array<std::optional<std::string>, 5> strings;
  std::array<std::optional<uint16_t>, 5> string_count_override;

  std::vector<Bytes> extra_blocks;
  bool terminal_block = true;

  Bytes build(Layout* layout = nullptr) const;
};

// The record committed as tests/data/sample.lnk: C:\Projects\Report 2023.docx
// on a fixed drive, with every StringData string and a tracker block.
Bytes sample_shortcut();

}  // namespace lnk::test
