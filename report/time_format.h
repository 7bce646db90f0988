// The texts of instants: the user's date and time formats and the fixed
// stamps. Everything is UTC.
#pragma once

#include <string>

#include "core/time_value.h"

namespace lnk {

// Formatter 1: user date and time formats. False (both texts empty) when the
// value is not valid.
bool format_user(const TimeValue& t, const std::string& date_format,
                 const std::string& time_format, std::string& date_text,
                 std::string& time_text);
// Formatter 2: as formatter 1 with the time cut at its first ".".
bool format_user_no_fraction(const TimeValue& t, const std::string& date_format,
                             const std::string& time_format, std::string& date_text,
                             std::string& time_text);
// Formatter 3: "%02d/%02d/%04d" and "%02d:%02d:%02d[.%03d]".
bool format_fixed(const TimeValue& t, bool milliseconds, bool two_digit_year,
                  std::string& date_text, std::string& time_text);
// Formatter 4: "05/17/23 14:03:09.120", or "00/00/00 00:00:00" when invalid.
std::string compact_stamp(const TimeValue& t);

}  // namespace lnk
