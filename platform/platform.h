// Every operating-system call rook makes goes through here. POSIX and Win32
// each implement this header; decoders never include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

namespace lnk::platform {

// A file or device opened read-only, read at 64-bit offsets.
class InputFile {
 public:
  virtual ~InputFile() = default;
  // Reads up to n bytes at offset; returns the count read (0 at the end),
  // or -1 on error.
  virtual int64_t read_at(uint64_t offset, void* buffer, size_t n) = 0;
  virtual uint64_t size() const = 0;
};

// Null when the path cannot be opened (errno says why) or names neither a
// file nor a block device (errno 0).
std::unique_ptr<InputFile> open_input(const std::string& path);

// What a storage device reports about itself. Fields a device does not
// report keep their zero values and the matching known flag stays clear.
struct DeviceGeometry {
  bool geometry_known = false;
  uint64_t cylinders = 0;
  uint32_t media_type = 0;
  uint32_t tracks_per_cylinder = 0;
  uint32_t sectors_per_track = 0;
  uint32_t bytes_per_sector = 0;
  uint64_t disk_size = 0;
  bool partition_known = false;
  uint64_t partition_offset = 0;
  uint64_t partition_length = 0;
  int32_t partition_number = -1;
  // Why a device that is a partition could not say where it starts on its
  // disk, for the user; empty when it could or when it is no partition.
  std::string partition_note;
  bool device_number_known = false;
  uint32_t device_number = 0;
};

// How the OS should expect a device to be read.
enum class DeviceAccess { sequential, random, normal };

// Opens a volume, drive or device path read-only and asks it for its
// geometry (and, with query_partition, its partition placement and device
// number). Reads of the result must be whole sectors at aligned offsets.
std::unique_ptr<InputFile> open_device(const std::string& path, DeviceAccess access,
                                       bool query_partition, DeviceGeometry& geometry);

// Size and the three times (FILETIME, UTC) of a file. A file system that
// keeps no creation time leaves created at 0 and created_known clear.
struct FileStatus {
  uint64_t size = 0;
  uint64_t created = 0;
  uint64_t modified = 0;
  uint64_t accessed = 0;
  bool created_known = false;
};
bool file_status(const std::string& path, FileStatus& out);

// The path object for a UTF-8 path, for the standard streams: on Windows it
// holds the wide form, so files with any name open.
std::filesystem::path native_path(const std::string& path);

// POSIX: effective user id 0. Windows: elevated administrator token.
bool is_administrator();
// POSIX: a named semaphore posted once. Windows: a manual-reset event set once.
bool signal_named_event(const std::string& name);
bool get_environment(const std::string& name, std::string& value);
// Creates one directory level; true when it exists afterwards.
bool make_directory(const std::string& path);
bool is_directory(const std::string& path);
// "Windows 10.0.19045 workstation 64 ..." on Windows; system name, release,
// "64"/"32" and machine from uname on POSIX.
std::string host_description();
// Seconds and milliseconds since 1970-01-01 UTC.
void clock_now(uint64_t& seconds, uint32_t& milliseconds);
// Monotonic seconds for -profile.
double monotonic_seconds();
// The C library's local-time conversion of a second count succeeds.
bool local_time_converts(uint64_t unix_seconds);
// Native path separator for files rook writes.
char path_separator();

// isatty on POSIX; on Windows a console (a pipe or file is not one, nor is
// a terminal emulator that talks through a pipe).
bool stderr_is_terminal();
// A standard stream the program was started without (`>&-`) is given a
// stand-in that refuses writes, so that a file the run opens cannot take
// its number and receive the results.
void guard_standard_streams();
// Keeps freed memory for reuse rather than handing it back to the system
// and faulting it in again: a scan frees and allocates block buffers all
// the time, and in a virtual machine each new page costs microseconds.
void keep_freed_memory();
// The system's text for an errno value ("No space left on device").
std::string error_text(int error);
// Why an input could not be read: the system's text, or for errno 0 that it
// is neither a file nor a block device.
std::string open_failure_text(int error);

// ANSI text in Windows code page codepage, as UTF-8. Each byte or sequence
// the code page does not map becomes U+FFFD; bytes below 0x80 are ASCII in
// every code page offered. codepage_supported says whether the system can
// convert from that code page at all; when it cannot, every byte above 0x7F
// becomes U+FFFD.
std::string ansi_to_utf8(std::span<const uint8_t> bytes, uint32_t codepage);
bool codepage_supported(uint32_t codepage);
// The code page ANSI texts are read in when the user names none: the
// system's ANSI code page on Windows; 1252 on POSIX, where every byte gives
// a character, so that every line written is UTF-8.
uint32_t default_ansi_code_page();

// Windows: turns WOW64 file-system redirection off for the rest of the run
// when the system offers it. POSIX: nothing to do.
void disable_file_system_redirection();

// Which file a path names, to tell whether two paths are the same file:
// device and inode on POSIX, volume serial and file index on Windows.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};
// False when the path names nothing that can be examined.
bool file_identity(const std::string& path, FileIdentity& out);

// Every file and device the run opens for reading is noted by its identity
// (open_input and open_device do it), so that nothing the run writes can
// take the place of one. Files a library opens itself (E01 segments) are
// noted by name.
void note_read(const FileIdentity& identity, const std::string& path);
void note_read_path(const std::string& path);
// True, with the name it was first read under, when path names a file the
// run has read.
bool was_read(const std::string& path, std::string& read_as);

// What a path about to be written names: nothing yet, a file (resolved
// holds the path of the file itself, symbolic links followed), a character
// device or pipe written in place, or something never written (a folder, a
// block device).
enum class WriteTarget { absent, file, stream, refused };
WriteTarget write_target(const std::string& path, std::string& resolved);
// Creates a new, empty file in the folder of target and names it in temp.
bool create_file_beside(const std::string& target, std::string& temp);
// Moves from over to (POSIX rename, Windows MoveFileExW replacing).
bool replace_file(const std::string& from, const std::string& to);
// Moves from to to only when no file is there.
bool move_to_new_file(const std::string& from, const std::string& to);
bool remove_file(const std::string& path);

#ifndef _WIN32
// Fills the partition fields of geometry for the block device at path from
// sysfs_block (/sys/class/block): NAME/start counts 512-byte sectors, a
// device without NAME/partition is a whole disk starting at 0, and
// anything else leaves partition_note saying so.
void read_partition_start(const std::string& path, DeviceGeometry& geometry,
                          const std::string& sysfs_block = "/sys/class/block");
#endif

#ifdef _WIN32
// The process receives its arguments as UTF-16.
std::string wide_to_utf8(const wchar_t* text);
std::wstring utf8_to_wide(const std::string& text);
// A console shows what rook writes as UTF-8 for the rest of the run; its
// own code page comes back when the program ends.
void prepare_console_output();
#endif

}  // namespace lnk::platform
