#ifdef _WIN32
#include "platform/win32.h"

#include <cerrno>
#include <cstddef>
#include <vector>

#include "platform/folder_walk.h"
#include "platform/platform.h"

namespace lnk::platform {
namespace {

// The folder's handle, its access time kept as open_read_only keeps a file's.
HANDLE open_folder(const std::wstring& wide) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES, share, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FILETIME keep;
  keep.dwLowDateTime = 0xFFFFFFFF;
  keep.dwHighDateTime = 0xFFFFFFFF;
  SetFileTime(handle, nullptr, &keep, nullptr);
  return handle;
}

}  // namespace

bool list_folder(const std::string& path, std::vector<FolderEntry>& entries, int& error) {
  entries.clear();
  HANDLE handle = open_folder(utf8_to_wide(path));
  if (handle == INVALID_HANDLE_VALUE) {
    error = errno_of(GetLastError());
    return false;
  }
  // Junctions and symbolic links are reparse points: never descended into.
  std::vector<unsigned char> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS info_class = FileFullDirectoryRestartInfo;
  error = 0;
  while (GetFileInformationByHandleEx(handle, info_class, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    info_class = FileFullDirectoryInfo;
    size_t at = 0;
    for (;;) {
      const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + at);
      const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      const DWORD attributes = info->FileAttributes;
      const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (name != L"." && name != L".." && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
          (attributes & FILE_ATTRIBUTE_DEVICE) == 0)
        entries.push_back({wide_to_utf8(name.c_str()), folder});
      if (info->NextEntryOffset == 0) break;
      at += info->NextEntryOffset;
    }
  }
  const DWORD last = GetLastError();
  if (last != ERROR_NO_MORE_FILES) error = errno_of(last);
  CloseHandle(handle);
  return error == 0;
}

}  // namespace lnk::platform
#endif
