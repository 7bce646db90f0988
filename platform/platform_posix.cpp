#ifndef _WIN32
#include <fcntl.h>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/fs.h>
#endif
#include <semaphore.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/platform.h"

namespace lnk::platform {

namespace {

constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ULL;

uint64_t to_filetime(int64_t seconds, int64_t nanoseconds) {
  if (seconds < 0 || nanoseconds < 0) return 0;
  return kUnixEpochAsFiletime + static_cast<uint64_t>(seconds) * 10000000ULL +
         static_cast<uint64_t>(nanoseconds) / 100;
}

class PosixFile : public InputFile {
 public:
  PosixFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixFile() override { ::close(fd_); }
  int64_t read_at(uint64_t offset, void* buffer, size_t n) override {
    if (offset > static_cast<uint64_t>(LLONG_MAX)) return -1;
    size_t done = 0;
    while (done < n) {
      ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, n - done,
                            static_cast<off_t>(offset + done));
      if (got < 0) {
        if (errno == EINTR) continue;
        return done ? static_cast<int64_t>(done) : -1;
      }
      if (got == 0) break;
      done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
  }
  uint64_t size() const override { return size_; }

 private:
  int fd_;
  uint64_t size_;
};

// A decimal number alone in a sysfs file.
bool read_sys_number(const std::string& file, uint64_t& value) {
  std::ifstream in(file);
  unsigned long long number = 0;
  if (!(in >> number)) return false;
  value = number;
  return true;
}

// Reading evidence leaves its access time as it was: O_NOATIME, which
// only the file's owner (or root) may ask for; anyone else reads without it.
int open_read_only(const std::string& path, int flags) {
#ifdef O_NOATIME
  const int fd = ::open(path.c_str(), flags | O_NOATIME);
  if (fd >= 0 || errno != EPERM) return fd;
#endif
  return ::open(path.c_str(), flags);
}

void note_opened(const struct stat& st, const std::string& path) {
  note_read(FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}, path);
}

}  // namespace

// sysfs counts in 512-byte sectors whatever the device's sector size.
void read_partition_start(const std::string& path, DeviceGeometry& geometry, const std::string& sysfs_block) {
  char* real = ::realpath(path.c_str(), nullptr);
  std::string name = real != nullptr ? real : path;
  std::free(real);
  name = name.substr(name.rfind('/') + 1);
  const std::string dir = sysfs_block + "/" + name;
  struct stat st;
  uint64_t start = 0, number = 0;
  const bool listed = ::stat(dir.c_str(), &st) == 0;
  const bool partition = listed && ::stat((dir + "/partition").c_str(), &st) == 0;
  const bool mapped = listed && ::stat((dir + "/dm").c_str(), &st) == 0;
  if (partition && read_sys_number(dir + "/start", start) && start <= UINT64_MAX / 512) {
    geometry.partition_known = true;
    geometry.partition_offset = start * 512;
    if (read_sys_number(dir + "/partition", number) && number <= INT32_MAX)
      geometry.partition_number = static_cast<int32_t>(number);
  } else if (listed && !partition && !mapped) {
    geometry.partition_known = true;
  } else {
    geometry.partition_note = "the start of " + path + " on its disk cannot be read from " + dir +
                              "/start; offsets are counted from the start of " + path;
  }
  if (geometry.partition_known) geometry.partition_length = geometry.disk_size;
}

