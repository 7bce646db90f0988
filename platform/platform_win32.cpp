#ifdef _WIN32
#include "platform/win32.h"

#include <winioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>

#include "platform/platform.h"

namespace lnk::platform {

namespace {

constexpr DWORD kLargestRead = 1u << 30;

uint64_t unix_to_filetime(__time64_t t) {
  return t < 0 ? 0 : kUnixEpochAsFiletime + static_cast<uint64_t>(t) * 10000000ULL;
}

class Win32File : public InputFile {
 public:
  Win32File(HANDLE handle, uint64_t size) : handle_(handle), size_(size) {}
  ~Win32File() override { CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  // Devices take only whole sectors at aligned offsets; the caller asks for
  // those, and the offset travels in the OVERLAPPED structure so no shared
  // file pointer is involved.
  int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
    size_t done = 0;
    while (done < n) {
      const size_t left = n - done;
      const DWORD want = left > kLargestRead ? kLargestRead : static_cast<DWORD>(left);
      const uint64_t at = offset + done;
      OVERLAPPED where = {};
      where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
      where.OffsetHigh = static_cast<DWORD>(at >> 32);
      DWORD got = 0;
      if (!ReadFile(handle_, static_cast<char*>(buffer) + done, want, &got, &where)) {
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        return done ? static_cast<int64_t>(done) : -1;
      }
      if (got == 0) break;
      done += got;
    }
    return static_cast<int64_t>(done);
  }
  uint64_t size() const override { return size_; }

 private:
  HANDLE handle_;
  uint64_t size_;
};

// Volumes and shadow-copy devices have no file size; the disk driver knows
// their length.
uint64_t device_length(HANDLE handle) {
  GET_LENGTH_INFORMATION info = {};
  DWORD returned = 0;
  if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof info, &returned,
                      nullptr))
    return static_cast<uint64_t>(info.Length.QuadPart);
  return 0;
}

uint64_t file_length(HANDLE handle) {
  LARGE_INTEGER size = {};
  return GetFileSizeEx(handle, &size) && size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart) : 0;
}

void copy_geometry(const DISK_GEOMETRY& g, DeviceGeometry& geometry) {
  geometry.cylinders = static_cast<uint64_t>(g.Cylinders.QuadPart);
  geometry.media_type = static_cast<uint32_t>(g.MediaType);
  geometry.tracks_per_cylinder = g.TracksPerCylinder;
  geometry.sectors_per_track = g.SectorsPerTrack;
  geometry.bytes_per_sector = g.BytesPerSector;
  geometry.geometry_known = true;
}

void query_geometry(HANDLE handle, DeviceGeometry& geometry) {
  DWORD returned = 0;
  DISK_GEOMETRY_EX extended = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &extended,
                      sizeof extended, &returned, nullptr)) {
    copy_geometry(extended.Geometry, geometry);
    geometry.disk_size = static_cast<uint64_t>(extended.DiskSize.QuadPart);
    return;
  }
  DISK_GEOMETRY basic = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &basic, sizeof basic,
                      &returned, nullptr)) {
    copy_geometry(basic, geometry);
    geometry.disk_size = geometry.cylinders * basic.TracksPerCylinder * basic.SectorsPerTrack *
                         basic.BytesPerSector;
  }
}

void query_partition(HANDLE handle, DeviceGeometry& geometry) {
  DWORD returned = 0;
  PARTITION_INFORMATION_EX extended = {};
  PARTITION_INFORMATION basic = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &extended,
                      sizeof extended, &returned, nullptr)) {
    geometry.partition_offset = static_cast<uint64_t>(extended.StartingOffset.QuadPart);
    geometry.partition_length = static_cast<uint64_t>(extended.PartitionLength.QuadPart);
    geometry.partition_number = static_cast<int32_t>(extended.PartitionNumber);
    geometry.partition_known = true;
  } else if (DeviceIoControl(handle, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &basic,
                             sizeof basic, &returned, nullptr)) {
    geometry.partition_offset = static_cast<uint64_t>(basic.StartingOffset.QuadPart);
    geometry.partition_length = static_cast<uint64_t>(basic.PartitionLength.QuadPart);
    geometry.partition_number = static_cast<int32_t>(basic.PartitionNumber);
    geometry.partition_known = true;
  }
  STORAGE_DEVICE_NUMBER number = {};
  if (DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number,
                      &returned, nullptr)) {
    geometry.device_number = number.DeviceNumber;
    geometry.device_number_known = true;
  }
}

