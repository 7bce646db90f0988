#include "shellitems/property_store.h"

namespace lnk {

// Property decoding arrives with the property-store work; until then stores
// yield nothing.
bool parse_property_store(PropertyMap&, ByteReader, DecodeContext&, const useropts&) {
  return false;
}

void list_properties(const PropertyMap&, std::vector<std::string>& names,
                     std::vector<std::string>& values, const useropts&) {
  names.clear();
  values.clear();
}

std::string property_item_name(const ShellItem&, std::string& custom_fallback) {
  custom_fallback.clear();
  return {};
}

void describe_item_properties(ShellItem&, std::vector<std::string>&, std::set<std::string>&,
                              const useropts&) {}

}  // namespace lnk
