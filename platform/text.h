// Text conversions shared by every decoder: all strings inside rook are UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/byte_reader.h"

namespace lnk {

// UTF-16LE code units to UTF-8; surrogate pairs are combined, a lone
// surrogate becomes U+FFFD. An odd trailing byte is ignored.
std::string utf16le_to_utf8(std::span<const uint8_t> bytes);

// Lower-case GUID without braces: Data1 u32, Data2 u16, Data3 u16, 8 bytes.
std::string guid_text(const Guid& g);
bool guid_is_zero(const Guid& g);
// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (braces allowed) into the stored form.
bool parse_guid(const std::string& text, Guid& out);

std::string to_lower_ascii(std::string s);
std::string hex_lower(uint64_t value, int min_digits);

}  // namespace lnk
