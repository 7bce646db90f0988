// Names of the numbered categories shell items refer to.
#pragma once

#include <cstdint>
#include <string>

namespace lnk {

// The Control Panel category of a category item; "<unk>" for an unknown one.
std::string control_panel_category_text(uint32_t category);

}  // namespace lnk
