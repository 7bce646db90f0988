#include "report/json_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/time_value.h"

namespace lnk {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";
constexpr uint64_t kTicksPerSecond = 10000000;

// Bytes a JSON string takes as they are: ASCII but controls, '"' and '\\'.
constexpr auto kPlain = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  return plain;
}();

// Length of the UTF-8 sequence at text[at], 0 when it is not a well-formed
// one (overlong forms, surrogates and code points past U+10FFFF included).
size_t utf8_sequence(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  return length;
}

void append_escape(std::string& out, unsigned char c) {
  switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", c);
      out += code;
    }
  }
}

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  size_t at = 0;
  while (at < text.size()) {
    // Runs of plain ASCII go in whole.
    size_t run = at;
    while (run < text.size() && kPlain[static_cast<unsigned char>(text[run])]) ++run;
    out.append(text, at, run - at);
    at = run;
    if (at == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c < 0x80) {
      append_escape(out, c);
      ++at;
      continue;
    }
    const size_t length = utf8_sequence(text, at);
    if (length == 0) {
      out += kReplacement;
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  out.push_back('"');
}

std::string iso_time(uint64_t filetime) {
  const TimeValue t = TimeValue::from_filetime(filetime);
  if (!t.valid) return {};
  // Written by hand: a record holds dozens of times and printf is slow.
  std::string text = "0000-00-00T00:00:00.0000000Z";
  auto digits = [&text](size_t end, uint64_t value) {
    for (size_t at = end; at-- > 0 && text[at] != '-' && text[at] != 'T' && text[at] != ':' &&
                          text[at] != '.';) {
      text[at] = static_cast<char>('0' + value % 10);
      value /= 10;
    }
  };
  digits(4, t.year);
  digits(7, t.month);
  digits(10, t.day);
  digits(13, t.hour);
  digits(16, t.minute);
  digits(19, t.second);
  digits(27, filetime % kTicksPerSecond);
  return text;
}

void JsonWriter::separate() {
  if (need_comma_) out_.push_back(',');
}

void JsonWriter::begin_object() {
  separate();
  out_.push_back('{');
  need_comma_ = false;
}

void JsonWriter::end_object() {
  out_.push_back('}');
  need_comma_ = true;
}

void JsonWriter::begin_array() {
  separate();
  out_.push_back('[');
  need_comma_ = false;
}

void JsonWriter::end_array() {
  out_.push_back(']');
  need_comma_ = true;
}

void JsonWriter::key(std::string_view name) {
  separate();
  append_json_string(out_, name);
  out_.push_back(':');
  need_comma_ = false;
}

void JsonWriter::string(std::string_view text) {
  separate();
  append_json_string(out_, text);
  need_comma_ = true;
}

void JsonWriter::number(uint64_t value) {
  separate();
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_.append(digits, end);
  need_comma_ = true;
}

void JsonWriter::number(int64_t value) {
  separate();
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_.append(digits, end);
  need_comma_ = true;
}

void JsonWriter::number(double value) {
  if (!std::isfinite(value)) {
    null();
    return;
  }
  separate();
  char digits[32];
  auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_.append(digits, end);
  need_comma_ = true;
}

void JsonWriter::boolean(bool value) {
  separate();
  out_ += value ? "true" : "false";
  need_comma_ = true;
}

void JsonWriter::null() {
  separate();
  out_ += "null";
  need_comma_ = true;
}

void JsonWriter::time_field(std::string_view name, uint64_t filetime) {
  const std::string text = iso_time(filetime);
  if (!text.empty()) field(name, text);
}

}  // namespace lnk
