// The progress line on standard error that each update overwrites.
#pragma once

namespace lnk {

// Formats, keeps at most width characters (capped at 256), drops newlines,
// pads with blanks, ends with a carriage return.
void status_line(int width, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace lnk
