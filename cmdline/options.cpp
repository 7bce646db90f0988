#include "cmdline/options.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "cmdline/pipe_input.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace lnk {

namespace {

constexpr size_t kExpansionLimit = 513;

std::string remove_all(std::string text, char c) {
  std::string out;
  for (char ch : text)
    if (ch != c) out += ch;
  return out;
}

bool read_digits(const std::string& digits, unsigned base, uint64_t& value) {
  if (digits.empty()) return false;
  uint64_t result = 0;
  for (char c : digits) {
    unsigned d;
    if (c >= '0' && c <= '9') d = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') d = static_cast<unsigned>(c - 'a' + 10);
    else return false;
    if (d >= base) return false;
    if (result > (UINT64_MAX - d) / base) return false;
    result = result * base + d;
  }
  value = result;
  return true;
}

template <typename T>
void take_number(const char* name, T& target, ArgList& args) {
  std::string text;
  uint64_t value = 0;
  if (take_value(name, text, args) && parse_number(text, value)) target = static_cast<T>(value);
}

constexpr const char* kValueOptions[] = {
    "-diags", "-alias", "-aliaspath", "-threads", "-zlibex", "-sqlite", "-signal", "-hostname",
    "-username", "-cpuinst", "-cpu", "-fragment_files", "-out", "-outfile", "-filter",
    "-csv_separator", "-dateformat", "-timeformat", "-codepage", "-outdir", "-offset", "-vss",
    "-partition", "-vmdk", "-html"};
constexpr const char* kFlagOptions[] = {
    "-pair_datetime", "-csv", "-csvgen", "-csvl2t", "-bodyfile", "-xml", "-multiline", "-json", "-timesketch",
    "-gzip", "-zlib", "-separate_files", "-profile", "-pipe", "-base10", "-base16",
    "-no_whitespace", "-verbose", "-v", "-quiet", "-flagged", "-noheader", "-ntfs_scan", "-include_unalloc_clusters",
    "-include_vss_clusters", "-include_pagefile_clusters", "-rawscan", "-deepscan", "-idltimes"};

// Each layout option replaces the one before it; the separators they set
// stay for the ones after.
void parse_layout_options(cmd_params& o, ArgList& args) {
  if (take_flag("-csv", args)) {
    o.layout = Layout::csv;
    set_separator(o, ",");
    o.split_date_time = !o.pair_datetime;
  }
  if (take_flag("-csvgen", args)) {
    o.layout = Layout::text;
    set_separator(o, ",");
    o.split_date_time = true;
  }
  if (take_flag("-csvl2t", args)) {
    o.layout = Layout::log2timeline;
    set_separator(o, ",");
  }
  if (take_flag("-bodyfile", args)) {
    o.layout = Layout::bodyfile;
    set_separator(o, "|");
  }
  if (take_flag("-xml", args)) {
    o.layout = Layout::text;
    set_separator(o, "");
  }
  if (take_flag("-multiline", args)) o.layout = Layout::text;
  if (take_flag("-json", args)) o.layout = Layout::json;
  if (take_flag("-timesketch", args)) o.layout = Layout::timesketch;
}

// An unsupported code page leaves ANSI texts as they are (text and CSV) or
// decoded with the JSON default.
void parse_code_page(cmd_params& o, ArgList& args) {
  std::string value;
  if (!take_value("-codepage", value, args)) return;
  uint64_t number = 0;
  if (parse_number(value, number) && number != 0 && number <= 0xFFFF &&
      platform::codepage_supported(static_cast<uint32_t>(number))) {
    o.codepage = static_cast<uint32_t>(number);
  } else {
    std::fprintf(stderr, "invalid code page %s, ignored\n", value.c_str());
  }
}

// Options kept for old command lines that nothing reads: taken with their
// values so that they are not read as input names.
void drop_unread_options(ArgList& args) {
  for (const char* flag : {"-gzip", "-zlib", "-separate_files"}) take_flag(flag, args);
  std::string value;
  for (const char* option : {"-zlibex", "-cpuinst", "-cpu", "-fragment_files"}) take_value(option, value, args);
}

void parse_date_time_formats(cmd_params& o, ArgList& args) {
  std::string value;
  if (take_value("-dateformat", value, args)) {
    if (value.size() == 8 || value.size() == 10)
      o.date_format = to_lower_ascii(value);
    else
      std::fprintf(stderr, "invalid %s, using default format\n", value.c_str());
  }
  if (take_value("-timeformat", value, args)) {
    bool length_ok = value.size() == 8 || (value.size() >= 12 && value.size() <= 18);
    if (length_ok && value.find(':') != std::string::npos)
      o.time_format = to_lower_ascii(value);
    else
      std::fprintf(stderr, "invalid %s, using default format\n", value.c_str());
  }
}

}  // namespace

