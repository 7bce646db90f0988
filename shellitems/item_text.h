// Text fields inside shell items: zero-terminated UTF-16LE and ANSI texts
// whose byte length the caller needs in order to step past them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/byte_reader.h"
#include "shellitems/shell_item.h"

namespace lnk {

struct ItemText {
  std::string text;     // UTF-8
  uint64_t chars = 0;   // characters (UTF-16 code units or bytes) before the NUL
  uint64_t consumed = 0;  // bytes taken including the NUL when one was found
};

// UTF-16LE text from off up to its NUL, within max_bytes and the reader.
ItemText read_utf16(const ByteReader& bytes, uint64_t off, uint64_t max_bytes);
// Zero-terminated byte text from off, within max_bytes; bytes above 0x7F are
// taken as Latin-1 so the result is UTF-8.
ItemText read_ansi(const ByteReader& bytes, uint64_t off, uint64_t max_bytes);

// Text a person wrote: no control characters, no U+FFFD (a lone surrogate
// or bad bytes), no private-use characters, and not ASCII read with its bytes
// swapped (every character of the form U+xx00). Bytes that are something
// else (times, numbers) decode as UTF-16 into such characters.
bool is_readable_text(const std::string& utf8);

// Lists text among the item's ANSI texts when it holds more than ASCII.
void note_ansi_text(ShellItem& item, const std::string& text);

// Offset of the first u16 at or after off that is not below limit; the
// reader's size when none.
uint64_t skip_small_u16(const ByteReader& bytes, uint64_t off, uint16_t limit, uint64_t* skipped);

}  // namespace lnk
