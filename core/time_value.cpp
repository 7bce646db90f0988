#include "core/time_value.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace lnk {
namespace {

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
constexpr uint64_t kUnixEpochFiletime = 116444736000000000ULL;
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ULL;
// 100 ns ticks from the Gregorian reform (UUID epoch) to 1601-01-01.
constexpr uint64_t kUuidToFiletime = 5748192000000000ULL;

constexpr uint32_t kDaysPer400Years = 146097;
constexpr uint32_t kDaysPer100Years = 36524;
constexpr uint32_t kDaysPer4Years = 1461;

bool is_leap(uint32_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

uint32_t days_in_month(uint32_t year, uint32_t month) {
  static const uint8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return (month == 2 && is_leap(year)) ? 29 : kDays[month - 1];
}

// Proleptic Gregorian breakdown counted from 1601-01-01, the first year of a
// 400-year cycle, so whole cycles can be peeled off without any table.
void break_down(TimeValue& t) {
  uint64_t days = t.filetime / kTicksPerDay;
  uint64_t ticks_of_day = t.filetime % kTicksPerDay;

  t.day_of_week = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday

  uint64_t year = 1601 + 400 * (days / kDaysPer400Years);
  uint64_t rest = days % kDaysPer400Years;
  uint64_t centuries = rest / kDaysPer100Years;
  if (centuries == 4) centuries = 3;  // last day of a 400-year cycle
  rest -= centuries * kDaysPer100Years;
  uint64_t quads = rest / kDaysPer4Years;
  rest -= quads * kDaysPer4Years;
  uint64_t years = rest / 365;
  if (years == 4) years = 3;  // last day of a leap year
  rest -= years * 365;
  year += centuries * 100 + quads * 4 + years;

  uint32_t month = 1;
  while (month < 12 && rest >= days_in_month(static_cast<uint32_t>(year), month)) {
    rest -= days_in_month(static_cast<uint32_t>(year), month);
    ++month;
  }
  t.year = static_cast<uint16_t>(year);
  t.month = static_cast<uint16_t>(month);
  t.day = static_cast<uint16_t>(rest + 1);

  uint64_t seconds_of_day = ticks_of_day / kTicksPerSecond;
  uint64_t fraction = t.filetime % kTicksPerSecond;
  t.hour = static_cast<uint16_t>(seconds_of_day / 3600);
  t.minute = static_cast<uint16_t>(seconds_of_day / 60 % 60);
  t.second = static_cast<uint16_t>(seconds_of_day % 60);
  t.millisecond = static_cast<uint16_t>(fraction / 10000);
  t.microseconds = fraction / 10;
  t.nanoseconds = fraction * 100;
}

// Days from 1601-01-01 to the first of the given month.
uint64_t days_before(uint32_t year, uint32_t month) {
  uint64_t y = year - 1601;
  uint64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (uint32_t m = 1; m < month; ++m) days += days_in_month(year, m);
  return days;
}

}  // namespace

TimeValue TimeValue::from_filetime(uint64_t filetime) {
  TimeValue t;
  t.filetime = filetime;
  t.filetime_low = static_cast<uint32_t>(filetime);
  t.filetime_high = static_cast<uint32_t>(filetime >> 32);
  if (filetime == 0 || (filetime >> 63) != 0) return t;
  // Unsigned on purpose: anything before 1970 wraps to a huge count that the
  // local-time test rejects, so such times print as missing.
  t.unix_seconds = (filetime - kUnixEpochFiletime) / kTicksPerSecond;
  if (t.unix_seconds == 0 || !platform::local_time_converts(t.unix_seconds)) return t;
  break_down(t);
  t.valid = true;
  return t;
}

TimeValue TimeValue::from_unix_seconds(int64_t seconds) {
  if (seconds < 1) return {};
  uint64_t filetime = 0;
  if (!checked_add(static_cast<uint64_t>(seconds), kSecondsFrom1601To1970, filetime) ||
      !checked_mul(filetime, kTicksPerSecond, filetime)) {
    return {};
  }
  return from_filetime(filetime);
}

TimeValue TimeValue::from_ole_date(double days) {
  double ticks = (days * 86400.0 + 9435312000.0) * 1e7;
  // Also rejects NaN; the conversion below is only defined in range.
  if (!(ticks >= 0.0 && ticks < 9.2e18)) return {};
  return from_filetime(static_cast<uint64_t>(ticks));
}

TimeValue TimeValue::from_dos(uint16_t date_word, uint16_t time_word) {
  uint32_t day = date_word & 0x1F;
  uint32_t month = (date_word >> 5) & 0x0F;
  uint32_t year = 1980 + (date_word >> 9);
  uint32_t second = 2 * (time_word & 0x1F);
  uint32_t minute = (time_word >> 5) & 0x3F;
  uint32_t hour = time_word >> 11;
  if (day == 0 || month < 1 || month > 12 || second > 59 || minute > 59 || hour > 23) return {};
  uint64_t days = days_before(year, month) + day - 1;
  uint64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return from_filetime(seconds * kTicksPerSecond);
}

TimeValue TimeValue::now() {
  uint64_t seconds = 0;
  uint32_t milliseconds = 0;
  platform::clock_now(seconds, milliseconds);
  return from_filetime(((seconds + kSecondsFrom1601To1970) * 1000 + milliseconds) * 10000);
}

bool uuid_filetime(const Guid& uuid, uint64_t& filetime) {
  filetime = 0;
  ByteReader reader(std::span<const uint8_t>(uuid.data(), uuid.size()));
  uint64_t stamp = reader.u64(0);
  if ((stamp >> 60) != 1) return false;
  stamp &= 0x0FFFFFFFFFFFFFFFULL;
  if (stamp < kUuidToFiletime) return false;
  filetime = stamp - kUuidToFiletime;
  return true;
}

bool uuid_time(const Guid& uuid, UuidTime& out) {
  out = UuidTime{};
  uint64_t filetime = 0;
  if (!uuid_filetime(uuid, filetime)) return false;
  ByteReader reader(std::span<const uint8_t>(uuid.data(), uuid.size()));
  out.time = TimeValue::from_filetime(filetime);
  out.clock_sequence = static_cast<uint16_t>((reader.u8(8) * 256 + reader.u8(9)) & 0x3FFF);
  for (int i = 0; i < 6; ++i) out.node[i] = reader.u8(10 + i);
  return true;
}

std::string mac_text(const uint8_t node[6]) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", node[0], node[1], node[2],
                node[3], node[4], node[5]);
  return buf;
}

}  // namespace lnk