bool known_option(const std::string& name, bool& takes_value) {
  for (const char* option : kValueOptions) {
    if (name == option) {
      takes_value = true;
      return true;
    }
  }
  takes_value = false;
  for (const char* option : kFlagOptions) {
    if (name == option) return true;
  }
  return false;
}

std::vector<std::string> option_names() {
  std::vector<std::string> names(std::begin(kValueOptions), std::end(kValueOptions));
  names.insert(names.end(), std::begin(kFlagOptions), std::end(kFlagOptions));
  return names;
}

bool take_flag(const std::string& name, ArgList& args) {
  const std::string wanted = to_lower_ascii(name);
  for (size_t i = 0; i < args.size(); ++i) {
    if (to_lower_ascii(args[i]) != wanted) continue;
    args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    return true;
  }
  return false;
}

bool take_value(const std::string& name, std::string& value, ArgList& args) {
  const std::string wanted = to_lower_ascii(name);
  for (size_t i = 0; i < args.size(); ++i) {
    if (to_lower_ascii(args[i]) != wanted) continue;
    if (i + 1 >= args.size()) return false;
    value = args[i + 1];
    auto at = args.begin() + static_cast<std::ptrdiff_t>(i);
    args.erase(at, at + 2);
    return true;
  }
  return false;
}

bool has_argument(const std::string& name, const ArgList& args) {
  const std::string wanted = to_lower_ascii(name);
  for (size_t i = 1; i < args.size(); ++i)
    if (to_lower_ascii(args[i]) == wanted) return true;
  return false;
}

std::string join_arguments(const ArgList& args, char quote_char) {
  std::string text;
  for (size_t i = 0; i < args.size(); ++i) {
    if (i) text += ' ';
    if (args[i].find(' ') != std::string::npos)
      text += quote_char + args[i] + quote_char;
    else
      text += args[i];
  }
  return text;
}

std::string program_base_name_of(const std::string& program_path) {
  std::string name = program_path;
  size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

void set_separator(cmd_params& o, const std::string& text) {
  o.field_separator = text;
  const std::string lower = to_lower_ascii(text);
  if (lower.find('|') != std::string::npos) {
    o.separator_char = '|';
    o.separator_substitute = ';';
  } else if (lower.find(',') != std::string::npos) {
    o.separator_char = ',';
    o.separator_substitute = ' ';
  } else if (lower == "tab" || lower == "\\t") {
    o.separator_char = o.separator_substitute = 0;
    o.field_separator = "\t";
  } else {
    o.separator_char = o.separator_substitute = 0;
  }
}

bool add_aliases(cmd_params& o, const std::string& value, bool path_aliases) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= value.size()) {
    size_t bar = value.find('|', start);
    if (bar == std::string::npos) bar = value.size();
    std::string piece = trim_blanks(value.substr(start, bar - start));
    if (!piece.empty()) pieces.push_back(piece);
    start = bar + 1;
  }
  if (pieces.size() % 2 != 0) {
    std::fprintf(stderr, "%s, aborting\n", "imbalanced alias to true pathfiles");
    return false;
  }
  for (size_t i = 0; i < pieces.size(); i += 2) {
    std::string alias = to_lower_ascii(expand_path(pieces[i], true));
    std::string true_path = expand_path(pieces[i + 1], true);
    if (path_aliases) {
      // A quoted path ending in "\" reaches us with the quote still on it.
      true_path = remove_all(true_path, '"');
      if (!alias.empty() && alias.back() == '\\') alias.pop_back();
      if (!true_path.empty() && true_path.back() == '\\') true_path.pop_back();
      o.path_aliases[alias] = true_path;
    } else {
      o.alias_pairs[alias] = true_path;
    }
  }
  return true;
}

