#include "carve/source_type.h"

#include <cstdio>

namespace lnk {
namespace {

constexpr const char* kShortcutName = "Shortcut LNK";

std::string carved_at(uint64_t position) {
  char text[48];
  std::snprintf(text, sizeof text, " (carved - 0x%08llx)", static_cast<unsigned long long>(position));
  return text;
}

}  // namespace

std::string shortcut_source_type(uint64_t hit, const std::string& found_file_name) {
  if (hit == 0) return found_file_name.empty() ? std::string(kShortcutName) + " (file)" : found_file_name;
  return (found_file_name.empty() ? std::string(kShortcutName) : found_file_name) + carved_at(hit);
}

std::string carved_source_type(uint64_t position, const std::string& label) {
  const std::string text = kShortcutName + carved_at(position);
  return label.empty() ? text : "[" + label + "] " + text;
}

}  // namespace lnk
