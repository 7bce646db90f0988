#include "carve/source_type.h"

#include <cstdio>

namespace lnk {

std::string shortcut_source_type(uint64_t hit, const std::string& file_source_type) {
  if (hit == 0) return file_source_type.empty() ? "Shortcut LNK (carved)" : file_source_type;
  char text[64];
  std::snprintf(text, sizeof text, "Shortcut LNK (carved - 0x%08llx)",
                static_cast<unsigned long long>(hit));
  return text;
}

}  // namespace lnk
