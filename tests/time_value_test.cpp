#include "core/time_value.h"
#include "report/time_format.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <tuple>

namespace lnk {
namespace {

constexpr uint64_t kTicks = 10000000ULL;
constexpr uint64_t kUnixEpoch = 116444736000000000ULL;

uint64_t filetime_of(uint64_t unix_seconds, uint64_t fraction_ticks = 0) {
  return kUnixEpoch + unix_seconds * kTicks + fraction_ticks;
}

// 2023-05-17 14:03:09.1234567 UTC
const uint64_t kMay17 = filetime_of(1684332189, 1234567);

TEST(TimeValueFiletime, ValidityFieldsAndCalendarAgainstGmtime) {
  const std::pair<uint64_t, bool> cases[] = {
      {0, false},
      {0x8000000000000000ULL | kMay17, false},
      {kUnixEpoch - 86400 * kTicks, false},     // 1969-12-31
      {filetime_of(0, kTicks / 2), false},      // whole seconds 0
      {filetime_of(1), true},
      {filetime_of(32535244799ULL), true},  // the local-time test stops at the year 3000
      {filetime_of(32535244800ULL), false},
  };
  for (const auto& [filetime, valid] : cases) EXPECT_EQ(TimeValue::from_filetime(filetime).valid, valid) << filetime;

  TimeValue t = TimeValue::from_filetime(kMay17);
  EXPECT_EQ(std::make_tuple(t.filetime_low, t.filetime_high, t.millisecond, t.microseconds, t.nanoseconds),
            std::make_tuple(static_cast<uint32_t>(kMay17), static_cast<uint32_t>(kMay17 >> 32), 123, 123456u, 123456700u));
  EXPECT_EQ(TimeValue::from_filetime(filetime_of(1)).unix_seconds, 1u);

  // The calendar against the C library over leap years, century boundaries
  // and month ends.
  for (uint64_t s = 1; s < 32535244800ULL; s += 7776013ULL) {
    for (uint64_t around : {s, s - s % 86400 + 86399, uint64_t{951782400} /* 2000-02-29 */}) {
      TimeValue t = TimeValue::from_filetime(filetime_of(around));
      time_t tt = static_cast<time_t>(around);
      struct tm g;
#ifdef _WIN32
      ASSERT_EQ(_gmtime64_s(&g, &tt), 0);
#else
      ASSERT_NE(gmtime_r(&tt, &g), nullptr);
#endif
      ASSERT_TRUE(t.valid) << around;
      ASSERT_EQ(std::vector<int>({t.year, t.month, t.day, t.day_of_week, t.hour, t.minute, t.second}),
                std::vector<int>({g.tm_year + 1900, g.tm_mon + 1, g.tm_mday, g.tm_wday, g.tm_hour, g.tm_min,
                                  g.tm_sec}))
          << around;
    }
  }
}

Guid uuid_with(uint64_t stamp_with_version, uint8_t b8, uint8_t b9) {
  Guid g{};
  for (int i = 0; i < 8; ++i) g[i] = static_cast<uint8_t>(stamp_with_version >> (8 * i));
  g[8] = b8;
  g[9] = b9;
  for (int i = 0; i < 6; ++i) g[10 + i] = static_cast<uint8_t>("\x00\x0c\x29\xaa\xbb\xcc"[i]);
  return g;
}

TEST(TimeValueOtherEncodings, UnixSecondsOleNowDosAndUuid) {
  for (int64_t seconds : {int64_t{0}, int64_t{-5}, INT64_MAX}) EXPECT_FALSE(TimeValue::from_unix_seconds(seconds).valid);
  EXPECT_EQ(TimeValue::from_unix_seconds(1684332189).filetime, filetime_of(1684332189));

  // 2023-05-17 12:00 is OLE day 45063.5.
  EXPECT_EQ(TimeValue::from_ole_date(45063.5).filetime, filetime_of(1684324800));
  EXPECT_FALSE(TimeValue::from_ole_date(-1e9).valid || TimeValue::from_ole_date(0.0 / 0.0).valid);

  EXPECT_GE(TimeValue::now().year, 2024);

  // DOS words are UTC and rejected out of range.
  const auto dos_date = [](int y, int m, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d); };
  const auto dos_time = [](int h, int m, int s2) { return static_cast<uint16_t>((h << 11) | (m << 5) | s2); };
  const uint16_t date = dos_date(2023, 5, 17);
  const uint16_t time = dos_time(14, 3, 4);
  EXPECT_EQ(TimeValue::from_dos(date, time).filetime, filetime_of(1684332188));  // 2023-05-17 14:03:08
  EXPECT_EQ(TimeValue::from_dos(dos_date(1980, 1, 1), 0).filetime, filetime_of(315532800));  // the earliest
  const std::pair<uint16_t, uint16_t> invalid[] = {
      {0, time},          {dos_date(2023, 13, 1), time}, {dos_date(2023, 0, 1), time},
      {date, dos_time(14, 0, 30)},  // 60 seconds
      {date, dos_time(14, 60, 0)}, {date, dos_time(24, 0, 0)},
  };
  for (const auto& [d, t] : invalid) EXPECT_FALSE(TimeValue::from_dos(d, t).valid) << d << " " << t;

