// Platform calls this branch uses that the platform layer is gaining
// elsewhere, with the same signatures. When the two meet, this header and
// pending_platform_posix.cpp go and their users include platform/platform.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lnk::platform {

bool stderr_is_terminal();
// ANSI text in Windows code page codepage, as UTF-8; unmapped bytes become U+FFFD.
std::string ansi_to_utf8(std::span<const uint8_t> bytes, uint32_t codepage);
bool codepage_supported(uint32_t codepage);

}  // namespace lnk::platform
