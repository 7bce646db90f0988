// The DestList stream of an automatic-destinations jump list: which
// shortcut streams the list holds, most recently used first, with the time,
// host, pin state and path Windows kept for each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_reader.h"

namespace lnk {

struct DestListEntry {
  uint64_t stream_offset = 0;  // where the entry starts in the stream
  Guid droid_volume_id{};
  Guid droid_file_id{};
  Guid birth_droid_volume_id{};
  Guid birth_droid_file_id{};
  std::string netbios_name;
  // The shortcut stream this entry describes is named by this number in hex.
  uint32_t entry_number = 0;
  uint64_t last_access_time = 0;  // FILETIME
  int32_t pin_status = -1;        // -1 unpinned, otherwise the pin position
  bool has_access_count = false;  // version 1 entries carry none
  uint32_t access_count = 0;
  std::string path;
  bool path_cut = false;  // the path ran past the end of the stream
};

struct DestList {
  uint32_t version = 0;
  uint32_t entry_count = 0;
  uint32_t pinned_count = 0;
  uint32_t last_entry_number = 0;
  uint32_t revision = 0;
  bool known_version = false;
  // Every entry the header counts was decoded whole.
  bool complete = false;
  std::vector<DestListEntry> entries;  // in stream order
};

// Decodes the header and as many entries as the bytes hold. False only when
// the stream is too short for the header; an unknown version yields the
// header alone.
bool decode_destlist(const ByteReader& stream, DestList& out);

}  // namespace lnk