  // Version 1 UUIDs: time, clock sequence and node.
  const uint64_t filetime = filetime_of(1244232800);  // 2009-06-05 20:13:20
  const uint64_t stamp = filetime + 5748192000000000ULL;
  UuidTime out;
  ASSERT_TRUE(uuid_time(uuid_with(stamp | (1ULL << 60), 0xC1, 0x23), out));
  EXPECT_EQ(std::make_tuple(out.time.filetime, out.clock_sequence, mac_text(out.node)),
            std::make_tuple(filetime, 0x0123, "00:0c:29:aa:bb:cc"));

  UuidTime random;
  EXPECT_FALSE(uuid_time(uuid_with(stamp | (4ULL << 60), 0, 0), random));
  EXPECT_EQ(std::make_tuple(random.time.valid, mac_text(random.node)), std::make_tuple(false, "00:00:00:00:00:00"));
  // Before 1601 there is no FILETIME for it.
  EXPECT_FALSE(uuid_time(uuid_with((1ULL << 60) | 5748191999999999ULL, 0, 0), random));
}

TEST(TimeFormats, UserFixedCompactAndInvalid) {
  const std::pair<const char*, const char*> cases[] = {
      {"mm/dd/yyyy", "05/17/2023"},
      {"dd-mm-yy", "17-05-23"},
      {"yyyy-mmm-dd", "2023-May-17"},
      {"mmm dd, yy", "May 17, 23"},
      {"dd mmm yyyy", "17 May 2023"},  // comma only after a leading month
      {"mm.dd.yy", "05/17/23"},        // no separator found
      {"mm-dd-zz", "05/17/2023"},      // no year field: fixed shape
      {"", ""},
  };
  for (const auto& [format, expected] : cases) {
    std::string date, time;
    format_user(TimeValue::from_filetime(kMay17), format, "hh:mm:ss.xxx", date, time);
    EXPECT_EQ(date, expected) << format;
  }
  const std::tuple<uint64_t, const char*, const char*> times[] = {
      {kMay17, "hh:mm:ss.xxx", "14:03:09.123"},
      {kMay17, "hh:mm:ss.xxxxxx", "14:03:09.123456"},
      {kMay17, "hh:mm:ss.xxxxxxx", "14:03:09.1234567"},
      {kMay17, "hh:mm:ss.xxxxxxxxx", "14:03:09.123456700"},
      {kMay17, "hh:mm:ss.xxxxxxxxxx", "14:03:09"},
      {kMay17, "hh:mm:ss", "14:03:09"},
      {kMay17, "ss.xxx:", ":09.123"},
      {kMay17, "", ""},
      // Leading zeros of the fraction are kept.
      {filetime_of(1684332189, 1200), "hh:mm:ss.xxx", "14:03:09.000"},
      {filetime_of(1684332189, 1200), "hh:mm:ss.xxxxxx", "14:03:09.000120"},
  };
  for (const auto& [filetime, format, expected] : times) {
    std::string date, time;
    format_user(TimeValue::from_filetime(filetime), "mm/dd/yyyy", format, date, time);
    EXPECT_EQ(time, expected) << format;
  }

  TimeValue t = TimeValue::from_filetime(kMay17);
  std::string date, time;
  ASSERT_TRUE(format_user_no_fraction(t, "mm/dd/yyyy", "hh:mm:ss.xxxxxx", date, time));
  EXPECT_EQ(time, "14:03:09");
  ASSERT_TRUE(format_fixed(t, false, false, date, time));
  EXPECT_EQ(date + " " + time + "|" + compact_stamp(t), "05/17/2023 14:03:09|05/17/23 14:03:09.123");
  ASSERT_TRUE(format_fixed(TimeValue::from_filetime(filetime_of(946684799)), true, true, date, time));
  EXPECT_EQ(date, "12/31/99");
  ASSERT_TRUE(format_fixed(TimeValue::from_filetime(filetime_of(1109912767)), true, true, date, time));
  EXPECT_EQ(date + " " + time, "03/04/05 05:06:07.000");

  // An invalid time gives empty texts and failure.
  EXPECT_FALSE(format_user(TimeValue::from_filetime(0), "mm/dd/yyyy", "hh:mm:ss.xxx", date, time));
  EXPECT_EQ(date + time, "");
  date = "x";
  EXPECT_FALSE(format_fixed(TimeValue{}, true, true, date, time));
  EXPECT_EQ(date + time, "");
  EXPECT_EQ(compact_stamp(TimeValue{}), "00/00/00 00:00:00");
}

}  // namespace
}  // namespace lnk
