#include "report/time_format.h"

#include <cstdio>

namespace lnk {
namespace {

std::string two_digits(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02u", value);
  return buf;
}

std::string padded(uint64_t value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(value));
  return buf;
}

bool has(const std::string& s, const char* what) { return s.find(what) != std::string::npos; }

std::string date_text_for(const TimeValue& t, const std::string& format) {
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char sep = '/';
  bool blank_separator = false;
  if (has(format, "/")) {
    sep = '/';
  } else if (has(format, "-")) {
    sep = '-';
  } else if (has(format, " ")) {
    sep = ' ';
    blank_separator = true;
  }

  bool named_month = has(format, "mmm");
  std::string month = named_month && t.month >= 1 && t.month <= 12 ? kMonths[t.month - 1]
                                                                    : two_digits(t.month);
  std::string day = two_digits(t.day);
  std::string year = padded(t.year, 4);
  if (!has(format, "yyyy") && has(format, "yy")) year = two_digits(t.year % 100);

  const size_t pos_yy = format.find("yy");
  const size_t pos_mm = format.find("mm");
  const size_t pos_dd = format.find("dd");
  if (pos_yy == std::string::npos || pos_mm == std::string::npos ||
      pos_dd == std::string::npos) {
    return month + "/" + day + "/" + year;
  }

  const size_t pos_month = named_month ? format.find("mmm") : pos_mm;
  bool comma = blank_separator && pos_dd > pos_month &&
               format.find(',', pos_dd) != std::string::npos;

  std::string body;
  if (pos_mm >= pos_dd) {
    body = day + sep + month;
  } else {
    body = month + sep + day;
    if (comma) body += ',';
  }
  return pos_yy != 0 ? body + sep + year : year + sep + body;
}

std::string time_text_for(const TimeValue& t, const std::string& format) {
  std::string text;
  if (has(format, "hh:mm")) text = two_digits(t.hour) + ":" + two_digits(t.minute);
  if (has(format, "ss")) text += ":" + two_digits(t.second);
  const size_t first = format.find("xxx");
  if (first == std::string::npos) return text;
  const int n = static_cast<int>(format.rfind('x') - first + 1);
  static const uint64_t kPow10[] = {1, 10, 100, 1000};
  if (n == 3) {
    text += "." + padded(t.millisecond, 3);
  } else if (n == 4 || n == 5) {
    text += "." + padded(t.microseconds / kPow10[6 - n], n);
  } else if (n == 6) {
    text += "." + padded(t.microseconds, 6);
  } else if (n == 7 || n == 8) {
    text += "." + padded(t.nanoseconds / kPow10[9 - n], n);
  } else if (n == 9) {
    text += "." + padded(t.nanoseconds, 9);
  }
  return text;
}

}  // namespace

bool format_user(const TimeValue& t, const std::string& date_format,
                 const std::string& time_format, std::string& date_text,
                 std::string& time_text) {
  date_text.clear();
  time_text.clear();
  if (!t.valid) return false;
  if (!date_format.empty()) date_text = date_text_for(t, date_format);
  if (!time_format.empty()) time_text = time_text_for(t, time_format);
  return true;
}

bool format_user_no_fraction(const TimeValue& t, const std::string& date_format,
                             const std::string& time_format, std::string& date_text,
                             std::string& time_text) {
  bool ok = format_user(t, date_format, time_format, date_text, time_text);
  size_t dot = time_text.find('.');
  if (dot != std::string::npos) time_text.erase(dot);
  return ok;
}

bool format_fixed(const TimeValue& t, bool milliseconds, bool two_digit_year,
                  std::string& date_text, std::string& time_text) {
  date_text.clear();
  time_text.clear();
  if (!t.valid) return false;
  char buf[64];
  if (two_digit_year) {
    int year = t.year < 2000 ? t.year - 1900 : t.year - 2000;
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", t.month, t.day, year);
  } else {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.month, t.day, t.year);
  }
  date_text = buf;
  if (milliseconds) {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second,
                  t.millisecond);
  } else {
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  }
  time_text = buf;
  return true;
}

std::string compact_stamp(const TimeValue& t) {
  std::string date_text, time_text;
  if (!format_fixed(t, true, true, date_text, time_text)) return "00/00/00 00:00:00";
  return date_text + " " + time_text;
}

}  // namespace lnk
