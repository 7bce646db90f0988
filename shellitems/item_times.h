// Item times and the notes that carry a time.
#pragma once

#include <string>

#include "core/time_value.h"
#include "shellitems/shell_item.h"

namespace lnk {

enum class ItemTime { modified, accessed, created };

// Sets the item's time; false (nothing set) when the value is not valid.
bool set_item_time(ShellItem& item, ItemTime which, const TimeValue& value);

// Appends label + the instant as a note, only when the value is valid.
void add_time_note(ShellItem& item, const std::string& label, const TimeValue& value);

}  // namespace lnk
