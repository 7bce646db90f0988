#include "carve/process_file.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "carve/source_type.h"
#include "carve/status_line.h"
#include "core/sha256.h"
#include "jumplist/appid_names.h"
#include "lnk/appended_data.h"
#include "jumplist/jumplist_records.h"
#include "lnk/lnk_record.h"
#include "lnk/parse_lnk.h"
#include "lnk/signature_search.h"
#include "platform/byte_reader.h"
#include "platform/text.h"
#include "storage/file_source.h"

namespace lnk {
namespace {

constexpr uint64_t kHeaderBytes = 76;
constexpr uint64_t kChunkSize = 32768;
constexpr uint64_t kMinJumpListChunk = 512;
// A jump list is read whole, so only ones of a sane size are.
constexpr uint64_t kJumpListLimit = 0x8000000;
constexpr uint64_t kCustomHeaderBytes = 12;
constexpr uint32_t kCustomFormatVersion = 2;
constexpr int kStatusWidth = 45;
constexpr uint64_t kStatusEverySize = 16385;
constexpr uint64_t kAppendedPiece = 1 << 20;
constexpr uint64_t kAppendedKindBytes = 512;

constexpr std::array<uint8_t, 8> kCompoundSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                       0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<uint8_t, 16> kZeroClsid{};
constexpr uint64_t kCompoundClsidField = 8;
constexpr uint64_t kSectorShiftField = 30;
constexpr uint64_t kFatSectorCountField = 44;

uint64_t round_up(uint64_t value, uint64_t step) {
  uint64_t rest = value % step;
  return rest == 0 ? value : value + (step - rest);
}

bool starts_compound_file(const ByteReader& chunk) {
  return chunk.matches(0, kCompoundSignature) && chunk.matches(kCompoundClsidField, kZeroClsid);
}

// The bytes the FAT sectors can address: an upper bound of the file's size.
bool compound_size_estimate(const ByteReader& chunk, uint64_t& estimate) {
  uint32_t shift = chunk.u16(kSectorShiftField);
  if (shift >= 32) return false;
  uint64_t sector = uint64_t{1} << shift;
  uint64_t entries = 0;
  return checked_mul(chunk.u32(kFatSectorCountField), sector / 4, entries) &&
         checked_add(entries, 1, entries) && checked_mul(entries, sector, estimate);
}

// One file as its records see it.
struct FileScan {
  ByteSource& file;
  const FileProvenance& provenance;
  // How a file found on a volume names itself in source types; empty for a
  // file named by the user.
  std::string name;
  RecordOutlet& outlet;

