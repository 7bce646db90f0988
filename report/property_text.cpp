#include "report/property_text.h"

#include <cstring>

#include "lnk/names.h"
#include "platform/text.h"
#include "report/time_format.h"
#include "shellitems/property_names.h"
#include "shellitems/property_value.h"

namespace lnk {
namespace {

bool listed_type(uint16_t vartype) {
  switch (vartype) {
    case kVtLpwstr: case kVtBstr: case kVtLpstr: case kVtFiletime: case kVtDate: return true;
    default: return false;
  }
}

bool is_text_type(uint16_t vartype) {
  return vartype == kVtLpwstr || vartype == kVtLpstr || vartype == kVtBstr;
}

std::string listing_name(const Property& p) {
  std::string name = guid_text(p.fmtid) + "/";
  if (p.string_named) return name + p.name;
  if (p.in_table && !p.name.empty()) return name + p.name;
  return name + "0x" + hex_lower(p.pid, 2);
}

// A valid instant as date, blank, time; empty when not valid.
std::string stamp_text(const TimeValue& t) {
  if (!t.valid) return {};
  return compact_stamp(t);
}

std::string listing_value(const Property& p, const cmd_params& options) {
  if (p.vartype == kVtFiletime) {
    std::string stamp = stamp_text(TimeValue::from_filetime(p.number));
    return stamp.empty() ? "0x" + hex_lower(p.number, 1) : stamp + " [UTC]";
  }
  if (p.vartype == kVtDate) {
    std::string stamp = stamp_text(TimeValue::from_ole_date(p.real));
    if (!stamp.empty()) return stamp + " [UTC]";
    return options.sizes_in_hex ? "0x" + hex_lower(p.number, 8) : std::to_string(p.number);
  }
  return p.text;
}

// "name : value", or the value alone when the property has no name.
std::string entry(const std::string& name, const std::string& value) {
  return name.empty() ? value : name + " : " + value;
}

bool contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

// Canonical names carry a "System." style prefix; the exclusions match the last part.
std::string last_name_part(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

void add_note(const std::string& text, std::vector<std::string>& notes,
              std::set<std::string>& added) {
  if (text.empty() || !added.insert(text).second) return;
  notes.push_back(text);
}

std::string property_note(const Property& p, const cmd_params& options) {
  if (p.is_vector) return {};
  switch (p.vartype) {
    case kVtDate: {
      std::string stamp = stamp_text(TimeValue::from_ole_date(p.real));
      return stamp.empty() ? std::string() : entry(p.name, stamp + " [local]");
    }
    case kVtFiletime: {
      std::string stamp = stamp_text(TimeValue::from_filetime(p.number));
      return stamp.empty() ? std::string() : entry(p.name, stamp + " [UTC]");
    }
    case kVtUi4: case kVtInt: {
      uint32_t value = static_cast<uint32_t>(p.number);
      if (p.table_flags & kPropSfgao) return "Flags : " + sfgao_text(value);
      if (!contains(p.name, "Time") && !contains(p.name, "Attrib")) {
        if ((p.table_flags & kPropAttributeName) && value >= 1 && value <= 4) {
          return entry(p.name, file_attributes_text(value, "; "));
        }
        return {};
      }
      return entry(p.name, options.sizes_in_hex ? "0x" + hex_lower(value, 8)
                                                : std::to_string(value));
    }
    case kVtUi8:
      if (!contains(p.name, "Size") && !contains(p.name, "Time") &&
          !contains(p.name, "Thumbnail") && (p.table_flags & kPropDescribe64) == 0) {
        return {};
      }
      return entry(p.name, options.sizes_in_hex ? "0x" + hex_lower(p.number, 16)
                                                : std::to_string(p.number));
    default:
      return {};
  }
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

void describe_map(const PropertyMap& map, std::vector<std::string>& notes,
                  std::set<std::string>& added, const cmd_params& options) {
  for (const auto& [key, p] : map) {
    if (is_text_type(p.vartype) && !p.is_vector) {
      std::string part = last_name_part(p.name);
      if (part != "Type" && part != "ParsingName") add_note(entry(p.name, p.text), notes, added);
      if (starts_with(p.text, "Provider\\M") || starts_with(p.text, "Layered\\M") ||
          starts_with(p.text, "\\\\")) {
        add_note("ID : " + p.text, notes, added);
      }
    } else {
      add_note(property_note(p, options), notes, added);
    }
  }
}

}  // namespace

void list_properties(const PropertyMap& properties, std::vector<std::string>& names,
                     std::vector<std::string>& values, const cmd_params& options) {
  names.clear();
  values.clear();
  for (const auto& [key, p] : properties) {
    if (p.is_vector || !listed_type(p.vartype)) continue;
    names.push_back(listing_name(p));
    values.push_back(listing_value(p, options));
  }
}

void describe_item_properties(const ShellItem& item, std::vector<std::string>& notes,
                              std::set<std::string>& added, const cmd_params& options) {
  describe_map(item.property_map_first, notes, added, options);
  describe_map(item.property_map_second, notes, added, options);
}

}  // namespace lnk
