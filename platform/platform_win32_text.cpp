#ifdef _WIN32
#include "platform/win32.h"

#include <climits>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"

namespace lnk::platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

std::string from_wide(const std::wstring& wide) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

bool all_ascii(std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes)
    if (b >= 0x80) return false;
  return true;
}

// Windows fills the holes of its tables instead of refusing them: an
// unassigned single byte becomes the C1 control of the same value, and the
// user-defined ranges of the East Asian code pages land in the private use
// area. Neither is text, and iconv refuses both, so here they count as
// unmapped too and both builds give the same result.
bool unmapped_character(wchar_t unit) {
  return (unit >= 0x80 && unit <= 0x9F) || (unit >= 0xE000 && unit <= 0xF8FF);
}

// Converts the whole span or nothing. Code pages that refuse the checking
// flag (the ISO-2022 family and similar) convert without it.
bool convert_exactly(uint32_t codepage, std::span<const uint8_t> bytes, std::wstring& wide) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) return false;
  const auto* text = reinterpret_cast<const char*>(bytes.data());
  const int length = static_cast<int>(bytes.size());
  DWORD flags = MB_ERR_INVALID_CHARS;
  int needed = MultiByteToWideChar(codepage, flags, text, length, nullptr, 0);
  if (needed == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
    flags = 0;
    needed = MultiByteToWideChar(codepage, flags, text, length, nullptr, 0);
  }
  if (needed <= 0) return false;
  wide.assign(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(codepage, flags, text, length, wide.data(), needed) != needed) return false;
  for (wchar_t unit : wide)
    if (unmapped_character(unit)) return false;
  return true;
}

// Character by character, giving up one byte where a character cannot be
// read, as iconv does on POSIX, so that both builds agree.
std::string convert_by_character(std::span<const uint8_t> bytes, uint32_t codepage) {
  CPINFO info = {};
  const bool double_byte = GetCPInfo(codepage, &info) && info.MaxCharSize == 2;
  std::string out;
  std::wstring wide;
  size_t at = 0;
  while (at < bytes.size()) {
    const uint8_t lead = bytes[at];
    if (lead < 0x80) {
      out.push_back(static_cast<char>(lead));
      ++at;
      continue;
    }
    const size_t length =
        double_byte && IsDBCSLeadByteEx(codepage, lead) && at + 1 < bytes.size() ? 2 : 1;
    if (convert_exactly(codepage, bytes.subspan(at, length), wide)) {
      out += from_wide(wide);
      at += length;
    } else {
      out += kReplacement;
      ++at;
    }
  }
  return out;
}

}  // namespace

std::string wide_to_utf8(const wchar_t* text) {
  if (text == nullptr) return std::string();
  return utf16_to_utf8(reinterpret_cast<const char16_t*>(text));
}

std::wstring utf8_to_wide(const std::string& text) {
  const std::u16string units = utf8_to_utf16(text);
  return std::wstring(units.begin(), units.end());
}

std::string ansi_to_utf8(std::span<const uint8_t> bytes, uint32_t codepage) {
  if (all_ascii(bytes)) return std::string(bytes.begin(), bytes.end());
  if (codepage == CP_UTF8)
    return valid_utf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!codepage_supported(codepage)) {
    std::string out;
    for (uint8_t b : bytes) {
      if (b < 0x80) out.push_back(static_cast<char>(b));
      else out += kReplacement;
    }
    return out;
  }
  std::wstring wide;
  if (convert_exactly(codepage, bytes, wide)) return from_wide(wide);
  return convert_by_character(bytes, codepage);
}

bool codepage_supported(uint32_t codepage) { return IsValidCodePage(codepage) != 0; }

uint32_t default_ansi_code_page() { return GetACP(); }

}  // namespace lnk::platform
#endif
