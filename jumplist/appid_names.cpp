#include "jumplist/appid_names.h"

#include <unordered_map>

namespace lnk {
namespace {

constexpr size_t kMostAppIdDigits = 16;
constexpr size_t kFewestAppIdDigits = 13;

bool is_hex_digit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

const std::unordered_map<uint64_t, const char*>& app_id_table() {
  static const std::unordered_map<uint64_t, const char*> table = [] {
    std::unordered_map<uint64_t, const char*> built;
    for (size_t i = 0; i < kAppIdNameRowCount; ++i) built.emplace(kAppIdNameRows[i].app_id, kAppIdNameRows[i].name);
    return built;
  }();
  return table;
}

}  // namespace

std::string app_id_from_file_name(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return {};
  size_t start = dot;
  while (start > 0 && is_hex_digit(name[start - 1]) && dot - start <= kMostAppIdDigits) --start;
  const size_t digits = dot - start;
  if (digits < kFewestAppIdDigits || digits > kMostAppIdDigits) return {};
  std::string app_id;
  for (size_t i = start; i < dot; ++i) app_id += lower(name[i]);
  return app_id;
}

bool has_jump_list_extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension;
  for (size_t i = dot + 1; i < path.size(); ++i) extension += lower(path[i]);
  return extension == "automaticdestinations-ms" || extension == "customdestinations-ms";
}

std::string lookup_app_name(const std::string& app_id) {
  if (app_id.empty() || app_id.size() > kMostAppIdDigits) return {};
  uint64_t value = 0;
  for (char c : app_id) {
    if (!is_hex_digit(c)) return {};
    const char d = lower(c);
    value = value * 16 + static_cast<uint64_t>(d <= '9' ? d - '0' : d - 'a' + 10);
  }
  const auto& table = app_id_table();
  const auto hit = table.find(value);
  return hit == table.end() ? std::string() : std::string(hit->second);
}

void name_jump_list_application(const std::string& file_name, SourceInfo& source) {
  if (!has_jump_list_extension(file_name)) return;
  source.app_id = app_id_from_file_name(file_name);
  source.app_name = lookup_app_name(source.app_id);
}

}  // namespace lnk
