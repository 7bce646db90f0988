#include "report/launch_command.h"

#include "lnk/names.h"

namespace lnk {
namespace {

constexpr uint32_t kHasExpString = 0x200;
constexpr uint32_t kForceNoLinkInfo = 0x100;
constexpr uint32_t kHasDarwinId = 0x1000;

bool drive_at(std::string_view path, size_t i) {
  const char c = path[i];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && i + 1 < path.size() && path[i + 1] == ':' &&
         (i + 2 == path.size() || path[i + 2] == '\\');
}

}  // namespace

std::string filesystem_part(std::string_view idlist_path) {
  for (size_t i = 0; i < idlist_path.size(); ++i) {
    if (i != 0 && idlist_path[i - 1] != '\\') continue;
    if (drive_at(idlist_path, i)) return std::string(idlist_path.substr(i));
    if (i == 0 && idlist_path.starts_with("\\\\")) return std::string(idlist_path);
  }
  return {};
}

std::string link_info_path(const LnkRecord& record) {
  if ((record.header.link_flags & kForceNoLinkInfo) != 0) return {};
  std::string base = record.local_base_path;
  if (base.empty() && !record.net_name.empty()) base = record.net_name;
  if (base.empty()) return {};
  if (record.common_path_suffix.empty()) return base;
  if (base.back() != '\\') base += '\\';
  return base + record.common_path_suffix;
}

bool refused_in_path(std::string_view path) {
  for (char c : path)
    if (c == '"' || c == '<' || c == '>' || c == '|' || c == '?' || c == '*' ||
        static_cast<unsigned char>(c) < 0x20)
      return true;
  return false;
}

// Windows takes an environment target first when the link flags announce
// it and the text is a path it can open, then the IDList, then the LinkInfo.
// An IDList that names its target through shell folders ("{CLSID_...}")
// resolves on its own machine to the path its LinkInfo spells out.
LaunchCommand launch_command(const LnkRecord& record, const RenderedIdList& idlist) {
  LaunchCommand command;
  const std::string from_idlist = filesystem_part(idlist.path);
  const std::string from_link_info = link_info_path(record);
  if ((record.header.link_flags & kHasExpString) != 0 && !record.env_target.empty() &&
      !refused_in_path(record.env_target)) {
    command.target = record.env_target;
    command.target_from = "environment block";
  } else if (!from_idlist.empty()) {
    command.target = from_idlist;
    command.target_from = "IDList";
  } else if (!from_link_info.empty()) {
    command.target = from_link_info;
    command.target_from = "LinkInfo";
  } else if (!idlist.path.empty()) {
    command.target = idlist.path;
    command.target_from = "IDList";
  } else if ((record.header.link_flags & kHasDarwinId) != 0 && !record.darwin_descriptor.empty()) {
    command.target = record.darwin_descriptor;
    command.target_from = "Windows Installer";
  } else if (!record.relative_path.empty()) {
    command.target = record.relative_path;
    command.target_from = "relative path";
  }
  command.arguments = record.command_line_arguments;
  command.working_directory = record.working_dir;
  command.show_command = show_command_text(record.header.show_command);
  command.line = command.target.find(' ') != std::string::npos ? "\"" + command.target + "\"" : command.target;
  if (!command.arguments.empty()) command.line += (command.line.empty() ? "" : " ") + command.arguments;
  return command;
}

}  // namespace lnk
