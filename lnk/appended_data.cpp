#include "lnk/appended_data.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace lnk {
namespace {

struct Magic {
  std::string_view bytes;
  const char* kind;
};

constexpr std::array<Magic, 9> kMagics = {{
    {std::string_view("MZ", 2), "PE"},
    {std::string_view("PK\x03\x04", 4), "ZIP"},
    {std::string_view("MSCF", 4), "CAB"},
    {std::string_view("%PDF", 4), "PDF"},
    {std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), "OLE"},
    {std::string_view("Rar!", 4), "RAR"},
    {std::string_view("7z\xBC\xAF\x27\x1C", 6), "7-Zip"},
    {std::string_view("\x1F\x8B", 2), "gzip"},
    {std::string_view("L\0\0\0\x01\x14\x02\0", 8), "shortcut"},
}};

// Words that start the scripts droppers carry (batch, PowerShell, VBScript,
// JScript, HTA).
constexpr std::array<std::string_view, 12> kScriptWords = {
    "@echo", "echo ", "powershell", "$", "set ", "dim ", "on error", "function", "var ", "<script",
    "<html", "cmd"};

bool is_text(std::span<const uint8_t> head) {
  return std::all_of(head.begin(), head.end(), [](uint8_t c) {
    return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c != 0x7F);
  });
}

}  // namespace

std::string appended_data_kind(std::span<const uint8_t> head) {
  const ByteReader reader(head);
  for (const Magic& magic : kMagics) {
    const auto pattern = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(magic.bytes.data()),
                                                  magic.bytes.size());
    if (reader.matches(0, pattern)) return magic.kind;
  }
  if (std::all_of(head.begin(), head.end(), [](uint8_t c) { return c == 0; })) return "zeros";
  if (!is_text(head)) return "data";
  std::string start = to_lower_ascii(reader.bytes_text(0, 64));
  start.erase(0, start.find_first_not_of(" \t\r\n"));
  for (std::string_view word : kScriptWords)
    if (start.starts_with(word)) return "script text";
  return "text";
}

}  // namespace lnk
