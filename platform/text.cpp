#include "platform/text.h"

#include <cstdio>

namespace lnk {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length and value of the well-formed UTF-8 sequence at the start of text,
// or 0 when it is not one.
size_t utf8_sequence(std::string_view text, uint32_t& code_point) {
  const auto lead = static_cast<unsigned char>(text[0]);
  size_t length = 0;
  uint32_t lowest = 0;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, lowest = 0x80, code_point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, lowest = 0x800, code_point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, lowest = 0x10000, code_point = lead & 0x07;
  } else {
    return 0;
  }
  if (length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < lowest || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF))
    return 0;
  return length;
}

template <class Unit>
std::string units_to_utf8(size_t count, Unit unit_at) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t u = unit_at(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
      const uint32_t lo = unit_at(i + 1);
      if (lo >= 0xDC00 && lo <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        ++i;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;
    append_utf8(out, u);
  }
  return out;
}

}  // namespace

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string utf16le_to_utf8(std::span<const uint8_t> bytes) {
  return units_to_utf8(bytes.size() / 2, [&](size_t i) {
    return static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  });
}

std::string utf16_to_utf8(std::u16string_view units) {
  return units_to_utf8(units.size(), [&](size_t i) { return static_cast<uint32_t>(units[i]); });
}

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  while (!text.empty()) {
    uint32_t cp = 0;
    size_t length = utf8_sequence(text, cp);
    if (length == 0) {
      cp = 0xFFFD;
      length = 1;
    }
    text.remove_prefix(length);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    uint32_t cp = 0;
    const size_t length = utf8_sequence(text, cp);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

std::string guid_text(const Guid& g) {
  char buf[40];
  uint32_t d1 = g[0] | (g[1] << 8) | (g[2] << 16) | (static_cast<uint32_t>(g[3]) << 24);
  unsigned d2 = g[4] | (g[5] << 8);
  unsigned d3 = g[6] | (g[7] << 8);
  std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", d1, d2, d3,
                g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
  return buf;
}

bool guid_is_zero(const Guid& g) {
  for (uint8_t b : g)
    if (b) return false;
  return true;
}

bool parse_guid(const std::string& text, Guid& out) {
  std::string hex;
  for (char c : text) {
    if (c == '{' || c == '}' || c == '-') continue;
    if (hex_value(c) < 0) return false;
    hex.push_back(c);
  }
  if (hex.size() != 32) return false;
  uint8_t raw[16];
  for (int i = 0; i < 16; ++i) raw[i] = static_cast<uint8_t>(hex_value(hex[2 * i]) * 16 + hex_value(hex[2 * i + 1]));
  // Text order is big-endian for the first three fields; storage is little-endian.
  out = {raw[3], raw[2], raw[1], raw[0], raw[5], raw[4], raw[7], raw[6],
         raw[8], raw[9], raw[10], raw[11], raw[12], raw[13], raw[14], raw[15]};
  return true;
}

std::string trim_blanks(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

std::string to_lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string hex_lower(uint64_t value, int min_digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llx", min_digits, static_cast<unsigned long long>(value));
  return buf;
}

}  // namespace lnk
