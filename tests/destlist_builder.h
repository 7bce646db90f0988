// Writes DestList streams entry by entry, in the layout of a given version.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/lnk_builder.h"

namespace lnk::test {

struct DestListFields {
  uint32_t number = 1;
  uint64_t time = 0;
  std::string host = "pc";
  std::string path = "C:\\a.txt";
  int32_t pin = -1;
  uint32_t access_count = 1;
  std::string file_droid;  // GUID text, empty for zeros
};

inline DestListFields destlist_entry(uint32_t number, const std::string& path, uint64_t time = 0,
                                     const std::string& host = "pc") {
  DestListFields e;
  e.number = number;
  e.path = path;
  e.time = time;
  e.host = host;
  return e;
}

// count_override replaces the header's entry count when not negative.
inline Bytes destlist_stream(uint32_t version, const std::vector<DestListFields>& entries,
                             int64_t count_override = -1) {
  Bytes out;
  put_u32(out, version);
  put_u32(out, static_cast<uint32_t>(count_override >= 0 ? count_override : static_cast<int64_t>(entries.size())));
  put_u32(out, 0);           // pinned
  put_u32(out, 0x3F800000);  // a float
  put_u32(out, entries.empty() ? 0 : entries.back().number);
  put_u32(out, 0);
  put_u32(out, 7);  // revision
  put_u32(out, 0);
  for (const DestListFields& e : entries) {
    Bytes entry(8, 0xC5);  // checksum-like
    Guid droid{};
    if (!e.file_droid.empty()) parse_guid(e.file_droid, droid);
    entry.resize(24, 0x11);                          // volume
    entry.insert(entry.end(), droid.begin(), droid.end());
    entry.resize(56, 0x22);                          // birth volume
    entry.insert(entry.end(), droid.begin(), droid.end());
    Bytes host(e.host.begin(), e.host.end());
    host.resize(16, 0);
    entry.insert(entry.end(), host.begin(), host.end());
    put_u32(entry, e.number);
    put_u32(entry, 0);
    put_u32(entry, 0x3F800000);
    put_u64(entry, e.time);
    put_u32(entry, static_cast<uint32_t>(e.pin));
    const Bytes path = utf16le(e.path);
    if (version >= 2) {
      put_u32(entry, 0xFFFFFFFF);
      put_u32(entry, e.access_count);
      put_u64(entry, 0);
    }
    put_u16(entry, static_cast<uint16_t>(path.size() / 2));
    entry.insert(entry.end(), path.begin(), path.end());
    if (version >= 2) put_u32(entry, 0);
    out.insert(out.end(), entry.begin(), entry.end());
  }
  return out;
}

}  // namespace lnk::test
