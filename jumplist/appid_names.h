// Application names of jump-list AppIDs, and the AppID a jump list's file
// name carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/source_info.h"

namespace lnk {

struct AppIdNameRow {
  uint64_t app_id;
  const char* name;
};

// The generated rows; an earlier row wins a duplicate AppID.
extern const AppIdNameRow kAppIdNameRows[];
extern const size_t kAppIdNameRowCount;

// The hexadecimal digits (13 to 16: Windows drops leading zeros) that end
// the file name before its extension, lower-cased; empty when there are none.
std::string app_id_from_file_name(const std::string& path);

// True for the two jump-list extensions, in any case.
bool has_jump_list_extension(const std::string& path);

// The application name known for an AppID text; empty when unknown.
std::string lookup_app_name(const std::string& app_id);

// Windows names a jump list by the AppID of the application it belongs to:
// a file whose name has a jump-list extension gives its records that AppID
// and the application's name.
void name_jump_list_application(const std::string& file_name, SourceInfo& source);

}  // namespace lnk
