// The property-name table windows_propid: (FMTID, PID) to a Windows property
// name and the flags that steer how a value is described.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

// Flag bits of a table entry that the decoders act on.
constexpr uint32_t kPropCreateTime = 0x40;
constexpr uint32_t kPropModifyTime = 0x80;
constexpr uint32_t kPropAccessTime = 0x100;
constexpr uint32_t kPropAttributeName = 0x400;
constexpr uint32_t kPropDescribe64 = 0x800;
constexpr uint32_t kPropSfgao = 0x1000;

// Which entry names an item that has none of its own.
enum PropertyNameRole : uint8_t {
  kRoleNone = 0,
  kRolePrimaryName = 1,
  kRoleName = 2,
  kRoleSecondaryName = 3,
};

// One generated row (shellitems/property_names_table.cpp).
struct PropertyNameRow {
  uint8_t fmtid[16];
  uint32_t pid;
  const char* name;
  uint32_t flags;
  uint8_t role;
};
extern const PropertyNameRow kPropertyNameRows[];
extern const size_t kPropertyNameRowCount;

struct PropertyNameEntry {
  uint32_t pid = 0;
  std::string display_name;  // empty for keys Windows does not name publicly
  std::string text_a, text_b;
  uint32_t flags = 0;
  uint8_t role = kRoleNone;
};

using windows_propid = std::map<Guid, std::map<uint32_t, PropertyNameEntry>>;

// Built on first use, lives until the program ends.
const windows_propid& property_name_table();
// nullptr when the table does not know the key.
const PropertyNameEntry* lookup_property_name(const Guid& fmtid, uint32_t pid);

// Names a property by its (fmtid, pid) from the table, "unk" when it has no row,
// and copies the row's flags and naming role.
void name_property(Property& property);

}  // namespace lnk
