#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#include <shlobj.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/platform.h"

// Link with kernel32, advapi32 (tokens, SIDs), shell32 (IsUserAnAdmin),
// user32 (remote session test) and version (file version resource).
#ifdef _MSC_VER
#pragma comment(lib, "advapi32.lib")
#pragma comment(lib, "shell32.lib")
#pragma comment(lib, "user32.lib")
#pragma comment(lib, "version.lib")
#endif

namespace lnk::platform {

namespace {

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;
constexpr DWORD kLargestRead = 1u << 30;

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-8 to UTF-16 for the W calls; a malformed byte becomes U+FFFD.
std::wstring to_wide(const std::string& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t extra = 0;
    if (lead < 0x80) { cp = lead; }
    else if ((lead & 0xE0) == 0xC0) { cp = lead & 0x1F; extra = 1; }
    else if ((lead & 0xF0) == 0xE0) { cp = lead & 0x0F; extra = 2; }
    else if ((lead & 0xF8) == 0xF0) { cp = lead & 0x07; extra = 3; }
    else { ++i; out += static_cast<wchar_t>(0xFFFD); continue; }
    if (extra > text.size() - i - 1) { out += static_cast<wchar_t>(0xFFFD); break; }
    bool good = true;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) { good = false; break; }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!good || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += static_cast<wchar_t>(0xFFFD);
      ++i;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  }
  return out;
}

uint64_t filetime_value(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

uint64_t unix_to_filetime(__time64_t t) {
  return t < 0 ? 0 : kUnixEpochAsFiletime + static_cast<uint64_t>(t) * 10000000ULL;
}

class Win32File : public InputFile {
 public:
  Win32File(HANDLE handle, uint64_t size) : handle_(handle), size_(size) {}
  ~Win32File() override { CloseHandle(handle_); }
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

bool elevated_administrator() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD returned = 0;
  const bool read = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &returned) != 0;
  bool admin = false;
  if (read) {
    if (type == TokenElevationTypeDefault || type == TokenElevationTypeFull) {
      admin = IsUserAnAdmin() != FALSE;
    } else if (type == TokenElevationTypeLimited) {
      // The linked token may be an administrator's, but this process cannot
      // use its rights without elevation, so the answer stays no.
      TOKEN_LINKED_TOKEN linked = {};
      if (GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &returned)) {
        BYTE sid_buffer[SECURITY_MAX_SID_SIZE];
        DWORD sid_size = sizeof sid_buffer;
        BOOL member = FALSE;
        if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid_buffer, &sid_size))
          CheckTokenMembership(linked.LinkedToken, sid_buffer, &member);
        CloseHandle(linked.LinkedToken);
      }
    }
  }
  CloseHandle(token);
  return admin;
}

// GetVersionEx is deprecated but is the call that reports what the
// program's manifest lets it see; the kernel32 version resource corrects it.
#if defined(_MSC_VER)
#pragma warning(push)
#pragma warning(disable : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
bool os_version_w(OSVERSIONINFOEXW& info) {
  info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)) != 0;
}
bool os_version_a(OSVERSIONINFOEXA& info) {
  info = {};
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)) != 0;
}
#if defined(_MSC_VER)
#pragma warning(pop)
#elif defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

bool kernel32_file_version(DWORD& major, DWORD& minor, DWORD& build) {
  const wchar_t* module = L"kernel32";
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(module, &ignored);
  if (size == 0) return false;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(module, 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
      fixed == nullptr || fixed_size < sizeof(VS_FIXEDFILEINFO))
    return false;
  major = HIWORD(fixed->dwFileVersionMS);
  minor = LOWORD(fixed->dwFileVersionMS);
  build = HIWORD(fixed->dwFileVersionLS);
  return true;
}

std::string product_name(DWORD major, DWORD minor, DWORD build, bool workstation) {
  if (major == 10 && minor == 0) {
    if (workstation) return build >= 22000 ? "Windows 11" : "Windows 10";
    return build >= 20348 ? "Windows Server 2022" : build >= 17763 ? "Windows Server 2019" : "Windows Server 2016";
  }
  if (major == 6) {
    switch (minor) {
      case 0: return workstation ? "Windows Vista" : "Windows Server 2008";
      case 1: return workstation ? "Windows 7" : "Windows Server 2008 R2";
      case 2: return workstation ? "Windows 8" : "Windows Server 2012";
      case 3: return workstation ? "Windows 8.1" : "Windows Server 2012 R2";
      default: break;
    }
  }
  if (major == 5) {
    if (minor == 0) return "Windows 2000";
    if (minor == 1) return "Windows XP";
    if (minor == 2) return workstation ? "Windows XP x64" : "Windows Server 2003";
  }
  return "Windows (unknown product)";
}

}  // namespace

