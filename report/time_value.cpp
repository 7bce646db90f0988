#include "report/time_value.h"

namespace lnk {

TimeValue TimeValue::from_filetime(uint64_t) { return {}; }
TimeValue TimeValue::from_unix_seconds(int64_t) { return {}; }
TimeValue TimeValue::from_ole_date(double) { return {}; }
TimeValue TimeValue::from_dos(uint16_t, uint16_t) { return {}; }
TimeValue TimeValue::now() { return {}; }
bool uuid_time(const Guid&, UuidTime&) { return false; }
std::string mac_text(const uint8_t[6]) { return {}; }
bool format_user(const TimeValue&, const std::string&, const std::string&, std::string&,
                 std::string&) {
  return false;
}
bool format_user_no_fraction(const TimeValue&, const std::string&, const std::string&,
                             std::string&, std::string&) {
  return false;
}
bool format_fixed(const TimeValue&, bool, bool, std::string&, std::string&) { return false; }
std::string compact_stamp(const TimeValue&) { return "00/00/00 00:00:00"; }

}  // namespace lnk
