#include "report/escape_text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

#include "platform/text.h"

namespace lnk {
namespace {

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool hex_run(std::string_view text, size_t from, size_t count) {
  if (from + count > text.size()) return false;
  for (size_t i = from; i < from + count; ++i)
    if (!is_hex(text[i])) return false;
  return true;
}

// "x{HH}" or "u{HHHH}" at from: what an escape spells after its backslash.
bool escape_form(std::string_view text, size_t from, char letter, size_t digits) {
  return from + digits + 3 <= text.size() && text[from] == letter && text[from + 1] == '{' &&
         hex_run(text, from + 2, digits) && text[from + 2 + digits] == '}';
}

bool bidi_control(uint32_t c) {
  return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E || c == 0x200F;
}

// The code point escaped at i and its length in bytes, or 0 when the
// character there is written as it is.
uint32_t escaped_at(std::string_view text, size_t i, size_t& length) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t c = byte(i);
  length = 1;
  if (c < 0x20 || c == 0x7F) return c == 0 ? 0x100 : c;  // NUL is told apart from "no escape"
  if (c == '\\' && (escape_form(text, i + 1, 'x', 2) || escape_form(text, i + 1, 'u', 4))) return '\\';
  if (c == 0xC2 && i + 1 < text.size() && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
    length = 2;
    return byte(i + 1);
  }
  if (c == 0xD8 && i + 1 < text.size() && byte(i + 1) == 0x9C) {
    length = 2;
    return 0x061C;
  }
  if (c == 0xE2 && i + 2 < text.size() && (byte(i + 1) & 0xC0) == 0x80 && (byte(i + 2) & 0xC0) == 0x80) {
    const uint32_t code = ((c & 0x0Fu) << 12) | ((byte(i + 1) & 0x3Fu) << 6) | (byte(i + 2) & 0x3Fu);
    if (bidi_control(code)) {
      length = 3;
      return code;
    }
  }
  return 0;
}

}  // namespace

std::string escape_controls(std::string_view text) {
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i < text.size();) {
    size_t length = 1;
    uint32_t code = escaped_at(text, i, length);
    if (code == 0) {
      ++i;
      continue;
    }
    if (code == 0x100) code = 0;
    out.append(text.substr(copied, i - copied));
    out += code >= 0x100 ? "\\u{" : "\\x{";
    out += hex_lower(code, code >= 0x100 ? 4 : 2);
    out += '}';
    i += length;
    copied = i;
  }
  if (copied == 0) return std::string(text);
  out.append(text.substr(copied));
  return out;
}

std::string control_characters_in(std::string_view text) {
  std::vector<uint32_t> seen;
  std::string out;
  for (size_t i = 0; i < text.size();) {
    size_t length = 1;
    uint32_t code = escaped_at(text, i, length);
    i += length;
    if (code == 0 || code == '\\') continue;
    if (code == 0x100) code = 0;
    bool known = false;
    for (uint32_t s : seen) known = known || s == code;
    if (known) continue;
    seen.push_back(code);
    if (!out.empty()) out += ", ";
    std::string digits = hex_lower(code, 4);
    std::transform(digits.begin(), digits.end(), digits.begin(), [](unsigned char c) { return std::toupper(c); });
    out += "U+" + digits;
  }
  return out;
}

}  // namespace lnk
