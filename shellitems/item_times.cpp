#include "shellitems/item_times.h"

namespace lnk {

bool set_item_time(ShellItem& item, ItemTime which, const TimeValue& value) {
  if (!value.valid) return false;
  switch (which) {
    case ItemTime::modified: item.modify_time = value.filetime; break;
    case ItemTime::accessed: item.access_time = value.filetime; break;
    case ItemTime::created: item.create_time = value.filetime; break;
  }
  return true;
}

void add_time_note(ShellItem& item, const std::string& label, const TimeValue& value) {
  if (!value.valid) return;
  ItemNote note;
  note.text = label;
  note.filetime = value.filetime;
  note.timed = true;
  item.extra_list.push_back(std::move(note));
}

}  // namespace lnk
