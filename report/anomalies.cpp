#include "report/anomalies.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/text.h"
#include "report/escape_text.h"

namespace lnk {
namespace {

constexpr const char* kStringNames[] = {"description", "relative_path", "working_directory", "arguments",
                                        "icon_location"};
constexpr uint32_t kWindowsStringLimit = 260;
constexpr size_t kShownRest = 80;
constexpr uint32_t kShowMinNoActive = 7;

std::string hex(uint64_t value) { return "0x" + hex_lower(value, 1); }

void add(std::vector<Anomaly>& out, const char* code, std::string detail) {
  out.push_back({code, std::move(detail)});
}

void string_overruns(const LnkRecord& record, std::vector<Anomaly>& out) {
  for (const StringOverrun& overrun : record.string_overruns) {
    const uint32_t offset = record.string_offsets[overrun.slot];
    std::string detail = std::string(kStringNames[overrun.slot]) + " at offset " + hex(offset) +
                         ": CountCharacters " + std::to_string(overrun.claimed);
    if (overrun.past_end)
      detail += " runs past the end of the data";
    else
      detail += " where Windows reads " + std::to_string(kWindowsStringLimit) + " and goes on after them";
    add(out, "string_overrun", detail + "; the count would read \"" + overrun.claimed_text + "\"");
  }
}

void extra_data_damage(const LnkRecord& record, std::vector<Anomaly>& out) {
  for (const ExtraDataDamage& damage : record.extra_data_damage) {
    const std::string at = "block at offset " + hex(damage.offset) + ": ";
    switch (damage.kind) {
      case ExtraDataDamage::size_past_data:
        add(out, "damaged_extra_data", at + "size " + hex(damage.size) + " runs past the data; the walk stops");
        break;
      case ExtraDataDamage::unknown_signature:
        add(out, "damaged_extra_data",
            at + "unknown signature " + hex(damage.signature) + ", size " + hex(damage.size));
        break;
      case ExtraDataDamage::undecodable:
        add(out, "damaged_extra_data",
            at + "signature " + hex(damage.signature) + " with size " + hex(damage.size) + " is not as Windows writes it");
        break;
      case ExtraDataDamage::no_terminal_block:
        add(out, "damaged_extra_data", "no TerminalBlock at offset " + hex(damage.offset) + ": the extra data is cut short");
        break;
    }
  }
}

struct NamedText {
  const char* field;
  const std::string* text;
};

void control_characters(const std::vector<NamedText>& texts, std::vector<Anomaly>& out) {
  for (const NamedText& named : texts) {
    const std::string found = control_characters_in(*named.text);
    if (!found.empty()) add(out, "control_characters", std::string(named.field) + ": " + found);
  }
}

bool blank(unsigned char c) { return c <= 0x20 || c == 0x7F; }

void padded_arguments(const std::string& arguments, std::vector<Anomaly>& out) {
  size_t best_start = 0, best_length = 0;
  for (size_t i = 0; i < arguments.size();) {
    if (!blank(static_cast<unsigned char>(arguments[i]))) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < arguments.size() && blank(static_cast<unsigned char>(arguments[end]))) ++end;
    if (end < arguments.size() && end - i > best_length) {
      best_start = i;
      best_length = end - i;
    }
    i = end;
  }
  if (best_length < kPaddingRun) return;
  const size_t rest = best_start + best_length;
  add(out, "padded_arguments",
      "a run of " + std::to_string(best_length) + " blanks and control characters at byte " +
          std::to_string(best_start) + "; the rest starts at byte " + std::to_string(rest) + ": \"" +
          arguments.substr(rest, kShownRest) + (arguments.size() - rest > kShownRest ? "...\"" : "\""));
}

bool remote(const std::string& location) {
  const std::string lower = to_lower_ascii(location);
  return lower.starts_with("\\\\") || lower.starts_with("//") || lower.find("://") != std::string::npos;
}

// A path as comparable text: lower case, the usual variables expanded,
// drive letters and the 32-bit Program Files folder set aside, as they
// differ between machines and views without naming another file.
std::string comparable(std::string path) {
  path = to_lower_ascii(std::move(path));
  static const std::pair<const char*, const char*> kVariables[] = {
      {"%systemroot%", "c:\\windows"},         {"%windir%", "c:\\windows"},
      {"%systemdrive%", "c:"},                 {"%programfiles(x86)%", "c:\\program files"},
      {"%programw6432%", "c:\\program files"}, {"%programfiles%", "c:\\program files"},
      {"%commonprogramfiles%", "c:\\program files\\common files"},
      {"%programdata%", "c:\\programdata"},    {"%allusersprofile%", "c:\\programdata"},
  };
  for (const auto& [name, value] : kVariables)
    for (size_t at; (at = path.find(name)) != std::string::npos;) path.replace(at, std::string(name).size(), value);
  for (size_t at; (at = path.find("program files (x86)")) != std::string::npos;) path.erase(at + 13, 6);
  if (path.size() >= 2 && path[1] == ':') path.erase(0, 2);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

// The characters of a UTF-8 text, a string each.
std::vector<std::string> characters(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    size_t n = 1;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0xF0) n = 4;
    else if (c >= 0xE0) n = 3;
    else if (c >= 0xC0) n = 2;
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

// The text without what an ANSI path may spell otherwise: characters beyond
// ASCII (decoded with a code page that need not be the one it was written
// in) and "?" (what it holds for a character its code page lacks).
std::string ascii_skeleton(const std::string& text) {
  std::string out;
  for (const std::string& c : characters(text))
    if (c.size() == 1 && c != "?" && static_cast<unsigned char>(c[0]) < 0x80) out += c;
  return out;
}

bool same_path(const std::string& a, const std::string& b) {
  return a == b || ascii_skeleton(a) == ascii_skeleton(b);
}

// Two names of the target that cannot be the same file. A name still
// holding a variable, or an 8.3 name, is not compared; a drive path and a
// share agree when the share ends in the drive path (a mapped drive).
bool disagree(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  std::string x = comparable(a), y = comparable(b);
  const auto opaque = [](const std::string& s) { return s.find('%') != std::string::npos || s.find('~') != std::string::npos; };
  if (opaque(x) || opaque(y)) return false;
  const bool x_share = x.starts_with("\\\\"), y_share = y.starts_with("\\\\");
  if (x_share != y_share) {
    std::string& share = x_share ? x : y;
    const std::string& drive = x_share ? y : x;
    if (share.size() >= drive.size()) share.erase(0, share.size() - drive.size());
  }
  return !same_path(x, y);
}

void target_mismatch(const LnkRecord& record, const RenderedIdList& idlist, std::vector<Anomaly>& out) {
  const std::pair<const char*, std::string> names[] = {
      {"IDList", filesystem_part(idlist.path)},
      {"LinkInfo", link_info_path(record)},
      {"environment block", record.block_offsets[kBlockEnvironment] != 0 ? record.env_target : std::string()},
  };
  for (size_t i = 0; i < std::size(names); ++i)
    for (size_t j = i + 1; j < std::size(names); ++j)
      if (disagree(names[i].second, names[j].second)) {
        add(out, "target_mismatch", std::string(names[i].first) + " names \"" + names[i].second + "\", " +
                                        names[j].first + " names \"" + names[j].second + "\"");
        return;
      }
}

}  // namespace

std::vector<Anomaly> find_anomalies(const LnkRecord& record, const RenderedIdList& idlist,
                                    const RenderedIdList& vista_idlist,
                                    const std::vector<std::string>& property_values,
                                    const LaunchCommand& command) {
  std::vector<Anomaly> out;
  string_overruns(record, out);

  std::vector<NamedText> texts = {
      {"description", &record.name_string},        {"relative_path", &record.relative_path},
      {"working_directory", &record.working_dir},  {"arguments", &record.command_line_arguments},
      {"icon_location", &record.icon_location},    {"volume_label", &record.volume_label},
      {"net_name", &record.net_name},              {"device_name", &record.device_name},
      {"local_base_path", &record.local_base_path}, {"common_path_suffix", &record.common_path_suffix},
      {"environment_target", &record.env_target},  {"icon_environment_target", &record.icon_env_target},
      {"darwin_descriptor", &record.darwin_descriptor}, {"machine_id", &record.machine_id},
      {"shim_layer", &record.shim_layer},          {"idlist_path", &idlist.path},
      {"idlist_notes", &idlist.notes_text},        {"vista_idlist_path", &vista_idlist.path},
      {"vista_idlist_notes", &vista_idlist.notes_text},
  };
  for (const std::string& value : property_values) texts.push_back({"property_value", &value});
  control_characters(texts, out);
  padded_arguments(record.command_line_arguments, out);

  if (record.appended.size != 0) {
    const AppendedData& a = record.appended;
    add(out, "appended_data", "offset " + hex(a.offset) + ", " + std::to_string(a.size) + " bytes, SHA-256 " +
                                  (a.sha256.empty() ? "not computed (unreadable)" : a.sha256) + ", starts as " + a.kind);
  }
  if (remote(record.icon_location)) add(out, "remote_icon", "icon_location: " + record.icon_location);
  if (record.block_offsets[kBlockIconEnvironment] != 0 && remote(record.icon_env_target))
    add(out, "remote_icon", "icon_environment_target: " + record.icon_env_target);
  target_mismatch(record, idlist, out);
  if (record.header.show_command == kShowMinNoActive && !record.command_line_arguments.empty())
    add(out, "hidden_window", "SW_SHOWMINNOACTIVE with arguments: " + command.line);
  if (record.block_offsets[kBlockEnvironment] != 0 && (record.ansi_texts & kAnsiEnvTarget) != 0 &&
      !record.env_target.empty())
    add(out, "ansi_only_environment",
        "the environment block's TargetUnicode is empty and TargetAnsi names \"" + record.env_target + "\"");
  if (record.block_offsets[kBlockEnvironment] != 0 && refused_in_path(record.env_target) &&
      !record.env_target.empty())
    add(out, "refused_path_characters",
        "the environment block names \"" + record.env_target + "\", which no path can be; Windows runs " +
            (command.target.empty() ? "nothing" : "\"" + command.target + "\" from the " + command.target_from));
  extra_data_damage(record, out);
  return out;
}

std::string anomaly_codes(const std::vector<Anomaly>& anomalies) {
  std::string codes;
  for (const Anomaly& anomaly : anomalies) {
    if ((" " + codes + " ").find(" " + anomaly.code + " ") != std::string::npos) continue;
    if (!codes.empty()) codes += ' ';
    codes += anomaly.code;
  }
  return codes;
}

}  // namespace lnk