std::string map_alias_path(const cmd_params& o, const std::string& path) {
  if (o.alias_pairs.empty() && o.path_aliases.empty()) return path;
  const std::string lower = to_lower_ascii(path);
  auto exact = o.alias_pairs.find(lower);
  if (exact != o.alias_pairs.end()) return exact->second;
  for (const auto& [key, true_path] : o.path_aliases) {
    // An alias of a lone "\" is stored empty and prefixes every path.
    if (key.size() >= lower.size()) continue;
    size_t at = lower.find(key);
    if (at == std::string::npos) continue;
    return true_path + path.substr(at + key.size());
  }
  return path;
}

std::string expand_path(const std::string& path, bool vss_form) {
  std::string text = path;
  size_t pos = 0;
  // Each pass moves pos forward or stops; the length cap bounds growth from
  // values that themselves hold "%".
  while (text.size() < kExpansionLimit) {
    size_t open = text.find('%', pos);
    if (open == std::string::npos) break;
    size_t close = text.find('%', open + 1);
    if (close == std::string::npos) break;
    std::string name = text.substr(open + 1, close - open - 1);
    std::string value;
    if (!name.empty() && platform::get_environment(name, value)) {
      text.replace(open, close - open + 1, value);
      pos = open + value.size();
    } else if (vss_form && to_lower_ascii(name) == "vss") {
      text.replace(open, close - open + 1, kShadowCopyPrefix);
      pos = open + std::char_traits<char>::length(kShadowCopyPrefix);
    } else {
      pos = close + 1;
    }
  }
  return text;
}

bool parse_number(const std::string& text, uint64_t& value) {
  const std::string t = to_lower_ascii(trim_blanks(text));
  size_t x = t.find('x');
  if (x != std::string::npos) return read_digits(t.substr(x + 1), 16, value);
  size_t o = t.find('o');
  if (o != std::string::npos) return read_digits(t.substr(o + 1), 8, value);
  if (t.empty() || t[0] < '0' || t[0] > '9') return false;
  return read_digits(t, 10, value);
}

bool create_directory_levels(const std::string& dir) {
  const std::string path = remove_all(dir, '"');
  if (path.empty()) return false;
  // A device-namespace prefix is not a directory level of its own.
  size_t first_level = 0;
  if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) first_level = 4;
  const std::string separators = platform::path_separator() == '\\' ? "\\/" : "/";
  size_t pos = first_level;
  // Levels that already exist, or cannot be made because they are roots or
  // drive names, are passed over; only the full path decides.
  while (pos < path.size()) {
    size_t next = path.find_first_of(separators, pos);
    if (next == std::string::npos) break;
    if (next > first_level) platform::make_directory(path.substr(0, next));
    pos = next + 1;
  }
  return platform::make_directory(path);
}

bool directory_can_be_made(const std::string& dir, int& error) {
  const std::filesystem::path path = platform::native_path(remove_all(dir, '"'));
  if (path.empty()) {
    error = ENOENT;
    return false;
  }
  for (std::filesystem::path level = path; !level.empty(); level = level.parent_path()) {
    std::error_code ignored;
    const std::filesystem::file_status status = std::filesystem::status(level, ignored);
    if (status.type() != std::filesystem::file_type::not_found) {
      if (std::filesystem::is_directory(status)) return true;
      // As mkdir says it: the folder's own name taken, or a level above it.
      error = level == path ? EEXIST : ENOTDIR;
      return false;
    }
    if (level == level.parent_path()) break;
  }
  return true;
}

