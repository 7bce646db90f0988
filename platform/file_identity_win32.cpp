#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "platform/platform.h"

namespace lnk::platform {
namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  return wide;
}

}  // namespace

bool file_identity(const std::string& path, FileIdentity& out) {
  // Opening for no access at all still yields the file's identity and
  // changes nothing about it.
  HANDLE handle = CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!ok) return false;
  out.volume = info.dwVolumeSerialNumber;
  out.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool write_new_file(const std::string& path, std::span<const uint8_t> bytes) {
  HANDLE handle = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  DWORD wrote = 0;
  const bool ok = bytes.empty() ||
                  (WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
                   wrote == bytes.size());
  CloseHandle(handle);
  return ok;
}

}  // namespace lnk::platform
#endif
