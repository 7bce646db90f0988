// What Windows would start for a shortcut: the target chosen among the
// places a shortcut can name it, with the arguments, the working directory
// and the window it asks for.
#pragma once

#include <string>
#include <string_view>

#include "lnk/lnk_record.h"
#include "report/render_idlist.h"

namespace lnk {

struct LaunchCommand {
  std::string target;
  // "environment block", "IDList", "LinkInfo", "Windows Installer" or
  // "relative path"; empty when the shortcut names no target.
  std::string target_from;
  std::string arguments;
  std::string working_directory;
  std::string show_command;
  // The target, quoted when it holds a blank, and the arguments after a blank.
  std::string line;
};

LaunchCommand launch_command(const LnkRecord& record, const RenderedIdList& idlist);

// The file-system part of a rendered IDList path (from its drive letter or
// its \\server\share on), or empty when it has none.
std::string filesystem_part(std::string_view idlist_path);

// The LinkInfo's path: the local base path or the share, and the suffix.
std::string link_info_path(const LnkRecord& record);

// True when the text holds a character Windows refuses in a path; Explorer
// still shows such an environment target but runs another.
bool refused_in_path(std::string_view path);

}  // namespace lnk
