#include "lnk/string_data.h"

#include <array>

#include "lnk/newline_rule.h"

namespace lnk {
namespace {

struct StringSlot {
  uint32_t flag;
  std::string LnkRecord::*text;
  uint32_t ansi_bit;
};

// The order the strings are stored in, each announced by its LinkFlags bit.
constexpr std::array<StringSlot, 5> kStrings = {{
    {0x04, &LnkRecord::name_string, kAnsiNameString},
    {0x08, &LnkRecord::relative_path, kAnsiRelativePath},
    {0x10, &LnkRecord::working_dir, kAnsiWorkingDir},
    {0x20, &LnkRecord::command_line_arguments, kAnsiArguments},
    {0x40, &LnkRecord::icon_location, kAnsiIconLocation},
}};

constexpr uint32_t kIsUnicode = 0x80;

// In a Unicode shortcut the encoding is still judged from the data (a zero
// second byte means UTF-16LE): hand-made and converted shortcuts set the
// flag over ANSI strings.
std::string decode_string(const ByteReader& bytes, uint64_t start, uint16_t count, bool unicode, bool& ansi) {
  uint64_t data = start + 2;
  ansi = false;
  if (unicode && bytes.u8(data + 1) == 0) return bytes.utf16z(data, uint64_t{count} * 2);
  if (bytes.u8(data) == 0) return {};
  ansi = true;
  return bytes.ansiz(data, count);
}

}  // namespace

bool read_string_data(LnkRecord& record, const ByteReader& bytes, uint64_t& pos) {
  const uint64_t length = bytes.size();
  // Without IsUnicode every string is code-page bytes and its count is a
  // count of bytes; stepping over it as UTF-16 would lose the strings after it.
  const bool unicode = record.header.link_flags & kIsUnicode;
  for (size_t i = 0; i < kStrings.size(); ++i) {
    if ((record.header.link_flags & kStrings[i].flag) == 0 || pos >= length) continue;
    record.string_offsets[i] = static_cast<uint32_t>(pos);
    uint16_t count = bytes.u16(pos);
    uint64_t next = pos + 2 + uint64_t{count} * (unicode ? 2 : 1);
    if (next >= length) return false;
    bool ansi = false;
    record.*kStrings[i].text = one_line_text(decode_string(bytes, pos, count, unicode, ansi));
    if (ansi) record.ansi_texts |= kStrings[i].ansi_bit;
    pos = next;
  }
  return true;
}

}  // namespace lnk
