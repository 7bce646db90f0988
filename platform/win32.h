// What the Win32 sources of the platform layer share.
#pragma once
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>

namespace lnk::platform {

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;

inline uint64_t filetime_value(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace lnk::platform
#endif
