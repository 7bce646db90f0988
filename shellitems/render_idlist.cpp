#include "shellitems/render_idlist.h"

#include <map>
#include <set>

#include "platform/text.h"
#include "report/time_value.h"
#include "shellitems/guid_names.h"
#include "shellitems/property_store.h"

namespace lnk {

namespace {

std::string trim(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

void add_once(const std::string& note, std::vector<std::string>& notes,
              std::set<std::string>& added) {
  if (note.empty() || added.count(note)) return;
  added.insert(note);
  notes.push_back(note);
}

std::string time_line(const char* label, uint64_t filetime, const useropts& options) {
  if (filetime == 0) return {};
  TimeValue value = TimeValue::from_filetime(filetime);
  std::string date_text, time_text;
  if (!value.valid ||
      !format_user(value, options.date_format, options.time_format, date_text, time_text))
    return {};
  return std::string(label) + date_text + " " + time_text + " [UTC]";
}

// Renders a nested list and adds its path, times and notes to the item's
// notes; returns the rendered path.
std::string add_nested_notes(std::vector<ShellItem>& list, std::vector<std::string>& notes,
                             std::set<std::string>& added, const useropts& options,
                             bool& rendered) {
  std::string path, notes_text;
  std::vector<std::string> nested_notes;
  uint64_t modified = 0, accessed = 0, created = 0;
  rendered = render_idlist(path, notes_text, nested_notes, modified, accessed, created, options,
                           list);
  if (!rendered) return {};
  std::string trimmed = trim(path);
  if (!trimmed.empty()) add_once("Embedded Path : " + trimmed, notes, added);
  add_once(time_line("Created : ", created, options), notes, added);
  add_once(time_line("Modified : ", modified, options), notes, added);
  add_once(time_line("Accessed : ", accessed, options), notes, added);
  for (const auto& note : nested_notes) add_once(trim(note), notes, added);
  return path;
}

bool has_properties(const ShellItem& item) {
  return !item.property_map_first.empty() || !item.property_map_second.empty();
}

}  // namespace

std::string number_notes(const std::vector<std::string>& notes) {
  std::string text;
  for (size_t i = 0; i < notes.size(); ++i) {
    if (i) text += "; ";
    text += "[" + std::to_string(i + 1) + "] " + notes[i];
  }
  return text;
}

bool describe_item(ShellItem& item, std::string& display, std::string& notes_text,
                   std::vector<std::string>& notes, const useropts& options) {
  display.clear();
  notes_text.clear();
  notes.clear();
  std::set<std::string> added;

  std::string custom_fallback;
  if (has_properties(item)) {
    std::string from_properties = property_item_name(item, custom_fallback);
    if (item.name.empty()) item.name = from_properties;
  }

  size_t first_guid_name = 0;
  size_t first_name = 0;
  if (!item.name.empty()) {
    display = item.name;
  } else if (!item.short_name.empty()) {
    display = item.short_name;
  } else if (!item.guid_names.empty()) {
    display = item.guid_names.front();
    first_guid_name = 1;
  } else if (!item.names.empty()) {
    display = item.names.front();
    first_name = 1;
  } else {
    display = custom_fallback;
  }

  describe_item_properties(item, notes, added, options);

  if (!display.empty()) {
    auto offer = [&](const std::string& text) {
      if (!text.empty() && display.find(text) == std::string::npos) add_once(text, notes, added);
    };
    for (size_t i = first_name; i < item.names.size(); ++i) offer(item.names[i]);
    for (size_t i = first_guid_name; i < item.guid_names.size(); ++i) offer(item.guid_names[i]);
    offer(item.extra_name_a);
    offer(item.extra_name_b);
  }
  for (const auto& line : item.extra_list)
    if (!line.empty()) notes.push_back(line);

  std::string last_path;
  bool any_rendered = false;
  for (auto& list : item.embedded_idlists) {
    bool rendered = false;
    std::string path = add_nested_notes(list, notes, added, options, rendered);
    if (rendered) {
      last_path = path;
      any_rendered = true;
    }
  }
  if (!item.children.empty()) {
    bool rendered = false;
    std::string path = add_nested_notes(item.children, notes, added, options, rendered);
    if (rendered) {
      last_path = path;
      any_rendered = true;
    }
  }

  notes_text = number_notes(notes);

  if (display.empty()) {
    if (any_rendered) {
      size_t slash = last_path.rfind('\\');
      if (slash != std::string::npos) display = last_path.substr(slash + 1);
    } else if (!item.guids.empty()) {
      display = clsid_prefix(guid_text(item.guids.front())) + "}";
    }
  }
  return !display.empty();
}

bool render_idlist(std::string& path, std::string& notes_text, std::vector<std::string>& notes,
                   uint64_t& modified, uint64_t& accessed, uint64_t& created,
                   const useropts& options, std::vector<ShellItem>& items) {
  path.clear();
  notes_text.clear();
  notes.clear();
  modified = accessed = created = 0;
  if (items.empty()) return false;

  std::map<std::string, size_t> numbered;
  for (auto& item : items) {
    std::string display, item_notes_text;
    std::vector<std::string> item_notes;
    if (describe_item(item, display, item_notes_text, item_notes, options)) {
      item.name = display;
      path += display;
      path += '\\';
    }
    for (const auto& note : item_notes) numbered.emplace(note, numbered.size());
  }
  const ShellItem& last = items.back();
  modified = last.modify_time;
  accessed = last.access_time;
  created = last.create_time;

  if (!numbered.empty()) {
    notes.resize(numbered.size());
    for (const auto& [text, number] : numbered) notes[number] = text;
    notes_text = number_notes(notes);
  }

  for (size_t at = path.find("\\\\"); at != std::string::npos; at = path.find("\\\\"))
    path.replace(at, 2, "\\");
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return !path.empty();
}

}  // namespace lnk
