#include "report/time_value.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace lnk {
namespace {

constexpr uint64_t kTicks = 10000000ULL;
constexpr uint64_t kUnixEpoch = 116444736000000000ULL;

uint64_t filetime_of(uint64_t unix_seconds, uint64_t fraction_ticks = 0) {
  return kUnixEpoch + unix_seconds * kTicks + fraction_ticks;
}

// 2023-05-17 14:03:09.1234567 UTC
const uint64_t kMay17 = filetime_of(1684332189, 1234567);

std::string date_of(const TimeValue& t, const std::string& format) {
  std::string date, time;
  format_user(t, format, "hh:mm:ss.xxx", date, time);
  return date;
}

std::string time_of(const TimeValue& t, const std::string& format) {
  std::string date, time;
  format_user(t, "mm/dd/yyyy", format, date, time);
  return time;
}

TEST(TimeValueFiletime, ValidityRules) {
  EXPECT_FALSE(TimeValue::from_filetime(0).valid);
  EXPECT_FALSE(TimeValue::from_filetime(0x8000000000000000ULL | kMay17).valid);
  EXPECT_FALSE(TimeValue::from_filetime(kUnixEpoch - 86400 * kTicks).valid);  // 1969-12-31
  EXPECT_FALSE(TimeValue::from_filetime(filetime_of(0, kTicks / 2)).valid);   // whole seconds 0
  TimeValue one = TimeValue::from_filetime(filetime_of(1));
  ASSERT_TRUE(one.valid);
  EXPECT_EQ(one.year, 1970);
  EXPECT_EQ(one.second, 1);
  EXPECT_EQ(one.unix_seconds, 1u);
  // The local-time test stops at the year 3000.
  EXPECT_TRUE(TimeValue::from_filetime(filetime_of(32535244799ULL)).valid);
  EXPECT_FALSE(TimeValue::from_filetime(filetime_of(32535244800ULL)).valid);
}

TEST(TimeValueFiletime, KeepsHalvesAndFractions) {
  TimeValue t = TimeValue::from_filetime(kMay17);
  ASSERT_TRUE(t.valid);
  EXPECT_EQ(t.filetime_low, static_cast<uint32_t>(kMay17));
  EXPECT_EQ(t.filetime_high, static_cast<uint32_t>(kMay17 >> 32));
  EXPECT_EQ(t.millisecond, 123);
  EXPECT_EQ(t.microseconds, 123456u);
  EXPECT_EQ(t.nanoseconds, 123456700u);
  EXPECT_EQ(t.day_of_week, 3);  // a Wednesday
}

// The calendar arithmetic is checked against the C library over leap years,
// century boundaries and month ends.
TEST(TimeValueFiletime, BreakdownAgreesWithGmtime) {
  for (uint64_t s = 1; s < 32535244800ULL; s += 7776013ULL) {
    for (uint64_t around : {s, s - s % 86400 + 86399}) {
      if (around == 0) continue;
      TimeValue t = TimeValue::from_filetime(filetime_of(around));
      time_t tt = static_cast<time_t>(around);
      struct tm g;
      ASSERT_NE(gmtime_r(&tt, &g), nullptr);
      ASSERT_TRUE(t.valid) << around;
      ASSERT_EQ(t.year, g.tm_year + 1900) << around;
      ASSERT_EQ(t.month, g.tm_mon + 1) << around;
      ASSERT_EQ(t.day, g.tm_mday) << around;
      ASSERT_EQ(t.day_of_week, g.tm_wday) << around;
      ASSERT_EQ(t.hour, g.tm_hour) << around;
      ASSERT_EQ(t.minute, g.tm_min) << around;
      ASSERT_EQ(t.second, g.tm_sec) << around;
    }
  }
  TimeValue leap = TimeValue::from_filetime(filetime_of(951782400));  // 2000-02-29
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
}

TEST(TimeValueOtherEncodings, UnixSecondsOleAndNow) {
  EXPECT_FALSE(TimeValue::from_unix_seconds(0).valid);
  EXPECT_FALSE(TimeValue::from_unix_seconds(-5).valid);
  EXPECT_FALSE(TimeValue::from_unix_seconds(INT64_MAX).valid);
  TimeValue u = TimeValue::from_unix_seconds(1684332189);
  EXPECT_TRUE(u.valid);
  EXPECT_EQ(u.filetime, filetime_of(1684332189));

  // 2023-05-17 12:00 is OLE day 45063.5.
  TimeValue ole = TimeValue::from_ole_date(45063.5);
  ASSERT_TRUE(ole.valid);
  EXPECT_EQ(ole.year, 2023);
  EXPECT_EQ(ole.day, 17);
  EXPECT_EQ(ole.hour, 12);
  EXPECT_FALSE(TimeValue::from_ole_date(-1e9).valid);
  EXPECT_FALSE(TimeValue::from_ole_date(0.0 / 0.0).valid);

  TimeValue now = TimeValue::now();
  EXPECT_TRUE(now.valid);
  EXPECT_GE(now.year, 2024);
}

TEST(TimeValueDos, WordsAreUtcAndRejectedOutOfRange) {
  // 2023-05-17 14:03:08
  const uint16_t date = static_cast<uint16_t>(((2023 - 1980) << 9) | (5 << 5) | 17);
  const uint16_t time = static_cast<uint16_t>((14 << 11) | (3 << 5) | 4);
  TimeValue t = TimeValue::from_dos(date, time);
  ASSERT_TRUE(t.valid);
  EXPECT_EQ(t.filetime, filetime_of(1684332188));

  EXPECT_FALSE(TimeValue::from_dos(0, time).valid);
  EXPECT_FALSE(TimeValue::from_dos(static_cast<uint16_t>((43 << 9) | (13 << 5) | 1), time).valid);
  EXPECT_FALSE(TimeValue::from_dos(static_cast<uint16_t>((43 << 9) | (0 << 5) | 1), time).valid);
  EXPECT_FALSE(TimeValue::from_dos(date, static_cast<uint16_t>((14 << 11) | 30)).valid);
  EXPECT_FALSE(TimeValue::from_dos(date, static_cast<uint16_t>((14 << 11) | (60 << 5))).valid);
  EXPECT_FALSE(TimeValue::from_dos(date, static_cast<uint16_t>(24 << 11)).valid);
  // 1980-01-01 00:00:00 is the earliest DOS instant.
  TimeValue first = TimeValue::from_dos(static_cast<uint16_t>((1 << 5) | 1), 0);
  ASSERT_TRUE(first.valid);
  EXPECT_EQ(first.filetime, filetime_of(315532800));
}

Guid uuid_with(uint64_t stamp_with_version, uint8_t b8, uint8_t b9) {
  Guid g{};
  for (int i = 0; i < 8; ++i) g[i] = static_cast<uint8_t>(stamp_with_version >> (8 * i));
  g[8] = b8;
  g[9] = b9;
  const uint8_t node[6] = {0x00, 0x0c, 0x29, 0xaa, 0xbb, 0xcc};
  for (int i = 0; i < 6; ++i) g[10 + i] = node[i];
  return g;
}

TEST(TimeValueUuid, Version1TimeClockSequenceAndNode) {
  const uint64_t filetime = filetime_of(1244232800);  // 2009-06-05 20:13:20
  const uint64_t stamp = filetime + 5748192000000000ULL;
  UuidTime out;
  ASSERT_TRUE(uuid_time(uuid_with(stamp | (1ULL << 60), 0xC1, 0x23), out));
  EXPECT_TRUE(out.time.valid);
  EXPECT_EQ(out.time.filetime, filetime);
  EXPECT_EQ(out.clock_sequence, 0x0123);
  EXPECT_EQ(mac_text(out.node), "00:0c:29:aa:bb:cc");

  UuidTime random;
  EXPECT_FALSE(uuid_time(uuid_with(stamp | (4ULL << 60), 0, 0), random));
  EXPECT_FALSE(random.time.valid);
  EXPECT_EQ(mac_text(random.node), "00:00:00:00:00:00");
  // Before 1601 there is no FILETIME for it.
  EXPECT_FALSE(uuid_time(uuid_with((1ULL << 60) | 5748191999999999ULL, 0, 0), random));
}

TEST(TimeFormats, DateFormatExamples) {
  TimeValue t = TimeValue::from_filetime(kMay17);
  EXPECT_EQ(date_of(t, "mm/dd/yyyy"), "05/17/2023");
  EXPECT_EQ(date_of(t, "yyyy/mm/dd"), "2023/05/17");
  EXPECT_EQ(date_of(t, "dd-mm-yy"), "17-05-23");
  EXPECT_EQ(date_of(t, "yyyy-mmm-dd"), "2023-May-17");
  EXPECT_EQ(date_of(t, "mmm dd, yy"), "May 17, 23");
  EXPECT_EQ(date_of(t, "dd/mm/yyyy"), "17/05/2023");
  EXPECT_EQ(date_of(t, "yy/mm/dd"), "23/05/17");
  EXPECT_EQ(date_of(t, "dd mmm yyyy"), "17 May 2023");  // comma only after a leading month
  EXPECT_EQ(date_of(t, "mm.dd.yy"), "05/17/23");        // no separator found
  EXPECT_EQ(date_of(t, "mm-dd-zz"), "05/17/2023");  // no year field: fixed shape
  EXPECT_EQ(date_of(t, ""), "");
}

TEST(TimeFormats, TimeFractionDigits) {
  TimeValue t = TimeValue::from_filetime(kMay17);
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxx"), "14:03:09.123");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxx"), "14:03:09.1234");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxxx"), "14:03:09.12345");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxxxx"), "14:03:09.123456");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxxxxx"), "14:03:09.1234567");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxxxxxx"), "14:03:09.12345670");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxxxxxxx"), "14:03:09.123456700");
  EXPECT_EQ(time_of(t, "hh:mm:ss.xxxxxxxxxx"), "14:03:09");
  EXPECT_EQ(time_of(t, "hh:mm:ss"), "14:03:09");
  EXPECT_EQ(time_of(t, "ss.xxx:"), ":09.123");
  EXPECT_EQ(time_of(t, ""), "");

  // Leading zeros of the fraction are kept.
  TimeValue small = TimeValue::from_filetime(filetime_of(1684332189, 1200));
  EXPECT_EQ(time_of(small, "hh:mm:ss.xxx"), "14:03:09.000");
  EXPECT_EQ(time_of(small, "hh:mm:ss.xxxxxx"), "14:03:09.000120");
}

