#include "shellitems/guid_names.h"

#include <map>

#include "platform/text.h"

namespace lnk {

namespace {

// std::array compares byte by byte as unsigned values, first byte most
// significant, which is the order the table is keyed by.
const std::map<Guid, std::string>& guid_table() {
  static const std::map<Guid, std::string> table = [] {
    std::map<Guid, std::string> built;
    for (size_t i = 0; i < kGuidNameRowCount; ++i)
      built.emplace(kGuidNameRows[i].guid, kGuidNameRows[i].name);
    return built;
  }();
  return table;
}

bool bytes_equal(const Guid& g, size_t from, std::initializer_list<uint8_t> expected) {
  size_t i = from;
  for (uint8_t b : expected)
    if (g[i++] != b) return false;
  return true;
}

// Product families that stamp their own GUID series: Visio and Office.
std::string family_name(const Guid& g) {
  uint16_t data2 = g[4] | (g[5] << 8);
  uint16_t data3 = g[6] | (g[7] << 8);
  if (data2 == 0x6D54 && data3 == 0x11D4 &&
      bytes_equal(g, 8, {0xBE, 0xE3, 0x00, 0xC0, 0x4F, 0x99, 0x03, 0x54}))
    return "Visio";
  if (bytes_equal(g, 9, {0, 0, 0, 0, 0x0F, 0xF1, 0xCE})) return "Microsoft Office";
  if (data2 == 0x6000 && data3 == 0x11D3 &&
      (bytes_equal(g, 8, {0x8C, 0xFE, 0x01, 0x50, 0x04, 0x83, 0x83, 0xC9}) ||
       bytes_equal(g, 8, {0x8C, 0xFE, 0x00, 0x50, 0x04, 0x83, 0x83, 0xC9})))
    return "Microsoft Office";
  return {};
}

}  // namespace

std::string lookup_guid_name(const Guid& guid, bool& found) {
  const auto& table = guid_table();
  auto hit = table.find(guid);
  std::string name = hit != table.end() ? hit->second : family_name(guid);
  found = !name.empty();
  if (!found) return guid_text(guid);
  return "{CLSID_" + name + "}";
}

std::string guid_name_text(const Guid& guid) {
  bool found = false;
  std::string text = lookup_guid_name(guid, found);
  return found ? text : std::string();
}

std::string clsid_prefix(const std::string& text) { return "CLSID_{" + text; }

}  // namespace lnk
