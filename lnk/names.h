// Names of the numeric fields of the shortcut format and the file system.
#pragma once

#include <cstdint>
#include <string>

namespace lnk {

std::string link_flags_text(uint32_t link_flags);
std::string show_command_text(uint32_t show_command);
std::string drive_type_text(uint32_t drive_type);
std::string file_attributes_text(uint32_t attributes, const std::string& separator);
std::string short_attributes_text(uint32_t attributes);
std::string csidl_text(int32_t special_folder_id);
std::string sfgao_text(uint32_t attributes);

}  // namespace lnk
