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

WriteTarget write_target(const std::string& path, std::string& resolved) {
  resolved = path;
  HANDLE handle = CreateFileW(widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return WriteTarget::absent;
  const DWORD type = GetFileType(handle);
  BY_HANDLE_FILE_INFORMATION info;
  const bool plain_file = type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) != 0 &&
                          (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  CloseHandle(handle);
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return WriteTarget::stream;
  return plain_file ? WriteTarget::file : WriteTarget::refused;
}

bool create_file_beside(const std::string& target, std::string& temp) {
  const size_t slash = target.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1);
  static unsigned serial = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = folder + "." + name + ".rook-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    HANDLE handle = CreateFileW(widen(temp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle != INVALID_HANDLE_VALUE) return CloseHandle(handle) != 0;
    if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  temp.clear();
  return false;
}

bool replace_file(const std::string& from, const std::string& to) {
  return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool move_to_new_file(const std::string& from, const std::string& to) {
  return MoveFileExW(widen(from).c_str(), widen(to).c_str(), 0) != 0;
}

bool remove_file(const std::string& path) { return DeleteFileW(widen(path).c_str()) != 0; }

}  // namespace lnk::platform
#endif
