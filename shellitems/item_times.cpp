#include "shellitems/item_times.h"

namespace lnk {

bool set_item_time(ShellItem& item, ItemTime which, const TimeValue& value,
                   const useropts& options) {
  if (!value.valid) return false;
  std::string date_text, time_text;
  format_user(value, options.date_format, options.time_format, date_text, time_text);
  switch (which) {
    case ItemTime::modified:
      item.modify_time = value.filetime;
      item.modify_date_text = date_text;
      item.modify_time_text = time_text;
      break;
    case ItemTime::accessed:
      item.access_time = value.filetime;
      item.access_date_text = date_text;
      item.access_time_text = time_text;
      break;
    case ItemTime::created:
      item.create_time = value.filetime;
      item.create_date_text = date_text;
      item.create_time_text = time_text;
      break;
  }
  return true;
}

std::string time_note(const std::string& label, const TimeValue& value, const useropts& options) {
  std::string date_text, time_text;
  if (!format_user(value, options.date_format, options.time_format, date_text, time_text))
    return {};
  return label + date_text + " " + time_text + " [UTC]";
}

}  // namespace lnk
