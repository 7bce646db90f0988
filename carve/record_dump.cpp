#include "carve/record_dump.h"

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "platform/platform.h"

namespace lnk {

std::string record_dump_name(uint32_t count, uint64_t record_offset, uint32_t parsed_size) {
  char name[96];
  std::snprintf(name, sizeof name, "carvelnk_%04u_0x%09llx_0x%04x.bin", count,
                static_cast<unsigned long long>(record_offset), parsed_size);
  return name;
}

namespace {

// A new file at path filled by write; inactive, with error set, when it
// could not be written whole.
platform::PendingFile write_dump(const std::string& path, const std::function<bool(std::ofstream&)>& write,
                                 int& error) {
  // A file of that name already there is left alone (the commit does not
  // replace): the folder may hold evidence or an earlier run's dumps.
  platform::PendingFile dump;
  errno = 0;
  if (!dump.begin(path)) {
    error = errno != 0 ? errno : EIO;
    return dump;
  }
  // errno is taken right after the call that failed: it tells why.
  std::ofstream out(platform::native_path(dump.write_path()), std::ios::binary | std::ios::trunc);
  bool written = false;
  if (out) {
    errno = 0;
    written = write(out);
    out.flush();
  }
  if (out) {
    errno = 0;
    out.close();
  }
  if (out.fail() || !written) {
    error = errno != 0 ? errno : EIO;
    dump.discard();
  }
  return dump;
}

}  // namespace

platform::PendingFile dump_record(const std::string& dir, uint32_t& count, uint64_t record_offset,
                                  std::span<const uint8_t> record_bytes, std::string& path, int& error) {
  ++count;
  path = dir + platform::path_separator() +
         record_dump_name(count, record_offset, static_cast<uint32_t>(record_bytes.size()));
  return write_dump(path, [&](std::ofstream& out) {
    out.write(reinterpret_cast<const char*>(record_bytes.data()), static_cast<std::streamsize>(record_bytes.size()));
    return true;
  }, error);
}

platform::PendingFile dump_appended(const std::string& record_path, const ByteFeed& appended, std::string& path,
                                   int& error) {
  path = record_path.substr(0, record_path.size() - 4) + "_appended.bin";
  return write_dump(path, [&](std::ofstream& out) {
    return appended([&](std::span<const uint8_t> piece) {
      out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
      return static_cast<bool>(out);
    });
  }, error);
}

}  // namespace lnk
