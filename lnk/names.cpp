#include "lnk/names.h"

namespace lnk {

std::string link_flags_text(uint32_t) { return {}; }
std::string show_command_text(uint32_t) { return "unk"; }
std::string drive_type_text(uint32_t) { return "unk"; }
std::string file_attributes_text(uint32_t, const std::string&) { return {}; }
std::string short_attributes_text(uint32_t) { return {}; }
std::string csidl_text(int32_t) { return "unk"; }
std::string control_panel_category_text(uint32_t) { return "<unk>"; }
std::string sfgao_text(uint32_t) { return {}; }

}  // namespace lnk
