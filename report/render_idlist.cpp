#include "report/render_idlist.h"

#include <map>
#include <set>

#include "platform/text.h"
#include "report/property_text.h"
#include "report/time_format.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_settle.h"

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

std::string time_line(const char* label, uint64_t filetime, const cmd_params& options) {
  if (filetime == 0) return {};
  TimeValue value = TimeValue::from_filetime(filetime);
  std::string date_text, time_text;
  if (!value.valid ||
      !format_user(value, options.date_format, options.time_format, date_text, time_text))
    return {};
  return std::string(label) + date_text + " " + time_text + " [UTC]";
}

std::string note_text(const ItemNote& note, const cmd_params& options) {
  if (!note.timed) return note.text;
  std::string date_text, time_text;
  if (!format_user(TimeValue::from_filetime(note.filetime), options.date_format, options.time_format,
                   date_text, time_text))
    return {};
  return note.text + date_text + " " + time_text + " [UTC]";
}

class Renderer {
 public:
  Renderer(const cmd_params& options, std::unordered_map<const ShellItem*, std::string>& names)
      : options_(options), names_(names) {}

  bool render(const std::vector<ShellItem>& items, std::string& path, std::string& notes_text,
              std::vector<std::string>& notes);

 private:
  bool describe(const ShellItem& item, std::string& display, std::vector<std::string>& notes);
  std::string add_nested_notes(const std::vector<ShellItem>& list, std::vector<std::string>& notes,
                               std::set<std::string>& added, bool& rendered);

  const cmd_params& options_;
  std::unordered_map<const ShellItem*, std::string>& names_;
};

// Renders a nested list and adds its path, times and notes to the item's
// notes; returns the rendered path.
std::string Renderer::add_nested_notes(const std::vector<ShellItem>& list,
                                       std::vector<std::string>& notes,
                                       std::set<std::string>& added, bool& rendered) {
  std::string path, notes_text;
  std::vector<std::string> nested_notes;
  rendered = render(list, path, notes_text, nested_notes);
  if (!rendered) return {};
  const ShellItem& last = list.back();
  std::string trimmed = trim(path);
  if (!trimmed.empty()) add_once("Embedded Path : " + trimmed, notes, added);
  add_once(time_line("Created : ", last.create_time, options_), notes, added);
  add_once(time_line("Modified : ", last.modify_time, options_), notes, added);
  add_once(time_line("Accessed : ", last.access_time, options_), notes, added);
  for (const auto& note : nested_notes) add_once(trim(note), notes, added);
  return path;
}

// The text that stands for one item in the path, and its notes (each once).
bool Renderer::describe(const ShellItem& item, std::string& display, std::vector<std::string>& notes) {
  display.clear();
  notes.clear();
  std::set<std::string> added;

  std::string custom_fallback;
  if (has_properties(item)) property_item_name(item, custom_fallback);

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

  describe_item_properties(item, notes, added, options_);

  if (!display.empty()) {
    auto offer = [&](const std::string& text) {
      if (!text.empty() && display.find(text) == std::string::npos) add_once(text, notes, added);
    };
    for (size_t i = first_name; i < item.names.size(); ++i) offer(item.names[i]);
    for (size_t i = first_guid_name; i < item.guid_names.size(); ++i) offer(item.guid_names[i]);
    offer(item.extra_name_a);
    offer(item.extra_name_b);
  }
  for (const ItemNote& note : item.extra_list) {
    std::string text = note_text(note, options_);
    if (!text.empty()) notes.push_back(text);
  }

  std::string last_path;
  bool any_rendered = false;
  for (const auto& list : item.embedded_idlists) {
    bool rendered = false;
    std::string path = add_nested_notes(list, notes, added, rendered);
    if (rendered) {
      last_path = path;
      any_rendered = true;
    }
  }
  if (!item.children.empty()) {
    bool rendered = false;
    std::string path = add_nested_notes(item.children, notes, added, rendered);
    if (rendered) {
      last_path = path;
      any_rendered = true;
    }
  }

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

bool Renderer::render(const std::vector<ShellItem>& items, std::string& path,
                      std::string& notes_text, std::vector<std::string>& notes) {
  path.clear();
  notes_text.clear();
  notes.clear();
  if (items.empty()) return false;

  std::map<std::string, size_t> numbered;
  for (const auto& item : items) {
    std::string display;
    std::vector<std::string> item_notes;
    if (describe(item, display, item_notes)) {
      names_[&item] = display;
      path += display;
      path += '\\';
    }
    for (const auto& note : item_notes) numbered.emplace(note, numbered.size());
  }

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

}  // namespace

std::string number_notes(const std::vector<std::string>& notes) {
  std::string text;
  for (size_t i = 0; i < notes.size(); ++i) {
    if (i) text += "; ";
    text += "[" + std::to_string(i + 1) + "] " + notes[i];
  }
  return text;
}

bool render_idlist(const std::vector<ShellItem>& items, const cmd_params& options,
                   RenderedIdList& out) {
  out = RenderedIdList{};
  Renderer renderer(options, out.names);
  return renderer.render(items, out.path, out.notes_text, out.notes);
}

}  // namespace lnk
