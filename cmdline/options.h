// Filling the options record from the command line, and the helpers that
// every user-supplied path and number goes through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/options.h"

namespace lnk {

using ArgList = std::vector<std::string>;

// Option names match whole arguments, case-insensitively, from element 0 on.
// A match is removed from args.
bool take_flag(const std::string& name, ArgList& args);
// The element after a match is its value, whatever it looks like; both are
// removed. A match in last place is left alone and counts as absent.
bool take_value(const std::string& name, std::string& value, ArgList& args);
// Whether name (lower case) is one of the program's options, and whether it
// takes a value.
bool known_option(const std::string& name, bool& takes_value);
// Every option name the parser takes, from the same table.
std::vector<std::string> option_names();
// Presence test from element 1 on, nothing removed.
bool has_argument(const std::string& name, const ArgList& args);

// The arguments joined by single blanks; one holding a blank is quoted
// with quote_char.
std::string join_arguments(const ArgList& args, char quote_char);
// Element 0 without its directory and without its extension.
std::string program_base_name_of(const std::string& program_path);

// Output layout and conventions. False (with the reason on stderr) when the
// run must not go on.
bool parse_cmd_params(cmd_params& options, ArgList& args);
// Resets options to defaults, then parses everything the scanner knows
// except the source options the driver takes itself.
bool parse_useropts(useropts& options, ArgList& args);

// The field separator and the separator character/substitute derived from it.
void set_separator(cmd_params& options, const std::string& text);

// Fills the -alias (path_aliases == false) or -aliaspath map from a "|" list.
bool add_aliases(cmd_params& options, const std::string& value, bool path_aliases);
// The report's view of a source path after -alias / -aliaspath.
std::string map_alias_path(const cmd_params& options, const std::string& path);

// %NAME% environment expansion; with vss_form, %vss% names the shadow-copy
// device prefix.
std::string expand_path(const std::string& path, bool vss_form);
inline constexpr const char* kShadowCopyPrefix = "\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy";

// "0x7e00", "0o77000" or "32256"; value is untouched on failure.
bool parse_number(const std::string& text, uint64_t& value);

// Creates dir and every missing parent.
bool create_directory_levels(const std::string& dir);
// Whether create_directory_levels could make dir: false, with the errno
// value, when a level that exists is no folder.
bool directory_can_be_made(const std::string& dir, int& error);

}  // namespace lnk
