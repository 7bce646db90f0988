// Display names of shell folder, known folder and similar GUIDs.
#pragma once

#include <cstddef>
#include <string>

#include "platform/byte_reader.h"

namespace lnk {

struct GuidNameRow {
  Guid guid;
  const char* name;
};

// The generated rows, in insertion order (an earlier row wins a duplicate).
extern const GuidNameRow kGuidNameRows[];
extern const size_t kGuidNameRowCount;

// "{CLSID_<name>}" and found = true when the GUID is known; otherwise its
// lower-case GUID text and found = false.
std::string lookup_guid_name(const Guid& guid, bool& found);
// As lookup_guid_name, but empty when the GUID is not known.
std::string guid_name_text(const Guid& guid);
std::string clsid_prefix(const std::string& text);

}  // namespace lnk