  uint64_t place(uint64_t offset) const { return provenance.place ? provenance.place(offset) : offset; }
};

std::string found_file_name(const FileProvenance& provenance) {
  if (provenance.source.volume_path.empty()) return {};
  std::string name = provenance.source.volume_path;
  if (provenance.source.deleted) name += " (deleted)";
  if (provenance.source.shadow_copy != 0)
    name = "[shadow copy " + std::to_string(provenance.source.shadow_copy) + "] " + name;
  return name;
}

// A jump list starting at offset in the file.
JumpListPlacement list_placement(const FileScan& scan, uint64_t offset) {
  JumpListPlacement placement;
  placement.label = scan.name;
  if (scan.provenance.place) {
    const auto& place = scan.provenance.place;
    placement.place = [&place, offset](uint64_t in_list) { return place(offset + in_list); };
  }
  if (scan.outlet.progress()) {
    placement.progress = [](uint64_t index, uint64_t total) {
      status_line(kStatusWidth, "percent done: %d", static_cast<int>(index * 100 / total));
    };
  }
  return placement;
}

// A custom-destinations list, recognised by its header at the file's start,
// is read whole: its records sit wherever its categories put them.
bool try_custom_destinations(const FileScan& scan, const ByteReader& first_chunk, bool& found) {
  const uint64_t size = scan.file.size();
  if (size < kCustomHeaderBytes || size > kJumpListLimit || first_chunk.u32(0) != kCustomFormatVersion)
    return false;
  std::vector<uint8_t> whole(size);
  if (!read_exact(scan.file, 0, whole) || classify_jump_list(whole) != JumpListFormat::custom) return false;
  found = carve_custom_destinations(whole, list_placement(scan, 0), scan.outlet.sink_for(scan.provenance.source));
  return true;
}

// Hands a compound file at offset to the jump-list reader; true when it took it.
bool try_jump_list(const FileScan& scan, uint64_t offset, const ByteReader& chunk, uint64_t& estimate) {
  if (!compound_size_estimate(chunk, estimate) || estimate > kJumpListLimit) return false;
  std::vector<uint8_t> whole;
  try {
    whole.assign(estimate, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Bytes past the end of the file stay zero, as the size estimate may
  // run past it.
  uint64_t count = 0;
  if (!read_available(scan.file, offset, whole, count)) return false;
  return carve_jump_list_records(whole, list_placement(scan, offset), scan.outlet.sink_for(scan.provenance.source));
}

// An automatic or custom jump list at the file's start, as the jump-list
// readers take it.
bool starts_with_jump_list(const std::string& path) {
  std::unique_ptr<FileSource> file = FileSource::open(path);
  if (!file) return false;
  const uint64_t size = file->size();
  std::array<uint8_t, kMinJumpListChunk> head{};
  if (size < kCustomHeaderBytes || !read_exact(*file, 0, std::span<uint8_t>(head).first(std::min<uint64_t>(size, head.size()))))
    return false;
  const ByteReader chunk(head.data(), std::min<uint64_t>(size, head.size()));
  uint64_t estimate = size;
  if (size >= kMinJumpListChunk && starts_compound_file(chunk)) {
    if (!compound_size_estimate(chunk, estimate)) return false;
  } else if (chunk.u32(0) != kCustomFormatVersion) {
    return false;
  }
  if (estimate > kJumpListLimit) return false;
  std::vector<uint8_t> whole(std::min(estimate, size));
  return read_exact(*file, 0, whole) && classify_jump_list(whole) != JumpListFormat::none;
}

// The bytes of file from start to its end, a piece at a time.
ByteFeed file_feed(ByteSource& file, uint64_t start) {
  return [&file, start](const std::function<bool(std::span<const uint8_t>)>& put) {
    std::vector<uint8_t> piece;
    for (uint64_t at = start; at < file.size();) {
      piece.resize(std::min(kAppendedPiece, file.size() - at));
      if (!read_exact(file, at, piece) || !put(piece)) return false;
      at += piece.size();
    }
    return true;
  };
}

// A shortcut file holding more than its record: what follows the
// TerminalBlock is named, measured and hashed, never left unseen.
void describe_appended(ByteSource& file, uint64_t start, AppendedData& appended) {
  appended.offset = start;
  appended.size = file.size() - start;
  Sha256 hash;
  const bool whole = file_feed(file, start)([&](std::span<const uint8_t> piece) {
    if (appended.kind.empty()) appended.kind = appended_data_kind(piece.first(std::min(piece.size(), kAppendedKindBytes)));
    hash.update(piece);
    return true;
  });
  appended.sha256 = whole ? hash.hex_digest() : std::string();
  if (!whole) appended.kind = "unreadable";
}

bool named_as_shortcut(const std::string& path) {
  return path.size() >= 4 && to_lower_ascii(path.substr(path.size() - 4)) == ".lnk";
}

}  // namespace

bool any_file_holds_jump_list(const std::vector<std::string>& paths) {
  for (const std::string& path : paths)
    if (has_jump_list_extension(path)) return true;
  for (const std::string& path : paths)
    if (!named_as_shortcut(path) && starts_with_jump_list(path)) return true;
  return false;
}

bool may_hold_shortcut_or_jump_list(std::span<const uint8_t> head) {
  const ByteReader chunk(head.data(), head.size());
  uint64_t pos = 0;
  if (find_lnk_signature(pos, head.data(), head.size(), 4) && pos == 0) return true;
  return starts_compound_file(chunk) || (head.size() >= kCustomHeaderBytes && chunk.u32(0) == kCustomFormatVersion);
}

bool process_shortcut_file(const std::string& path, const SourceInfo& source, const useropts& options,
                           RecordOutlet& outlet) {
  std::unique_ptr<FileSource> file = FileSource::open(path);
  if (!file) return false;
  FileProvenance provenance;
  provenance.source = source;
  return process_file_bytes(*file, provenance, options, outlet);
}

bool process_file_bytes(ByteSource& file, const FileProvenance& provenance, const useropts& options,
                        RecordOutlet& outlet) {
  const FileScan scan{file, provenance, found_file_name(provenance), outlet};
  const uint64_t size = file.size();

  LnkRecord record;
  // One buffer for every file of a run: a -pipe list can name millions.
  static thread_local std::vector<uint8_t> buffer;
  buffer.resize(kChunkSize);
  // A file too small for a header is opened but never searched.
  const uint64_t last = size > kHeaderBytes ? size - kHeaderBytes : 0;
  const uint32_t step = options.scan_step == 0 ? 1 : options.scan_step;
  uint64_t offset = 0;
  uint64_t loops = 0;
  int shown_percent = -1;
  bool found = false;

  // Each pass moves offset forward by at least one step or ends the loop.
  for (; offset < last; ++loops) {
    uint64_t chunk_length = std::min(kChunkSize, size - offset);
    if (!read_exact(file, offset, std::span<uint8_t>(buffer).first(chunk_length))) break;
    ByteReader chunk(buffer.data(), chunk_length);
    if (offset == 0 && try_custom_destinations(scan, chunk, found)) break;
    if (outlet.progress()) {
      int percent = static_cast<int>(offset * 100 / size);
      if (percent != shown_percent || (loops % 5 == 0 && size >= kStatusEverySize)) {
        status_line(kStatusWidth, "percent done: %d", percent);
        shown_percent = percent;
      }
    }

    // A jump list: a compound file starting here, whose records need not
    // lie in its first chunk (a DestList entry has none at all).
    uint64_t estimate = 0;
    if (chunk_length >= kMinJumpListChunk && starts_compound_file(chunk) &&
        try_jump_list(scan, offset, chunk, estimate)) {
      offset = round_up(offset + estimate, step);
      continue;
    }

    uint64_t pos = 0;
    if (!find_lnk_signature(pos, buffer.data(), chunk_length, step)) {
      // A plain file is only searched in its first chunk.
      if (!options.rawscan && !options.deepscan) break;
      offset += chunk_length;
      continue;
    }

    record = LnkRecord{};
    uint64_t hit = offset + pos;
    chunk_length = std::min(chunk_length, size - hit);
    if (chunk_length == 0) break;
    const std::span<const uint8_t> candidate = std::span<const uint8_t>(buffer).first(chunk_length);
    // The chunk already holds the bytes from a hit at its start.
    if (pos != 0 && !read_exact(file, hit, std::span<uint8_t>(buffer).first(chunk_length))) break;
    const uint64_t placed = scan.place(hit);
    record.artifact = "LNK";
    record.source_type = shortcut_source_type(hit, scan.name);
    record.lnk_offset = placed;
    uint64_t advance = step;
    if (parse_lnk_record(record, candidate, placed)) {
      ParsedBytes parsed{candidate.first(record.parsed_size), placed, {}};
      // Only a shortcut that is the file itself can carry data after it;
      // a record carved from a disk is followed by whatever the disk holds.
      if (hit == 0 && !options.rawscan && record.terminal_block && record.parsed_size < size) {
        describe_appended(file, record.parsed_size, record.appended);
        parsed.appended = file_feed(file, record.parsed_size);
      }
      outlet.put(record, provenance.source, parsed);
      found = true;
      advance = std::max<uint64_t>(record.parsed_size, 1);
    }
    offset = round_up(hit + advance, step);
  }

  if (outlet.progress()) status_line(kStatusWidth, " ");
  return found;
}

}  // namespace lnk
