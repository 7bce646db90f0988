#include "carve/process_file.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "carve/source_type.h"
#include "carve/status_line.h"
#include "jumplist/jumplist.h"
#include "lnk/lnk_record.h"
#include "lnk/parse_lnk.h"
#include "platform/byte_reader.h"
#include "platform/platform.h"
#include "report/record_writer.h"

namespace lnk {
namespace {

constexpr uint64_t kHeaderBytes = 76;
constexpr uint64_t kChunkSize = 32768;
constexpr uint64_t kMinJumpListChunk = 512;
// A jump list is read whole, so only ones of a sane size are.
constexpr uint64_t kJumpListLimit = 0x8000000;
constexpr int kStatusWidth = 45;
constexpr uint64_t kStatusEverySize = 16385;

constexpr std::array<uint8_t, 8> kCompoundSignature = {0xD0, 0xCF, 0x11, 0xE0,
                                                       0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::array<uint8_t, 16> kZeroClsid{};
constexpr uint64_t kCompoundClsidField = 8;
constexpr uint64_t kSectorShiftField = 30;
constexpr uint64_t kFatSectorCountField = 44;

// Reads exactly n bytes at offset; a short read is a failure.
bool read_exact(platform::InputFile& file, uint64_t offset, uint8_t* buffer, uint64_t n) {
  uint64_t done = 0;
  while (done < n) {
    int64_t got = file.read_at(offset + done, buffer + done, n - done);
    if (got <= 0) return false;
    done += static_cast<uint64_t>(got);
  }
  return true;
}

// Reads up to n bytes at offset, leaving what lies past the end as it was.
bool read_available(platform::InputFile& file, uint64_t offset, uint8_t* buffer, uint64_t n) {
  uint64_t done = 0;
  while (done < n) {
    int64_t got = file.read_at(offset + done, buffer + done, n - done);
    if (got < 0) return false;
    if (got == 0) break;
    done += static_cast<uint64_t>(got);
  }
  return true;
}

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

// Hands a compound file at offset to the jump-list reader; true when it took it.
bool try_jump_list(std::ostream& out, platform::InputFile& file, uint64_t offset,
                   const ByteReader& chunk, useropts& options, uint64_t& estimate) {
  if (!compound_size_estimate(chunk, estimate) || estimate > kJumpListLimit) return false;
  std::vector<uint8_t> whole;
  try {
    whole.assign(estimate, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!read_available(file, offset, whole.data(), estimate)) return false;
  return carve_jump_list(out, whole.data(), estimate, options, options.progress);
}

}  // namespace

bool process_shortcut_file(std::ostream& out, const std::string& path, useropts& options) {
  std::unique_ptr<platform::InputFile> file = platform::open_input(path);
  if (!file) return false;
  const uint64_t size = file->size();

  LnkRecord record;
  std::vector<uint8_t> buffer(std::min(size, kChunkSize), 0);
  // A file too small for a header is opened but never searched.
  const uint64_t last = size > kHeaderBytes ? size - kHeaderBytes : 0;
  const uint32_t step = options.scan_step == 0 ? 1 : options.scan_step;
  uint64_t offset = 0;
  uint64_t loops = 0;
  int shown_percent = -1;
  bool found = false;

  // Each pass moves offset forward by at least one step or ends the loop.
  for (; offset < last; ++loops) {
    if (options.progress) {
      int percent = static_cast<int>(offset * 100 / size);
      if (percent != shown_percent || (loops % 5 == 0 && size >= kStatusEverySize)) {
        status_line(kStatusWidth, "percent done: %d", percent);
        shown_percent = percent;
      }
    }
    uint64_t chunk_length = std::min(kChunkSize, size - offset);
    if (!read_exact(*file, offset, buffer.data(), chunk_length)) break;
    ByteReader chunk(buffer.data(), chunk_length);

    uint64_t pos = 0;
    if (!find_lnk_signature(pos, buffer.data(), chunk_length, step)) {
      // A plain file is only searched in its first chunk.
      if (!options.rawscan && !options.deepscan) break;
      offset += chunk_length;
      continue;
    }

    // A jump list: shortcut streams inside a compound file starting here.
    uint64_t estimate = 0;
    if (pos != 0 && chunk_length >= kMinJumpListChunk && starts_compound_file(chunk) &&
        try_jump_list(out, *file, offset, chunk, options, estimate)) {
      offset = round_up(offset + estimate, step);
      continue;
    }

    record = LnkRecord{};
    uint64_t hit = offset + pos;
    chunk_length = std::min(chunk_length, size - hit);
    if (chunk_length == 0) break;
    if (!read_exact(*file, hit, buffer.data(), chunk_length)) break;
    record.artifact = "LNK";
    record.source_type = shortcut_source_type(hit, options);
    record.lnk_offset = hit;
    uint64_t advance = step;
    if (parse_lnk_record(record, buffer.data(), static_cast<uint32_t>(chunk_length), options, hit)) {
      write_record(out, record, options);
      found = true;
      advance = std::max<uint64_t>(record.parsed_size, 1);
    }
    offset = round_up(hit + advance, step);
  }

  if (options.progress) status_line(kStatusWidth, " ");
  return found;
}

}  // namespace lnk
