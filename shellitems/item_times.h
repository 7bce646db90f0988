// Item times: a time is stored together with its texts, and only when valid.
#pragma once

#include <string>

#include "cmdline/useropts.h"
#include "report/time_value.h"
#include "shellitems/shell_item.h"

namespace lnk {

enum class ItemTime { modified, accessed, created };

// Sets the item's time and its date and time texts; false (nothing set)
// when the value is not valid.
bool set_item_time(ShellItem& item, ItemTime which, const TimeValue& value,
                   const useropts& options);

// label + date + " " + time + " [UTC]", or empty when the value is not valid.
std::string time_note(const std::string& label, const TimeValue& value, const useropts& options);

}  // namespace lnk
