#include "shellitems/property_names.h"

#include <algorithm>

namespace lnk {

const windows_propid& property_name_table() {
  static const windows_propid table = [] {
    windows_propid built;
    for (size_t i = 0; i < kPropertyNameRowCount; ++i) {
      const PropertyNameRow& row = kPropertyNameRows[i];
      Guid fmtid{};
      std::copy(std::begin(row.fmtid), std::end(row.fmtid), fmtid.begin());
      PropertyNameEntry entry;
      entry.pid = row.pid;
      entry.display_name = row.name;
      entry.flags = row.flags;
      entry.role = row.role;
      built[fmtid].emplace(row.pid, std::move(entry));
    }
    return built;
  }();
  return table;
}

const PropertyNameEntry* lookup_property_name(const Guid& fmtid, uint32_t pid) {
  const windows_propid& table = property_name_table();
  auto set = table.find(fmtid);
  if (set == table.end()) return nullptr;
  auto entry = set->second.find(pid);
  return entry == set->second.end() ? nullptr : &entry->second;
}

void name_property(Property& property) {
  if (const PropertyNameEntry* entry = lookup_property_name(property.fmtid, property.pid)) {
    property.name = entry->display_name;
    property.table_flags = entry->flags;
    property.name_role = entry->role;
    property.in_table = true;
  } else {
    property.name = "unk";
  }
}

}  // namespace lnk
