// The JSON text writer: strings that stay valid UTF-8 whatever bytes they
// are given, instants in ISO form, and separators in nested structures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "report/json_text.h"

namespace lnk {
namespace {

std::string json_string(const std::string& text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

const std::string kFffd = "\xEF\xBF\xBD";

// What JSON requires is escaped and the rest kept; bytes that are not UTF-8
// become replacement characters.
TEST(JsonText, StringsEscapedAndAlwaysUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"C:\\Users\\\"x\"", "C:\\\\Users\\\\\\\"x\\\""},
      {"a\nb\r\tc", "a\\nb\\r\\tc"},
      {std::string("\x01\x1f\x7f", 3), "\\u0001\\u001f\x7f"},
      {std::string("a\0b", 3), "a\\u0000b"},
      // Two-, three- and four-byte characters pass through unchanged, up to
      // the highest code point and the last before the surrogates.
      {"é€😀Привет表", "é€😀Привет表"},
      {"\xF4\x8F\xBF\xBF\xED\x9F\xBF", "\xF4\x8F\xBF\xBF\xED\x9F\xBF"},
      {"\x80", kFffd},                                   // a lone continuation byte
      {"a\xFF" "b", "a" + kFffd + "b"},                    // never a UTF-8 byte
      {"\xC0\xAF", kFffd + kFffd},                       // overlong "/"
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},           // overlong three-byte form
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},           // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // past U+10FFFF
      {"\xE2\x82" "A", kFffd + kFffd + "A"},             // cut short by an ASCII byte
      {"x\xF0\x9F\x98", "x" + kFffd + kFffd + kFffd},     // cut short by the end
      {"\xC8\xE5\xF0", kFffd + kFffd + kFffd},           // Cyrillic in code page 1251, undecoded
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(json_string(in), "\"" + out + "\"") << in;
}

TEST(JsonText, InstantsAreIsoUtcWithHundredNanosecondDigits) {
  const std::pair<uint64_t, const char*> cases[] = {
      {128887064000000000, "2009-06-05T20:13:20.0000000Z"},
      {128887064000000001, "2009-06-05T20:13:20.0000001Z"},
      {128887064009999999, "2009-06-05T20:13:20.9999999Z"},
      {116444736010000000, "1970-01-01T00:00:01.0000000Z"},
      // What the text report shows as missing (the rules are TimeValue's) has
      // no instant here either.
      {100000000000000000, ""},  // 1917
  };
  for (const auto& [filetime, shown] : cases) EXPECT_EQ(iso_time(filetime), shown) << filetime;
}

// Separators in nested values; fields without a value are left out; numbers
// keep their full range, and those JSON cannot hold become null.
TEST(JsonText, WriterPlacesSeparatorsAndKeepsNumbers) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.field("a", uint64_t{1});
  w.key("list");
  w.begin_array();
  w.begin_object(), w.end_object();
  w.begin_array(), w.number(int64_t{-2}), w.string("s"), w.end_array();
  w.null();
  w.end_array();
  w.text_field("empty", ""), w.time_field("never", 0), w.field("flag", false);
  w.key("numbers");
  w.begin_array();
  w.number(std::numeric_limits<uint64_t>::max()), w.number(std::numeric_limits<int64_t>::min());
  for (double d : {0.5, -1e300, std::nan(""), std::numeric_limits<double>::infinity()}) w.number(d);
  w.end_array();
  w.end_object();
  EXPECT_EQ(out, R"({"a":1,"list":[{},[-2,"s"],null],"flag":false,)"
                 R"("numbers":[18446744073709551615,-9223372036854775808,0.5,-1e+300,null,null]})");
}

}  // namespace
}  // namespace lnk
