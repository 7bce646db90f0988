#ifndef _WIN32
#include <iconv.h>

#include <array>
#include <cerrno>
#include <map>

#include "platform/platform.h"
#include "platform/text.h"

namespace lnk::platform {

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";
constexpr uint32_t kUtf8Codepage = 65001;
constexpr uint32_t kUnmapped = 0;

// iconv fills some holes of the code pages instead of refusing them: glibc
// gives CP950's 0x80 as the C1 control U+0080 and the user-defined ranges
// of CP932 and CP950 as private use characters. Neither is text; they count
// as unmapped, as Windows' own placeholders do in the Windows build.
bool unmapped_character(uint32_t code_point) {
  return (code_point >= 0x80 && code_point <= 0x9F) || (code_point >= 0xE000 && code_point <= 0xF8FF);
}

uint32_t code_point_of(const char (&utf32le)[4]) {
  uint32_t value = 0;
  for (int k = 3; k >= 0; --k) value = (value << 8) | static_cast<uint8_t>(utf32le[k]);
  return value;
}

// A converter from one code page to UTF-32LE. Single-byte code pages are
// read through a table built once from iconv, byte by byte: glibc would
// otherwise compose a CP1255 or CP1258 letter with the mark after it, which
// Windows does not.
struct Converter {
  iconv_t handle = reinterpret_cast<iconv_t>(-1);
  bool single_byte = true;
  std::array<uint32_t, 128> upper_half{};  // code points of bytes 0x80..0xFF

  bool usable() const { return handle != reinterpret_cast<iconv_t>(-1); }

  // One character from the start of in, or kUnmapped. Returns false when the
  // bytes end inside a character.
  bool next_character(const char*& in, size_t& in_left, uint32_t& code_point) {
    char unit[4];
    char* to = unit;
    size_t to_left = sizeof unit;
    auto* from = const_cast<char*>(in);
    const bool failed = ::iconv(handle, &from, &in_left, &to, &to_left) == static_cast<size_t>(-1);
    const int error = failed ? errno : 0;
    in = from;
    if (to_left == 0 || !failed) {
      // A character held back for a combining mark comes out on request.
      if (to_left != 0) ::iconv(handle, nullptr, nullptr, &to, &to_left);
      code_point = to_left == 0 ? code_point_of(unit) : kUnmapped;
      return true;
    }
    code_point = kUnmapped;
    return error != EINVAL;
  }

  void build_table() {
    for (size_t b = 0; b < upper_half.size(); ++b) {
      const char byte = static_cast<char>(0x80 + b);
      const char* in = &byte;
      size_t in_left = 1;
      ::iconv(handle, nullptr, nullptr, nullptr, nullptr);
      uint32_t code_point = kUnmapped;
      if (!next_character(in, in_left, code_point)) single_byte = false;
      upper_half[b] = unmapped_character(code_point) ? kUnmapped : code_point;
    }
  }
};

// One converter per code page, opened on first use: iconv_open costs far
// more than converting a short string. iconv_t is not shareable between
// threads, hence one cache per thread.
class Converters {
 public:
  ~Converters() {
    for (auto& [codepage, converter] : converters_)
      if (converter.usable()) ::iconv_close(converter.handle);
  }
  Converter& get(uint32_t codepage) {
    auto found = converters_.find(codepage);
    if (found != converters_.end()) return found->second;
    Converter& converter = converters_[codepage];
    // glibc names the Windows code pages "CP" + number (CP932 is Microsoft's
    // Shift-JIS, CP936 its GBK, CP949 its UHC).
    const std::string name = "CP" + std::to_string(codepage);
    converter.handle = ::iconv_open("UTF-32LE", name.c_str());
    if (converter.usable()) converter.build_table();
    return converter;
  }

 private:
  std::map<uint32_t, Converter> converters_;
};

Converters& converters() {
  thread_local Converters per_thread;
  return per_thread;
}

bool all_ascii(std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes)
    if (b >= 0x80) return false;
  return true;
}

void append_or_replace(std::string& out, uint32_t code_point) {
  if (code_point == kUnmapped) out += kReplacement;
  else append_utf8(out, code_point);
}

// Character by character, giving up one byte where no character can be
// read, as the Windows build does.
std::string convert_multi_byte(Converter& converter, std::span<const uint8_t> bytes) {
  std::string out;
  const char* text = reinterpret_cast<const char*>(bytes.data());
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes[at] < 0x80) {
      out.push_back(static_cast<char>(bytes[at++]));
      continue;
    }
    ::iconv(converter.handle, nullptr, nullptr, nullptr, nullptr);
    const char* in = text + at;
    size_t in_left = bytes.size() - at;
    uint32_t code_point = kUnmapped;
    converter.next_character(in, in_left, code_point);
    const size_t next = bytes.size() - in_left;
    if (code_point == kUnmapped || unmapped_character(code_point) || next <= at) {
      out += kReplacement;
      ++at;
    } else {
      append_utf8(out, code_point);
      at = next;
    }
  }
  return out;
}

}  // namespace

std::string ansi_to_utf8(std::span<const uint8_t> bytes, uint32_t codepage) {
  if (all_ascii(bytes)) return std::string(bytes.begin(), bytes.end());
  if (codepage == kUtf8Codepage)
    return valid_utf8(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  Converter& converter = converters().get(codepage);
  if (converter.usable() && !converter.single_byte) return convert_multi_byte(converter, bytes);
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (uint8_t b : bytes) {
    if (b < 0x80) out.push_back(static_cast<char>(b));
    else append_or_replace(out, converter.upper_half[b - 0x80]);
  }
  return out;
}

bool codepage_supported(uint32_t codepage) {
  return codepage == kUtf8Codepage || converters().get(codepage).usable();
}

uint32_t default_ansi_code_page() { return 1252; }

}  // namespace lnk::platform
#endif
