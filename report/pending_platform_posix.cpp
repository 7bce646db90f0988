// Stand-in for the platform layer's code-page conversion and terminal test
// (see pending_platform.h); to be dropped when the branches meet.
#ifndef _WIN32
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "report/pending_platform.h"

namespace lnk::platform {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool usable(iconv_t handle) { return handle != reinterpret_cast<iconv_t>(-1); }

// One converter per code page, opened on first use and closed at exit.
class Converters {
 public:
  ~Converters() {
    for (auto& [codepage, handle] : opened_)
      if (usable(handle)) ::iconv_close(handle);
  }
  iconv_t get(uint32_t codepage) {
    auto found = opened_.find(codepage);
    if (found != opened_.end()) return found->second;
    const std::string name = "CP" + std::to_string(codepage);
    iconv_t handle = ::iconv_open("UTF-8", name.c_str());
    opened_[codepage] = handle;
    return handle;
  }

 private:
  std::map<uint32_t, iconv_t> opened_;
};

iconv_t converter(uint32_t codepage) {
  static Converters converters;
  return converters.get(codepage);
}

}  // namespace

bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

bool codepage_supported(uint32_t codepage) { return usable(converter(codepage)); }

std::string ansi_to_utf8(std::span<const uint8_t> bytes, uint32_t codepage) {
  bool ascii = true;
  for (uint8_t b : bytes) ascii = ascii && b < 0x80;
  if (ascii) return std::string(bytes.begin(), bytes.end());
  std::string out;
  iconv_t handle = converter(codepage);
  if (!usable(handle)) {
    for (uint8_t b : bytes) {
      if (b < 0x80) out.push_back(static_cast<char>(b));
      else out += kReplacement;
    }
    return out;
  }
  ::iconv(handle, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
  size_t in_left = bytes.size();
  char buffer[256];
  while (in_left > 0) {
    char* to = buffer;
    size_t to_left = sizeof buffer;
    const size_t result = ::iconv(handle, &in, &in_left, &to, &to_left);
    out.append(buffer, static_cast<size_t>(to - buffer));
    if (result != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // An unmapped byte, or a character cut off by the end of the text.
    out += kReplacement;
    ++in;
    --in_left;
    ::iconv(handle, nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace lnk::platform
#endif
