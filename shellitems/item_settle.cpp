#include "shellitems/item_settle.h"

#include "shellitems/property_names.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

bool is_text_type(uint16_t vartype) {
  return vartype == kVtLpwstr || vartype == kVtLpstr || vartype == kVtBstr;
}

const Property* find_role(const PropertyMap& map, uint8_t role) {
  for (const auto& [key, p] : map) {
    if (p.name_role == role && is_text_type(p.vartype) && !p.is_vector && !p.text.empty()) return &p;
  }
  return nullptr;
}

// A FILETIME the property table marks as the item's own time fills that
// time when the item has none.
void take_time(ShellItem& item, const Property& p) {
  struct Slot {
    uint32_t flag;
    uint64_t ShellItem::*time;
  };
  static const Slot slots[] = {
      {kPropCreateTime, &ShellItem::create_time},
      {kPropModifyTime, &ShellItem::modify_time},
      {kPropAccessTime, &ShellItem::access_time},
  };
  for (const Slot& slot : slots) {
    if ((p.table_flags & slot.flag) == 0 || item.*slot.time != 0 || p.number == 0) continue;
    item.*slot.time = p.number;
  }
}

void settle_map(ShellItem& item, PropertyMap& map) {
  for (auto& [key, p] : map) {
    if (p.vartype == kVtFiletime && !p.is_vector) take_time(item, p);
    for (auto& list : p.idlists) item.embedded_idlists.push_back(std::move(list));
    p.idlists.clear();
  }
}

void settle_item(ShellItem& item) {
  if (has_properties(item) && item.name.empty()) {
    std::string custom_fallback;
    item.name = property_item_name(item, custom_fallback);
  }
  settle_map(item, item.property_map_first);
  settle_map(item, item.property_map_second);
  for (auto& list : item.embedded_idlists) settle_items(list);
  settle_items(item.children);
}

}  // namespace

bool has_properties(const ShellItem& item) {
  return !item.property_map_first.empty() || !item.property_map_second.empty();
}

void settle_items(std::vector<ShellItem>& items) {
  for (ShellItem& item : items) settle_item(item);
}

std::string property_item_name(const ShellItem& item, std::string& custom_fallback) {
  custom_fallback.clear();
  for (const PropertyMap* map : {&item.property_map_first, &item.property_map_second}) {
    for (const auto& [key, p] : *map) {
      if (p.string_named && !p.name.empty()) {
        custom_fallback = "CUSTOM_PROP_" + p.name;
        break;
      }
    }
    if (!custom_fallback.empty()) break;
  }
  for (uint8_t role : {kRolePrimaryName, kRoleName, kRoleSecondaryName}) {
    for (const PropertyMap* map : {&item.property_map_first, &item.property_map_second}) {
      if (const Property* p = find_role(*map, role)) return p->text;
    }
  }
  return {};
}

}  // namespace lnk
