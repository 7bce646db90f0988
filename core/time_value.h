// One instant, whatever encoding it arrived in. Everything is UTC; the
// texts the reports print are made in report/time_format.h.
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

}  // namespace lnk