std::string wide_to_utf8(const wchar_t* text) {
  std::string out;
  if (text == nullptr) return out;
  for (size_t i = 0; text[i] != 0; ++i) {
    uint32_t unit = static_cast<uint16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      const uint32_t next = static_cast<uint16_t>(text[i + 1]);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
      unit = 0xFFFD;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      unit = 0xFFFD;
    }
    append_utf8(out, unit);
  }
  return out;
}

std::unique_ptr<InputFile> open_input(const std::string& path) {
  if (path.empty()) return nullptr;
  HANDLE handle = CreateFileW(to_wide(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info = {};
  uint64_t size = 0;
  LARGE_INTEGER file_size = {};
  if (GetFileSizeEx(handle, &file_size)) {
    size = static_cast<uint64_t>(file_size.QuadPart);
  } else {
    size = device_length(handle);
  }
  if (GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(handle);
    return nullptr;
  }
  return std::make_unique<Win32File>(handle, size);
}

namespace {

bool query_geometry(HANDLE handle, DeviceGeometry& geometry) {
  DISK_GEOMETRY_EX extended = {};
  DWORD returned = 0;
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &extended,
                      sizeof extended, &returned, nullptr)) {
    const DISK_GEOMETRY& g = extended.Geometry;
    geometry.cylinders = static_cast<uint64_t>(g.Cylinders.QuadPart);
    geometry.media_type = static_cast<uint32_t>(g.MediaType);
    geometry.tracks_per_cylinder = g.TracksPerCylinder;
    geometry.sectors_per_track = g.SectorsPerTrack;
    geometry.bytes_per_sector = g.BytesPerSector;
    geometry.disk_size = static_cast<uint64_t>(extended.DiskSize.QuadPart);
    geometry.geometry_known = true;
    return true;
  }
  DISK_GEOMETRY g = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &returned,
                      nullptr)) {
    geometry.cylinders = static_cast<uint64_t>(g.Cylinders.QuadPart);
    geometry.media_type = static_cast<uint32_t>(g.MediaType);
    geometry.tracks_per_cylinder = g.TracksPerCylinder;
    geometry.sectors_per_track = g.SectorsPerTrack;
    geometry.bytes_per_sector = g.BytesPerSector;
    geometry.disk_size = geometry.cylinders * g.TracksPerCylinder * g.SectorsPerTrack * g.BytesPerSector;
    geometry.geometry_known = true;
    return true;
  }
  return false;
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

}  // namespace

std::unique_ptr<InputFile> open_device(const std::string& path, DeviceAccess access,
                                       bool with_partition, DeviceGeometry& geometry) {
  geometry = DeviceGeometry{};
  if (path.empty()) return nullptr;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (access == DeviceAccess::sequential) flags = FILE_FLAG_SEQUENTIAL_SCAN;
  if (access == DeviceAccess::random) flags = FILE_FLAG_RANDOM_ACCESS;
  HANDLE handle = CreateFileW(to_wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  query_geometry(handle, geometry);
  if (with_partition) query_partition(handle, geometry);
  uint64_t size = geometry.partition_known ? geometry.partition_length : geometry.disk_size;
  if (size == 0) size = device_length(handle);
  return std::make_unique<Win32File>(handle, size);
}

bool file_status(const std::string& path, FileStatus& out) {
  if (path.empty()) return false;
  const std::wstring wide = to_wide(path);
  struct _stat64 st;
  const bool have_status = _wstat64(wide.c_str(), &st) == 0;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    out.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    out.created = filetime_value(data.ftCreationTime);
    out.modified = filetime_value(data.ftLastWriteTime);
    out.accessed = filetime_value(data.ftLastAccessTime);
    return true;
  }
  if (!have_status) return false;
  out.size = static_cast<uint64_t>(st.st_size);
  out.created = unix_to_filetime(st.st_ctime);
  out.modified = unix_to_filetime(st.st_mtime);
  out.accessed = unix_to_filetime(st.st_atime);
  return true;
}