TEST(TimeFormats, InvalidGivesEmptyTextsAndFailure) {
  std::string date = "x", time = "y";
  EXPECT_FALSE(format_user(TimeValue::from_filetime(0), "mm/dd/yyyy", "hh:mm:ss.xxx", date, time));
  EXPECT_EQ(date, "");
  EXPECT_EQ(time, "");
  date = "x";
  EXPECT_FALSE(format_fixed(TimeValue{}, true, true, date, time));
  EXPECT_EQ(date, "");
  EXPECT_EQ(compact_stamp(TimeValue{}), "00/00/00 00:00:00");
}

TEST(TimeFormats, NoFractionFixedAndCompact) {
  TimeValue t = TimeValue::from_filetime(kMay17);
  std::string date, time;
  ASSERT_TRUE(format_user_no_fraction(t, "mm/dd/yyyy", "hh:mm:ss.xxxxxx", date, time));
  EXPECT_EQ(time, "14:03:09");
  ASSERT_TRUE(format_fixed(t, false, false, date, time));
  EXPECT_EQ(date, "05/17/2023");
  EXPECT_EQ(time, "14:03:09");
  EXPECT_EQ(compact_stamp(t), "05/17/23 14:03:09.123");

  TimeValue y1999 = TimeValue::from_filetime(filetime_of(946684799));
  TimeValue y2005 = TimeValue::from_filetime(filetime_of(1109912767));
  ASSERT_TRUE(format_fixed(y1999, true, true, date, time));
  EXPECT_EQ(date, "12/31/99");
  ASSERT_TRUE(format_fixed(y2005, true, true, date, time));
  EXPECT_EQ(date, "03/04/05");
  EXPECT_EQ(time, "05:06:07.000");
}

}  // namespace
}  // namespace lnk