std::unique_ptr<InputFile> open_input(const std::string& path) {
  if (path.empty()) return nullptr;
  // Non-blocking so that a named pipe without a writer cannot hang a run;
  // only files and block devices hold bytes worth reading, and their reads
  // ignore the flag, so it stays set.
  int fd = open_read_only(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    const int error = errno;
    ::close(fd);
    errno = S_ISREG(st.st_mode) || S_ISBLK(st.st_mode) ? error : 0;
    return nullptr;
  }
  note_opened(st, path);
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (S_ISBLK(st.st_mode)) {
    off_t end = ::lseek(fd, 0, SEEK_END);
    size = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  return std::make_unique<PosixFile>(fd, size);
}

std::unique_ptr<InputFile> open_device(const std::string& path, DeviceAccess access,
                                       bool query_partition, DeviceGeometry& geometry) {
  geometry = DeviceGeometry{};
  if (path.empty()) return nullptr;
  int fd = open_read_only(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  note_opened(st, path);
  if (access == DeviceAccess::sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  if (access == DeviceAccess::random) ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  uint64_t size = static_cast<uint64_t>(st.st_size);
  uint32_t sector = 512;
  if (S_ISBLK(st.st_mode)) {
    off_t end = ::lseek(fd, 0, SEEK_END);
    size = end > 0 ? static_cast<uint64_t>(end) : 0;
#ifdef BLKSSZGET
    int logical = 0;
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0) sector = static_cast<uint32_t>(logical);
#endif
  }
  geometry.geometry_known = true;
  geometry.bytes_per_sector = sector;
  geometry.disk_size = size;
  if (query_partition && S_ISBLK(st.st_mode)) read_partition_start(path, geometry);
  return std::make_unique<PosixFile>(fd, size);
}

bool file_status(const std::string& path, FileStatus& out) {
  if (path.empty()) return false;
  out = FileStatus{};
#ifdef STATX_BTIME
  // Only statx reports a birth time, and only where the file system keeps
  // one (ext4, btrfs, xfs); the change time, which chmod moves, is no
  // creation time, so without a birth time the creation time stays unknown.
  struct statx sx;
  if (::statx(AT_FDCWD, path.c_str(), AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    out.size = sx.stx_size;
    out.modified = to_filetime(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec);
    out.accessed = to_filetime(sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec);
    if ((sx.stx_mask & STATX_BTIME) != 0) out.created = to_filetime(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec);
    out.created_known = out.created != 0;
    return true;
  }
  // A kernel or sandbox without statx still answers stat.
  if (errno != ENOSYS && errno != EPERM) return false;
#endif
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  out.size = static_cast<uint64_t>(st.st_size);
  out.modified = to_filetime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  out.accessed = to_filetime(st.st_atim.tv_sec, st.st_atim.tv_nsec);
  return true;
}

std::filesystem::path native_path(const std::string& path) { return std::filesystem::path(path); }

bool is_administrator() { return ::geteuid() == 0; }

bool signal_named_event(const std::string& name) {
  if (name.empty()) return false;
  std::string sem_name = name[0] == '/' ? name : "/" + name;
  sem_t* sem = ::sem_open(sem_name.c_str(), O_CREAT, 0644, 0);
  if (sem == SEM_FAILED) return false;
  bool ok = ::sem_post(sem) == 0;
  ::sem_close(sem);
  return ok;
}

bool get_environment(const std::string& name, std::string& value) {
  const char* v = std::getenv(name.c_str());
  if (v == nullptr) return false;
  value = v;
  return true;
}

bool make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return is_directory(path);
}

bool is_directory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string host_description() {
  struct utsname u;
  if (::uname(&u) != 0) return "unk";
  std::string text = u.sysname;
  text += " ";
  text += u.release;
  text += sizeof(void*) == 8 ? " 64 " : " 32 ";
  text += u.machine;
  return text;
}

void clock_now(uint64_t& seconds, uint32_t& milliseconds) {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  seconds = ts.tv_sec > 0 ? static_cast<uint64_t>(ts.tv_sec) : 0;
  milliseconds = static_cast<uint32_t>(ts.tv_nsec / 1000000);
}

double monotonic_seconds() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool local_time_converts(uint64_t unix_seconds) {
  // Windows' _localtime64 accepts 0 .. 32535244799 (year 3000); keep that
  // range so both builds judge a time the same way.
  if (unix_seconds >= 32535244800ULL) return false;
  time_t t = static_cast<time_t>(unix_seconds);
  struct tm out;
  return ::localtime_r(&t, &out) != nullptr;
}

char path_separator() { return '/'; }

}  // namespace lnk::platform
#endif