bool is_administrator() {
  OSVERSIONINFOEXW version;
  if (os_version_w(version) && version.dwMajorVersion >= 6) return elevated_administrator();
  return IsUserAnAdmin() != FALSE;
}

bool signal_named_event(const std::string& name) {
  if (name.empty()) return false;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  if (event == nullptr) return false;
  const bool ok = SetEvent(event) != 0;
  CloseHandle(event);
  return ok;
}

bool get_environment(const std::string& name, std::string& value) {
  const std::wstring wide_name = to_wide(name);
  std::vector<wchar_t> buffer(256);
  // The value may change size between calls; a few tries settle it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    SetLastError(ERROR_SUCCESS);
    const DWORD needed = GetEnvironmentVariableW(wide_name.c_str(), buffer.data(),
                                                 static_cast<DWORD>(buffer.size()));
    if (needed == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value.clear();
      return true;
    }
    if (needed < buffer.size()) {
      value = wide_to_utf8(buffer.data());
      return true;
    }
    buffer.assign(static_cast<size_t>(needed) + 1, 0);
  }
  return false;
}

bool make_directory(const std::string& path) {
  if (CreateDirectoryW(to_wide(path).c_str(), nullptr)) return true;
  return is_directory(path);
}

bool is_directory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string host_description() {
  OSVERSIONINFOEXA version;
  if (!os_version_a(version)) return "Windows unk";
  DWORD major = version.dwMajorVersion, minor = version.dwMinorVersion, build = version.dwBuildNumber;
  // Without a manifest Windows 8 and later report 6.2 whatever they are.
  if (major == 6 && minor >= 2) kernel32_file_version(major, minor, build);

  std::string text = "Windows " + std::to_string(major) + "." + std::to_string(minor) + "." +
                     std::to_string(build) + " ";
  switch (version.wProductType) {
    case VER_NT_WORKSTATION: text += "workstation"; break;
    case VER_NT_DOMAIN_CONTROLLER: text += "domain-controller"; break;
    case VER_NT_SERVER: text += "server"; break;
    default: text += "unk"; break;
  }
  if (version.wServicePackMajor != 0 || version.wServicePackMinor != 0)
    text += ".sp." + std::to_string(version.wServicePackMajor) + "." +
            std::to_string(version.wServicePackMinor);
  SYSTEM_INFO system = {};
  GetNativeSystemInfo(&system);
  const WORD arch = system.wProcessorArchitecture;
  const bool wide_cpu = arch == PROCESSOR_ARCHITECTURE_AMD64 || arch == PROCESSOR_ARCHITECTURE_IA64
#ifdef PROCESSOR_ARCHITECTURE_ARM64
                        || arch == PROCESSOR_ARCHITECTURE_ARM64
#endif
      ;
  text += wide_cpu ? " 64 " : " 32 ";
  text += product_name(major, minor, build, version.wProductType == VER_NT_WORKSTATION);
  if (GetSystemMetrics(SM_REMOTESESSION)) text += " [remote]";
  return text;
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

void disable_file_system_redirection() {
  using Wow64Call = BOOL(WINAPI*)(PVOID*);
  using Wow64Enable = BOOLEAN(WINAPI*)(BOOLEAN);
  static bool looked_up = false;
  static Wow64Call disable_redirection = nullptr;
  static Wow64Call revert_redirection = nullptr;
  static Wow64Enable enable_redirection = nullptr;
  if (!looked_up) {
    looked_up = true;
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (kernel32 != nullptr) {
      disable_redirection = reinterpret_cast<Wow64Call>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "Wow64DisableWow64FsRedirection")));
      revert_redirection = reinterpret_cast<Wow64Call>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "Wow64RevertWow64FsRedirection")));
      enable_redirection = reinterpret_cast<Wow64Enable>(
          reinterpret_cast<void*>(GetProcAddress(kernel32, "Wow64EnableWow64FsRedirection")));
    }
  }
  (void)enable_redirection;
  if (disable_redirection == nullptr || revert_redirection == nullptr) return;
  // Redirection stays off for the whole run; the old value is never needed.
  PVOID unused_old_value = nullptr;
  disable_redirection(&unused_old_value);
}

}  // namespace lnk::platform
#endif
