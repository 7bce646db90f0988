#ifdef _WIN32
#include "platform/win32.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace lnk::platform {

namespace {

bool elevated_administrator() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD returned = 0;
  const bool read = GetTokenInformation(token, TokenElevationType, &type, sizeof type, &returned) != 0;
  bool admin = false;
  if (read && (type == TokenElevationTypeDefault || type == TokenElevationTypeFull)) {
    admin = IsUserAnAdmin() != FALSE;
  } else if (read && type == TokenElevationTypeLimited) {
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
  CloseHandle(token);
  return admin;
}

// GetVersionEx is deprecated but is the call that reports what the
// program's manifest lets it see; the kernel32 version resource corrects it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
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
#pragma GCC diagnostic pop

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
    return build >= 26100   ? "Windows Server 2025"
           : build >= 20348 ? "Windows Server 2022"
           : build >= 17763 ? "Windows Server 2019"
                            : "Windows Server 2016";
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

std::string product_type_word(BYTE type) {
  switch (type) {
    case VER_NT_WORKSTATION: return "workstation";
    case VER_NT_DOMAIN_CONTROLLER: return "domain-controller";
    case VER_NT_SERVER: return "server";
    default: return "unk";
  }
}

UINT console_codepage_at_start = 0;

void restore_console_codepage() {
  if (console_codepage_at_start != 0) SetConsoleOutputCP(console_codepage_at_start);
}

BOOL WINAPI restore_on_break(DWORD) {
  restore_console_codepage();
  return FALSE;  // the default handler still ends the process
}

bool is_console(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

bool is_administrator() {
  OSVERSIONINFOEXW version;
  if (os_version_w(version) && version.dwMajorVersion >= 6) return elevated_administrator();
  return IsUserAnAdmin() != FALSE;
}

bool signal_named_event(const std::string& name) {
  if (name.empty()) return false;
  // The wide call, so that a name typed with non-ASCII characters names the
  // same event the waiting program created.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, utf8_to_wide(name).c_str());
  if (event == nullptr) return false;
  const bool ok = SetEvent(event) != 0;
  CloseHandle(event);
  return ok;
}

bool get_environment(const std::string& name, std::string& value) {
  const std::wstring wide_name = utf8_to_wide(name);
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

std::string host_description() {
  OSVERSIONINFOEXA version;
  if (!os_version_a(version)) return "Windows unk";
  DWORD major = version.dwMajorVersion, minor = version.dwMinorVersion, build = version.dwBuildNumber;
  // Without a manifest Windows 8 and later report 6.2 whatever they are.
  if (major == 6 && minor >= 2) kernel32_file_version(major, minor, build);

  std::string text = "Windows " + std::to_string(major) + "." + std::to_string(minor) + "." +
                     std::to_string(build) + " " + product_type_word(version.wProductType);
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

bool stderr_is_terminal() { return is_console(STD_ERROR_HANDLE); }

// A process started without a standard handle writes to none: the C
// run-time's writes fail, and no file the run opens takes the handle's place.
void guard_standard_streams() {}
// The process heap reuses freed blocks already.
void keep_freed_memory() {}

std::string error_text(int error) { return std::strerror(error); }

std::string open_failure_text(int error) {
  return error != 0 ? error_text(error) : "neither a file nor a block device";
}

void prepare_console_output() {
  if (!is_console(STD_OUTPUT_HANDLE) && !is_console(STD_ERROR_HANDLE)) return;
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8 || !SetConsoleOutputCP(CP_UTF8)) return;
  // The code page belongs to the console, shared with the shell that
  // started rook, so it goes back however the run ends.
  console_codepage_at_start = current;
  std::atexit(restore_console_codepage);
  SetConsoleCtrlHandler(restore_on_break, TRUE);
}

}  // namespace lnk::platform
#endif
