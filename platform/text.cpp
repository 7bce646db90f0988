#include "platform/text.h"

#include <cstdio>

namespace lnk {

namespace {

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

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string utf16le_to_utf8(std::span<const uint8_t> bytes) {
  std::string out;
  size_t units = bytes.size() / 2;
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      uint32_t lo = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
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