// Opens path for reading and keeps its access time: a last-access time of
// all ones set on the handle tells the file system not to update it for
// that handle. Setting it needs the right to write attributes, which a
// read-only share or medium may refuse; the read goes on without it.
HANDLE open_read_only(const std::string& path, DWORD share, DWORD flags) {
  const std::wstring wide = utf8_to_wide(path);
  HANDLE handle = CreateFileW(wide.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                              flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
  FILETIME keep;
  keep.dwLowDateTime = 0xFFFFFFFF;
  keep.dwHighDateTime = 0xFFFFFFFF;
  SetFileTime(handle, nullptr, &keep, nullptr);
  return handle;
}

void note_opened(HANDLE handle, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return;
  note_read(FileIdentity{info.dwVolumeSerialNumber,
                         (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow},
            path);
}

}  // namespace

std::unique_ptr<InputFile> open_input(const std::string& path) {
  if (path.empty()) return nullptr;
  HANDLE handle = open_read_only(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errno_of(GetLastError());
    return nullptr;
  }
  // Only files on a disk hold bytes worth reading; a named pipe or a console
  // would block the run.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    errno = 0;
    return nullptr;
  }
  note_opened(handle, path);
  uint64_t size = file_length(handle);
  if (size == 0) size = device_length(handle);
  return std::make_unique<Win32File>(handle, size);
}

std::unique_ptr<InputFile> open_device(const std::string& path, DeviceAccess access,
                                       bool with_partition, DeviceGeometry& geometry) {
  geometry = DeviceGeometry{};
  if (path.empty()) return nullptr;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (access == DeviceAccess::sequential) flags = FILE_FLAG_SEQUENTIAL_SCAN;
  if (access == DeviceAccess::random) flags = FILE_FLAG_RANDOM_ACCESS;
  HANDLE handle = open_read_only(path, FILE_SHARE_READ | FILE_SHARE_WRITE, flags);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  note_opened(handle, path);
  query_geometry(handle, geometry);
  if (with_partition) query_partition(handle, geometry);
  uint64_t size = geometry.partition_known ? geometry.partition_length : geometry.disk_size;
  if (size == 0) size = device_length(handle);
  // A plain file named as a device still has its own length.
  if (size == 0) size = file_length(handle);
  return std::make_unique<Win32File>(handle, size);
}

bool file_status(const std::string& path, FileStatus& out) {
  if (path.empty()) return false;
  const std::wstring wide = utf8_to_wide(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    out.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out.created = filetime_value(data.ftCreationTime);
    out.modified = filetime_value(data.ftLastWriteTime);
    out.accessed = filetime_value(data.ftLastAccessTime);
    out.created_known = true;
    return true;
  }
  struct _stat64 st;
  if (_wstat64(wide.c_str(), &st) != 0) return false;
  out.size = static_cast<uint64_t>(st.st_size);
  // The C run-time's st_ctime is the creation time on Windows.
  out.created = unix_to_filetime(st.st_ctime);
  out.modified = unix_to_filetime(st.st_mtime);
  out.accessed = unix_to_filetime(st.st_atime);
  out.created_known = true;
  return true;
}

std::filesystem::path native_path(const std::string& path) {
  return std::filesystem::path(utf8_to_wide(path));
}

bool make_directory(const std::string& path) {
  if (CreateDirectoryW(utf8_to_wide(path).c_str(), nullptr)) return true;
  return is_directory(path);
}

bool is_directory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(utf8_to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void clock_now(uint64_t& seconds, uint32_t& milliseconds) {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const uint64_t value = filetime_value(now);
  const uint64_t since_1970 = value > kUnixEpochAsFiletime ? value - kUnixEpochAsFiletime : 0;
  seconds = since_1970 / 10000000ULL;
  milliseconds = static_cast<uint32_t>((since_1970 % 10000000ULL) / 10000ULL);
}

double monotonic_seconds() {
  LARGE_INTEGER frequency, counter;
  if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0) return 0;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool local_time_converts(uint64_t unix_seconds) {
  if (unix_seconds >= 32535244800ULL) return false;
  const __time64_t t = static_cast<__time64_t>(unix_seconds);
  struct tm out;
  return _localtime64_s(&out, &t) == 0;
}

char path_separator() { return '\\'; }

}  // namespace lnk::platform
#endif
