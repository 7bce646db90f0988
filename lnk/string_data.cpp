#include "lnk/string_data.h"

#include <array>

#include "lnk/newline_rule.h"

namespace lnk {
namespace {

struct StringSlot {
  uint32_t flag;
  std::string LnkRecord::*text;
};

// The order the strings are stored in, each announced by its LinkFlags bit.
constexpr std::array<StringSlot, 5> kStrings = {{
    {0x04, &LnkRecord::name_string},
    {0x08, &LnkRecord::relative_path},
    {0x10, &LnkRecord::working_dir},
    {0x20, &LnkRecord::command_line_arguments},
    {0x40, &LnkRecord::icon_location},
}};

// IsUnicode is often wrong in hand-made and converted shortcuts, so the
// encoding is judged from the data: a zero second byte means UTF-16LE.
std::string decode_string(const ByteReader& bytes, uint64_t start, uint16_t count) {
  uint64_t data = start + 2;
  if (bytes.u8(data + 1) == 0) return bytes.utf16z(data, uint64_t{count} * 2);
  if (bytes.u8(data) == 0) return {};
  return bytes.ansiz(data, count);
}

}  // namespace

bool read_string_data(LnkRecord& record, const ByteReader& bytes, uint64_t& pos) {
  const uint64_t length = bytes.size();
  for (size_t i = 0; i < kStrings.size(); ++i) {
    if ((record.header.link_flags & kStrings[i].flag) == 0 || pos >= length) continue;
    record.string_offsets[i] = static_cast<uint32_t>(pos);
    uint16_t count = bytes.u16(pos);
    // The count is in characters but ANSI strings are stepped over as if
    // they were UTF-16 too, whatever IsUnicode says.
    uint64_t next = pos + 2 + uint64_t{count} * 2;
    if (next >= length) return false;
    record.*kStrings[i].text = one_line_text(decode_string(bytes, pos, count));
    pos = next;
  }
  return true;
}

}  // namespace lnk
