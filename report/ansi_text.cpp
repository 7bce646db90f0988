#include "report/ansi_text.h"

#include <algorithm>
#include <span>

#include "platform/platform.h"

namespace lnk {
namespace {

struct AnsiField {
  uint32_t bit;
  std::string LnkRecord::*text;
};

constexpr AnsiField kAnsiFields[] = {
    {kAnsiVolumeLabel, &LnkRecord::volume_label},
    {kAnsiNetName, &LnkRecord::net_name},
    {kAnsiDeviceName, &LnkRecord::device_name},
    {kAnsiLocalBasePath, &LnkRecord::local_base_path},
    {kAnsiCommonPathSuffix, &LnkRecord::common_path_suffix},
    {kAnsiNameString, &LnkRecord::name_string},
    {kAnsiRelativePath, &LnkRecord::relative_path},
    {kAnsiWorkingDir, &LnkRecord::working_dir},
    {kAnsiArguments, &LnkRecord::command_line_arguments},
    {kAnsiIconLocation, &LnkRecord::icon_location},
    {kAnsiEnvTarget, &LnkRecord::env_target},
    {kAnsiIconEnvTarget, &LnkRecord::icon_env_target},
    {kAnsiMachineId, &LnkRecord::machine_id},
    {kAnsiDarwin, &LnkRecord::darwin_descriptor},
    {kAnsiDarwin, &LnkRecord::darwin_feature},
};

bool beyond_ascii(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Shell items hold their ANSI texts with each byte read as the character of
// the same number; this gives the bytes back. False when the text holds a
// character above U+00FF, which no byte gives.
bool bytes_of_byte_characters(const std::string& text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      bytes.push_back(static_cast<char>(c));
    } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size()) {
      const unsigned char next = static_cast<unsigned char>(text[++i]);
      bytes.push_back(static_cast<char>(((c & 0x03) << 6) | (next & 0x3F)));
    } else {
      return false;
    }
  }
  return true;
}

bool items_have_ansi(const std::vector<ShellItem>& items);

bool map_has_ansi(const PropertyMap& map) {
  for (const auto& [key, p] : map)
    for (const auto& list : p.idlists)
      if (items_have_ansi(list)) return true;
  return false;
}

bool items_have_ansi(const std::vector<ShellItem>& items) {
  for (const ShellItem& item : items) {
    if (!item.ansi_texts.empty() || items_have_ansi(item.children) ||
        map_has_ansi(item.property_map_first) || map_has_ansi(item.property_map_second))
      return true;
    for (const auto& list : item.embedded_idlists)
      if (items_have_ansi(list)) return true;
  }
  return false;
}

void decode_items(std::vector<ShellItem>& items, uint32_t codepage);

void decode_map(PropertyMap& map, uint32_t codepage) {
  for (auto& [key, p] : map)
    for (auto& list : p.idlists) decode_items(list, codepage);
}

void decode_item(ShellItem& item, uint32_t codepage) {
  if (!item.ansi_texts.empty()) {
    std::string bytes;
    auto decode = [&](std::string& text) {
      if (text.empty()) return;
      if (std::find(item.ansi_texts.begin(), item.ansi_texts.end(), text) == item.ansi_texts.end())
        return;
      if (bytes_of_byte_characters(text, bytes)) text = decode_ansi(bytes, codepage);
    };
    decode(item.name);
    decode(item.short_name);
    decode(item.extra_name_a);
    decode(item.extra_name_b);
    for (std::string& name : item.names) decode(name);
    item.ansi_texts.clear();
  }
  decode_items(item.children, codepage);
  for (auto& list : item.embedded_idlists) decode_items(list, codepage);
  decode_map(item.property_map_first, codepage);
  decode_map(item.property_map_second, codepage);
}

void decode_items(std::vector<ShellItem>& items, uint32_t codepage) {
  for (ShellItem& item : items) decode_item(item, codepage);
}

}  // namespace

uint32_t layout_code_page(const cmd_params& options) {
  return options.codepage != 0 ? options.codepage : platform::default_ansi_code_page();
}

std::string decode_ansi(const std::string& bytes, uint32_t codepage) {
  return platform::ansi_to_utf8(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), codepage);
}

bool has_ansi_beyond_ascii(const LnkRecord& record) {
  for (const AnsiField& field : kAnsiFields)
    if ((record.ansi_texts & field.bit) != 0 && beyond_ascii(record.*field.text)) return true;
  return items_have_ansi(record.shell_items) || items_have_ansi(record.vista_shell_items) ||
         map_has_ansi(record.property_store);
}

void decode_ansi_texts(LnkRecord& record, uint32_t codepage) {
  for (const AnsiField& field : kAnsiFields) {
    std::string& text = record.*field.text;
    if ((record.ansi_texts & field.bit) != 0 && beyond_ascii(text)) text = decode_ansi(text, codepage);
  }
  decode_items(record.shell_items, codepage);
  decode_items(record.vista_shell_items, codepage);
  decode_map(record.property_store, codepage);
}

}  // namespace lnk
