#include "report/source_alias.h"

#include "platform/text.h"

namespace lnk {

std::string map_source_alias(const useropts& options, const std::string& path) {
  if (options.alias_pairs.empty() && options.path_aliases.empty()) return path;
  const std::string lowered = to_lower_ascii(path);
  auto exact = options.alias_pairs.find(lowered);
  if (exact != options.alias_pairs.end()) return exact->second;
  for (const auto& [alias, true_path] : options.path_aliases) {
    if (alias.size() >= path.size()) continue;
    size_t at = lowered.find(alias);
    if (at == std::string::npos) continue;
    // ASCII lower-casing keeps byte positions, so the tail comes from the
    // original path with its case intact.
    return true_path + path.substr(at + alias.size());
  }
  return path;
}

}  // namespace lnk
