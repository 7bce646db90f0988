// The line-based layouts (text, CSV, log2timeline, body file) write a
// decoded text so that it stays on its line and shows what it holds: every
// C0 and C1 control and DEL as \x{HH}, every bidirectional control as
// \u{HHHH}, and a backslash that would read as the start of either as
// \x{5c}. Nothing else changes, so Windows paths (\x64, \u0041) read as
// they are, and the escaping is undone by reading the escapes back.
#pragma once

#include <string>
#include <string_view>

namespace lnk {

std::string escape_controls(std::string_view text);

// The characters escape_controls escapes, one "U+HHHH" each, in the order
// they first appear, joined by ", "; empty when there are none.
std::string control_characters_in(std::string_view text);

}  // namespace lnk
