// Text conversions shared by every decoder: all strings inside rook are UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/byte_reader.h"

namespace lnk {

// UTF-16LE code units to UTF-8; surrogate pairs are combined, a lone
// surrogate becomes U+FFFD. An odd trailing byte is ignored.
std::string utf16le_to_utf8(std::span<const uint8_t> bytes);
// The same for code units already in memory (Windows wide strings).
std::string utf16_to_utf8(std::u16string_view units);
// UTF-8 to UTF-16 for the operating system's wide calls. Every byte that
// does not start a well-formed sequence (overlong forms, surrogates and
// values above U+10FFFF included) becomes one U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);
void append_utf8(std::string& out, uint32_t code_point);
// The text with every byte that does not start a well-formed UTF-8
// sequence replaced by U+FFFD, the same rule as utf8_to_utf16.
std::string valid_utf8(std::string_view text);

// Lower-case GUID without braces: Data1 u32, Data2 u16, Data3 u16, 8 bytes.
std::string guid_text(const Guid& g);
bool guid_is_zero(const Guid& g);
// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (braces allowed) into the stored form.
bool parse_guid(const std::string& text, Guid& out);

namespace detail {
constexpr uint8_t hex_digit(char c) {
  return static_cast<uint8_t>(c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : c - 'A' + 10);
}
constexpr uint8_t hex_byte(const char* text, int at) {
  return static_cast<uint8_t>(hex_digit(text[at]) * 16 + hex_digit(text[at + 1]));
}
}  // namespace detail

// A GUID constant from its text "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", in stored form.
constexpr Guid guid_literal(const char (&text)[37]) {
  using detail::hex_byte;
  return {hex_byte(text, 6),  hex_byte(text, 4),  hex_byte(text, 2),  hex_byte(text, 0),
          hex_byte(text, 11), hex_byte(text, 9),  hex_byte(text, 16), hex_byte(text, 14),
          hex_byte(text, 19), hex_byte(text, 21), hex_byte(text, 24), hex_byte(text, 26),
          hex_byte(text, 28), hex_byte(text, 30), hex_byte(text, 32), hex_byte(text, 34)};
}

// Without blanks, tabs, carriage returns and line feeds at either end.
std::string trim_blanks(const std::string& text);
std::string to_lower_ascii(std::string s);
std::string hex_lower(uint64_t value, int min_digits);

}  // namespace lnk
