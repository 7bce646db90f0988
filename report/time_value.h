// One instant, whatever encoding it arrived in, and the formatters that
// print it. Everything is UTC.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_reader.h"

namespace lnk {

struct TimeValue {
  uint64_t unix_seconds = 0;
  uint64_t filetime = 0;
  uint32_t filetime_low = 0;
  uint32_t filetime_high = 0;
  uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, millisecond = 0;
  uint64_t microseconds = 0;
  uint64_t nanoseconds = 0;
  bool valid = false;

  static TimeValue from_filetime(uint64_t filetime);
  static TimeValue from_unix_seconds(int64_t seconds);
  static TimeValue from_ole_date(double days);
  static TimeValue from_dos(uint16_t date_word, uint16_t time_word);
  static TimeValue now();
};

// Version-1 UUID time, clock sequence and node (MAC). False when the UUID is
// not version 1 or its time is before the FILETIME epoch.
struct UuidTime {
  TimeValue time;
  uint16_t clock_sequence = 0;
  uint8_t node[6] = {};
};
bool uuid_time(const Guid& uuid, UuidTime& out);
// Only the FILETIME of a version-1 UUID, valid or not; false (and 0) when the
// UUID is not version 1 or predates 1601.
bool uuid_filetime(const Guid& uuid, uint64_t& filetime);
// "xx:xx:xx:xx:xx:xx" from a UUID's node bytes.
std::string mac_text(const uint8_t node[6]);

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
