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

#include <cerrno>
#include <cstdint>

namespace lnk::platform {

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;

// The errno value that names the same failure, for the portable messages.
inline int errno_of(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EBUSY;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_DIRECTORY: return ENOTDIR;
    default: return EIO;
  }
}

inline uint64_t filetime_value(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace lnk::platform
#endif
