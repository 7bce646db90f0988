// Building one JSON text: objects, arrays, strings that are always valid
// UTF-8, exact integers, and instants in ISO 8601 form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace lnk {

// Appends text as a JSON string. Bytes that are not UTF-8 become U+FFFD,
// one replacement per byte that cannot start or continue a character.
void append_json_string(std::string& out, std::string_view text);

// "2009-06-05T20:13:20.0000000Z" (UTC, 100 ns digits); empty when the
// FILETIME is not a valid instant.
std::string iso_time(uint64_t filetime);

// Writes values in order into a string; commas and colons are placed by the
// writer. Keys and values must alternate inside objects.
class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void begin_object();
  void end_object();
  void begin_array();
  void end_array();
  void key(std::string_view name);

  void string(std::string_view text);
  void number(uint64_t value);
  void number(int64_t value);
  void number(double value);  // null when not finite
  void boolean(bool value);
  void null();

  // key + value in one call.
  template <class T>
  void field(std::string_view name, const T& value) {
    key(name);
    put(value);
  }
  // Only when the text is not empty.
  void text_field(std::string_view name, std::string_view text) {
    if (!text.empty()) field(name, text);
  }
  // Only when the FILETIME is a valid instant.
  void time_field(std::string_view name, uint64_t filetime);

 private:
  void separate();
  void put(std::string_view text) { string(text); }
  void put(const std::string& text) { string(text); }
  void put(const char* text) { string(text); }
  template <size_t N>
  void put(const char (&text)[N]) {
    string(text);
  }
  void put(bool value) { boolean(value); }
  void put(double value) { number(value); }
  template <class T>
  void put(const T& value) {
    if constexpr (std::is_signed_v<T>) number(static_cast<int64_t>(value));
    else number(static_cast<uint64_t>(value));
  }

  std::string& out_;
  bool need_comma_ = false;
};

}  // namespace lnk