bool parse_cmd_params(cmd_params& o, ArgList& args) {
  if (o.command_line_text.empty()) o.command_line_text = join_arguments(args, '"');
  if (o.program_base_name.empty() && !args.empty())
    o.program_base_name = program_base_name_of(args[0]);
  if (args.empty()) return false;

  if (take_flag("-pair_datetime", args)) o.pair_datetime = true;
  std::string diag_path;
  if (take_value("-diags", diag_path, args)) o.diag_log_path = diag_path;
  parse_layout_options(o, args);

  std::string value;
  if (take_value("-alias", value, args) && !add_aliases(o, value, false)) return false;
  if (take_value("-aliaspath", value, args) && !add_aliases(o, value, true)) return false;
  take_number("-threads", o.thread_count, args);
  if (take_value("-sqlite", value, args)) {
    std::fputs("This option is not offered in this build\n", stderr);
    return false;
  }
  if (take_value("-signal", value, args)) o.event_name = value;
  if (take_value("-hostname", value, args)) {
    o.hostname = value;
    o.hostname_given = true;
  }
  if (take_value("-username", value, args)) {
    o.username = value;
    o.username_given = true;
  }
  drop_unread_options(args);
  // The output files are only named here; the run checks and creates them.
  if (take_value("-out", value, args) || take_value("-outfile", value, args)) {
    o.output_path = expand_path(value, false);
    o.output_path_given = true;
  }
  if (take_value("-html", value, args)) o.html_path = expand_path(value, false);
  if (take_flag("-profile", args)) o.profile = true;
  if (take_flag("-pipe", args)) o.pipe = true;
  if (take_value("-filter", value, args)) build_filter_list(o.filters, value);
  if (take_flag("-base10", args)) o.sizes_in_hex = false;
  if (take_flag("-base16", args)) o.sizes_in_hex = true;
  if (take_value("-csv_separator", value, args)) set_separator(o, value);
  if (take_flag("-no_whitespace", args)) {
    o.split_date_time = true;
    o.whitespace_allowed = false;
    o.field_separator = remove_all(o.field_separator, ' ');
  }
  parse_date_time_formats(o, args);
  parse_code_page(o, args);
  if (!take_flag("-verbose", args)) take_flag("-v", args);
  if (take_flag("-quiet", args)) o.quiet = true;
  if (take_flag("-flagged", args)) o.flagged = true;
  if (take_flag("-noheader", args)) o.no_header = true;
  return true;
}

bool parse_useropts(useropts& o, ArgList& args) {
  // A full reset: the command line is rebuilt below from what is left.
  o = useropts{};

  take_value("-outdir", o.carve_dump_dir, args);

  if (!parse_cmd_params(o, args)) return false;

  // The text report has no separators.
  if (o.layout == Layout::text) {
    o.field_separator.clear();
    o.separator_char = o.separator_substitute = 0;
  }

  std::string value;
  if (take_value("-offset", value, args)) parse_number(value, o.volume_offset);
  if (take_flag("-ntfs_scan", args)) {
    o.ntfs_scan = true;
    if (take_flag("-include_unalloc_clusters", args)) o.include_unalloc_clusters = true;
    if (take_flag("-include_vss_clusters", args)) o.include_vss_clusters = true;
    if (take_flag("-include_pagefile_clusters", args)) o.include_pagefile_clusters = true;
  }
  if (take_flag("-rawscan", args)) o.rawscan = true;
  if (take_flag("-deepscan", args)) {
    o.deepscan = true;
    o.scan_step = 1;
    if (o.rawscan || o.ntfs_scan) {
      std::fputs("options [-rawscan or -ntfs_scan] and [-deepscan] cannot be used together\n", stderr);
      std::fputs("\t[-rawscan and -ntfs_scan] are used for 'dd' images\n", stderr);
      std::fputs("\t[-deepscan] is used for individual files\n", stderr);
      return false;
    }
  }
  if (take_flag("-idltimes", args)) o.idltimes = true;
  return true;
}

}  // namespace lnk
