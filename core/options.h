// The options record of a run: what the command line asked for, nothing
// that changes while the run goes on.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace lnk {

// One -filter entry (wildcard pattern over the names read by -pipe).
struct filter_entry {
  std::string pattern;  // lower-cased
  bool leading_wildcard = false;
  bool trailing_wildcard = false;
  // pattern is the piece as typed; name_pattern is the part before ":" with
  // its stars removed, the two flags above saying where they were.
  std::string name_pattern;
  std::string colon_part;
  bool match_all = false;
  bool has_colon_part = false;
  bool colon_part_is_star = false;
  bool colon_leading_wildcard = false;
  bool colon_trailing_wildcard = false;
};

// The layout records are written in. -xml, -csvgen and -multiline, kept
// for old command lines, give the text report.
enum class Layout { text, csv, log2timeline, bodyfile, json, timesketch };

// Options shared by every run: output layout and command-line conventions.
class cmd_params {
 public:
  virtual ~cmd_params() = default;

  std::string command_line_text;
  std::string program_base_name;
  std::string output_path;
  std::string username;
  std::string hostname;
  std::map<std::string, std::string> path_aliases;  // -aliaspath
  std::map<std::string, std::string> alias_pairs;   // -alias
  std::string date_format = "mm/dd/yyyy";
  std::string time_format = "hh:mm:ss.xxx";
  char separator_char = '|';
  char separator_substitute = ';';
  std::string field_separator = " | ";
  bool split_date_time = false;
  bool whitespace_allowed = true;
  bool sizes_in_hex = true;
  bool username_given = false;
  bool hostname_given = false;
  uint32_t thread_count = 0;
  bool output_path_given = false;
  Layout layout = Layout::text;
  // -html: the HTML report is written to this file besides the layout.
  std::string html_path;
  // Windows code page of the ANSI texts (-codepage); 0 when not given.
  uint32_t codepage = 0;
  // -flagged: only records that carry an anomaly are written.
  bool flagged = false;
  // -quiet: no status lines, no hints and no summary.
  bool quiet = false;
  // -noheader: the results hold records only: no run header, no lines
  // between inputs, no header a body file's reader does not expect.
  bool no_header = false;
  bool pair_datetime = false;
  std::string diag_log_path;
  bool profile = false;
  std::string event_name;
  std::vector<filter_entry> filters;
  bool pipe = false;
};

// The layouts whose stream holds records only: no run header, no other lines.
inline bool writes_json_lines(const cmd_params& options) {
  return options.layout == Layout::json || options.layout == Layout::timesketch;
}

// The scanner's options added to the output options.
class useropts : public cmd_params {
 public:
  bool rawscan = false;
  bool ntfs_scan = false;
  bool include_unalloc_clusters = false;
  bool include_vss_clusters = false;
  bool include_pagefile_clusters = false;
  // -offset as given; 0 when not given. Where the volume turns out to
  // start is the run's business, not the command line's.
  uint64_t volume_offset = 0;
  uint32_t scan_step = 512;
  bool deepscan = false;
  bool idltimes = false;
  // -outdir as given; the run creates it once every output was checked.
  std::string carve_dump_dir;
};

}  // namespace lnk
