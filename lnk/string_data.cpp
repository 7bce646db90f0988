#include "lnk/string_data.h"

#include <algorithm>
#include <array>

namespace lnk {
namespace {

struct StringSlot {
  uint32_t flag;
  std::string LnkRecord::*text;
  uint32_t ansi_bit;
  // Windows reads at most kWindowsLimit characters of this string, whatever
  // its count claims, and takes the next string from there.
  bool limited;
};

// The order the strings are stored in, each announced by its LinkFlags bit.
// The arguments alone are read to their full count.
constexpr std::array<StringSlot, 5> kStrings = {{
    {0x04, &LnkRecord::name_string, kAnsiNameString, true},
    {0x08, &LnkRecord::relative_path, kAnsiRelativePath, true},
    {0x10, &LnkRecord::working_dir, kAnsiWorkingDir, true},
    {0x20, &LnkRecord::command_line_arguments, kAnsiArguments, false},
    {0x40, &LnkRecord::icon_location, kAnsiIconLocation, true},
}};

constexpr uint32_t kIsUnicode = 0x80;
// MAX_PATH; the last of these characters is read as the text's end.
constexpr uint32_t kWindowsLimit = 260;

// In a Unicode shortcut the encoding is still judged from the data (a zero
// second byte means UTF-16LE): hand-made and converted shortcuts set the
// flag over ANSI strings.
std::string decode_string(const ByteReader& bytes, uint64_t start, uint32_t count, bool unicode, bool& ansi) {
  uint64_t data = start + 2;
  ansi = false;
  if (unicode && bytes.u8(data + 1) == 0) return bytes.utf16z(data, uint64_t{count} * 2);
  if (bytes.u8(data) == 0) return {};
  ansi = true;
  return bytes.ansiz(data, count);
}

// What the whole claimed count would have read, so that nothing a crafted
// count covers goes unseen.
void note_overrun(LnkRecord& record, const ByteReader& bytes, uint64_t start, size_t slot, uint16_t count,
                  bool unicode, bool past_end) {
  StringOverrun overrun;
  overrun.slot = static_cast<uint8_t>(slot);
  overrun.claimed = count;
  overrun.past_end = past_end;
  bool ansi = false;
  overrun.claimed_text = decode_string(bytes, start, count, unicode, ansi);
  record.string_overruns.push_back(std::move(overrun));
}

}  // namespace

bool read_string_data(LnkRecord& record, const ByteReader& bytes, uint64_t& pos) {
  const uint64_t length = bytes.size();
  // Without IsUnicode every string is code-page bytes and its count is a
  // count of bytes; stepping over it as UTF-16 would lose the strings after it.
  const bool unicode = record.header.link_flags & kIsUnicode;
  const uint64_t unit = unicode ? 2 : 1;
  for (size_t i = 0; i < kStrings.size(); ++i) {
    if ((record.header.link_flags & kStrings[i].flag) == 0 || pos >= length) continue;
    record.string_offsets[i] = static_cast<uint32_t>(pos);
    const uint16_t count = bytes.u16(pos);
    const uint32_t read = kStrings[i].limited ? std::min<uint32_t>(count, kWindowsLimit) : count;
    const uint64_t next = pos + 2 + read * unit;
    // A string that ends where the bytes end is still whole: Windows reads it.
    if (next > length) {
      note_overrun(record, bytes, pos, i, count, unicode, true);
      return false;
    }
    const uint32_t text_count = read == kWindowsLimit && kStrings[i].limited ? kWindowsLimit - 1 : read;
    bool ansi = false;
    record.*kStrings[i].text = decode_string(bytes, pos, text_count, unicode, ansi);
    if (ansi) record.ansi_texts |= kStrings[i].ansi_bit;
    if (count > read) note_overrun(record, bytes, pos, i, count, unicode, false);
    pos = next;
  }
  return true;
}

}  // namespace lnk
