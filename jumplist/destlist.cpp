#include "jumplist/destlist.h"

#include <algorithm>

#include "platform/text.h"

namespace lnk {
namespace {

constexpr uint64_t kHeaderSize = 32;
constexpr uint64_t kVersionField = 0;
constexpr uint64_t kEntryCountField = 4;
constexpr uint64_t kPinnedCountField = 8;
constexpr uint64_t kLastEntryNumberField = 16;
constexpr uint64_t kRevisionField = 24;

// Entry fields shared by every version.
constexpr uint64_t kDroidVolumeField = 8;
constexpr uint64_t kDroidFileField = 24;
constexpr uint64_t kBirthDroidVolumeField = 40;
constexpr uint64_t kBirthDroidFileField = 56;
constexpr uint64_t kNetbiosField = 72;
constexpr uint64_t kNetbiosBytes = 16;
constexpr uint64_t kEntryNumberField = 88;
constexpr uint64_t kLastAccessField = 100;
constexpr uint64_t kPinStatusField = 108;

// Version 1 (Windows 7 and 8): the path follows the pin status.
constexpr uint64_t kV1PathSizeField = 112;
constexpr uint64_t kV1PathField = 114;
// Version 2 and later (Windows 10 and 11) add an access count and 4 bytes
// after the path.
constexpr uint64_t kAccessCountField = 116;
constexpr uint64_t kV2PathSizeField = 128;
constexpr uint64_t kV2PathField = 130;
constexpr uint64_t kV2TrailerSize = 4;

constexpr uint32_t kFirstLongLayoutVersion = 2;
constexpr uint32_t kLastKnownVersion = 6;

struct Layout {
  uint64_t path_size_field;
  uint64_t path_field;
  uint64_t trailer;
  bool access_count;
};

// Fills entry from the bytes at its start; false when its fixed part does
// not fit. A path cut by the end of the stream keeps what is there.
bool decode_entry(const ByteReader& rest, const Layout& layout, DestListEntry& entry, uint64_t& size) {
  if (!rest.has(0, layout.path_field)) return false;
  entry.droid_volume_id = rest.guid(kDroidVolumeField);
  entry.droid_file_id = rest.guid(kDroidFileField);
  entry.birth_droid_volume_id = rest.guid(kBirthDroidVolumeField);
  entry.birth_droid_file_id = rest.guid(kBirthDroidFileField);
  entry.netbios_name = rest.ansiz(kNetbiosField, kNetbiosBytes);
  entry.entry_number = rest.u32(kEntryNumberField);
  entry.last_access_time = rest.u64(kLastAccessField);
  entry.pin_status = rest.i32(kPinStatusField);
  entry.has_access_count = layout.access_count;
  entry.access_count = layout.access_count ? rest.u32(kAccessCountField) : 0;

  const uint64_t path_bytes = uint64_t{rest.u16(layout.path_size_field)} * 2;
  const uint64_t available = rest.size() - layout.path_field;
  entry.path_cut = path_bytes > available;
  const uint64_t kept = std::min(path_bytes, available & ~uint64_t{1});
  entry.path = utf16le_to_utf8(rest.span().subspan(layout.path_field, kept));
  // Paths hold no NUL; one means the bytes past a cut path were read.
  entry.path = entry.path.substr(0, entry.path.find('\0'));
  size = layout.path_field + path_bytes + layout.trailer;
  return true;
}

}  // namespace

bool decode_destlist(const ByteReader& stream, DestList& out) {
  out = DestList{};
  if (!stream.has(0, kHeaderSize)) return false;
  out.version = stream.u32(kVersionField);
  out.entry_count = stream.u32(kEntryCountField);
  out.pinned_count = stream.u32(kPinnedCountField);
  out.last_entry_number = stream.u32(kLastEntryNumberField);
  out.revision = stream.u32(kRevisionField);
  out.known_version = out.version >= 1 && out.version <= kLastKnownVersion;
  if (!out.known_version) return true;

  const Layout layout = out.version < kFirstLongLayoutVersion
                            ? Layout{kV1PathSizeField, kV1PathField, 0, false}
                            : Layout{kV2PathSizeField, kV2PathField, kV2TrailerSize, true};
  // Every entry takes at least its fixed part, so the bytes bound the count.
  const uint64_t most = (stream.size() - kHeaderSize) / layout.path_field;
  const uint64_t wanted = std::min<uint64_t>(out.entry_count, most);
  out.entries.reserve(wanted);
  uint64_t offset = kHeaderSize;
  for (uint64_t i = 0; i < wanted && offset < stream.size(); ++i) {
    DestListEntry entry;
    uint64_t size = 0;
    if (!decode_entry(stream.tail(offset), layout, entry, size)) break;
    entry.stream_offset = offset;
    const bool cut = entry.path_cut;
    out.entries.push_back(std::move(entry));
    if (cut || !checked_add(offset, size, offset)) break;
  }
  out.complete = out.entries.size() == out.entry_count && (out.entries.empty() || !out.entries.back().path_cut);
  return true;
}

}  // namespace lnk
