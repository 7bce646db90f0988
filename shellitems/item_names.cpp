#include "shellitems/item_names.h"

namespace lnk {
namespace {

struct ValueName {
  uint32_t value;
  const char* name;
};

const ValueName kControlPanelCategories[] = {
    {0, "All Control Panel Items"},
    {1, "Appearance and Personalization"},
    {2, "Hardward and Sound"},  // misspelling kept: reports get compared with earlier output
    {3, "Network and Internet"},
    {4, "Sounds, Speech, and Audio Devices"},
    {5, "System and Security"},
    {6, "Clock, Language, and Region"},
    {7, "Ease of Access"},
    {8, "Programs"},
    {9, "User Accounts"},
    {10, "Security Center"},
    {11, "Mobile PC"},
};

}  // namespace

std::string control_panel_category_text(uint32_t category) {
  for (const ValueName& entry : kControlPanelCategories)
    if (entry.value == category) return entry.name;
  return "<unk>";
}

}  // namespace lnk
