#include "storage/vmdk_sparse.h"

#include <algorithm>
#include <bit>
#include <array>
#include <memory>

#include "platform/byte_reader.h"
#include "storage/read_ahead.h"
#include "storage/vmdk_descriptor.h"

#ifdef ROOK_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef ROOK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace lnk {
namespace {

constexpr std::array<uint8_t, 4> kSparseMagic = {'K', 'D', 'M', 'V'};
constexpr std::array<uint8_t, 4> kCowdMagic = {'C', 'O', 'W', 'D'};
constexpr uint64_t kHeaderBytes = 512;
constexpr uint64_t kVersionOffset = 4;
constexpr uint64_t kFlagsOffset = 8;
constexpr uint64_t kCapacityOffset = 12;
constexpr uint64_t kGrainSizeOffset = 20;
constexpr uint64_t kDescriptorOffsetOffset = 28;
constexpr uint64_t kDescriptorSizeOffset = 36;
constexpr uint64_t kGtesPerGtOffset = 44;
constexpr uint64_t kRedundantGdOffset = 48;
constexpr uint64_t kGdOffset = 56;
constexpr uint64_t kOverheadOffset = 64;
constexpr uint64_t kNewlineTestOffset = 73;
constexpr std::array<uint8_t, 4> kNewlineTest = {'\n', ' ', '\r', '\n'};
constexpr uint64_t kCompressionOffset = 77;

// The footer of a stream-optimized disk: a header copy in front of the
// end-of-stream marker.
constexpr uint64_t kFooterFromEnd = 1024;
constexpr uint64_t kMarkerLbaOffset = 0;
constexpr uint64_t kMarkerSizeOffset = 8;
constexpr uint64_t kMarkerHeaderBytes = 12;

constexpr uint32_t kHighestVersion = 3;
// 1 MiB grains; VMware writes 64 KiB.
constexpr uint64_t kMaxGrainSectors = 2048;
// VMware writes 512 entries per table.
constexpr uint32_t kMaxGtesPerGt = 4096;
constexpr uint64_t kTableBudgetSlack = 1u << 20;
constexpr uint32_t kZeroedGrainEntry = 1;
constexpr uint64_t kFirstInflateStep = 4096;
constexpr uint64_t kRunEndSteps = 1u << 20;

VmdkOpenStatus fail(VmdkOpenError error, std::string detail = {}) { return {error, std::move(detail), {}}; }

// The header checks that do not depend on the file around it.
VmdkOpenStatus check_header(const VmdkSparseHeader& h) {
  if (h.version == 0 || h.version > kHighestVersion)
    return fail(VmdkOpenError::bad_header, "version " + std::to_string(h.version));
  if ((h.flags & kVmdkFlagNewlineTest) && !h.newlines_intact)
    return fail(VmdkOpenError::bad_header, "line ends changed by a text-mode copy");
  if (!std::has_single_bit(h.grain_size) || h.grain_size > kMaxGrainSectors)
    return fail(VmdkOpenError::bad_header, "grain size " + std::to_string(h.grain_size));
  if (h.gtes_per_gt == 0 || h.gtes_per_gt > kMaxGtesPerGt)
    return fail(VmdkOpenError::bad_header, "grain table entries " + std::to_string(h.gtes_per_gt));
  if (h.capacity > UINT64_MAX / kVmdkSectorSize)
    return fail(VmdkOpenError::bad_header, "capacity " + std::to_string(h.capacity));
  if (h.flags & kVmdkFlagCompressed) {
    if (h.compression != kVmdkCompressionDeflate)
      return fail(VmdkOpenError::unsupported_layout, "compression " + std::to_string(h.compression));
    if (!vmdk_compression_available()) return fail(VmdkOpenError::needs_zlib);
  }
  return {};
}

}  // namespace

bool has_vmdk_sparse_magic(std::span<const uint8_t> head) {
  return ByteReader(head).matches(0, kSparseMagic);
}

bool has_vmdk_cowd_magic(std::span<const uint8_t> head) { return ByteReader(head).matches(0, kCowdMagic); }

bool decode_vmdk_sparse_header(std::span<const uint8_t> bytes, VmdkSparseHeader& out) {
  const ByteReader r(bytes);
  if (!r.matches(0, kSparseMagic) || !r.has(0, kCompressionOffset + 2)) return false;
  out.version = r.u32(kVersionOffset);
  out.flags = r.u32(kFlagsOffset);
  out.capacity = r.u64(kCapacityOffset);
  out.grain_size = r.u64(kGrainSizeOffset);
  out.descriptor_offset = r.u64(kDescriptorOffsetOffset);
  out.descriptor_size = r.u64(kDescriptorSizeOffset);
  out.gtes_per_gt = r.u32(kGtesPerGtOffset);
  out.redundant_gd_offset = r.u64(kRedundantGdOffset);
  out.gd_offset = r.u64(kGdOffset);
  out.overhead = r.u64(kOverheadOffset);
  out.newlines_intact = r.matches(kNewlineTestOffset, kNewlineTest);
  out.compression = r.u16(kCompressionOffset);
  return !r.failed();
}

VmdkOpenStatus VmdkSparseExtent::open(ByteSource& file) {
  file_size_ = file.size();
  std::array<uint8_t, kHeaderBytes> head{};
  if (!read_exact(file, 0, head)) return fail(VmdkOpenError::unreadable);
  if (!decode_vmdk_sparse_header(head, header_)) return fail(VmdkOpenError::not_vmdk);
  if (header_.gd_offset == kVmdkDirectoryAtEnd) {
    // The footer repeats the header with the directory's real place.
    const VmdkSparseHeader first = header_;
    if (file_size_ < kFooterFromEnd + kHeaderBytes || !read_exact(file, file_size_ - kFooterFromEnd, head) ||
        !decode_vmdk_sparse_header(head, header_) || header_.gd_offset == kVmdkDirectoryAtEnd)
      return fail(VmdkOpenError::incomplete_stream);
    header_.descriptor_offset = first.descriptor_offset;
    header_.descriptor_size = first.descriptor_size;
  }
  if (VmdkOpenStatus status = check_header(header_); !status.ok()) return status;
  const uint64_t directory_sector = header_.gd_offset != 0 ? header_.gd_offset : header_.redundant_gd_offset;
  const uint64_t table_span = header_.grain_size * header_.gtes_per_gt;
  const uint64_t tables = header_.capacity / table_span + (header_.capacity % table_span != 0 ? 1 : 0);
  uint64_t directory_at = 0;
  if (directory_sector == 0 || !checked_mul(directory_sector, kVmdkSectorSize, directory_at) ||
      !fits(directory_at, tables * 4, file_size_))
    return fail(VmdkOpenError::bad_header, "grain directory");
  std::vector<uint8_t> raw(tables * 4);
  if (!read_exact(file, directory_at, raw)) return fail(VmdkOpenError::unreadable);
  const ByteReader entries(raw);
  directory_.resize(tables);
  for (uint64_t i = 0; i < tables; ++i) directory_[i] = entries.u32(i * 4);
  table_state_.assign(tables, TableState::unread);
  tables_.assign(tables, {});
  repeats_.assign(tables, {});
  table_bytes_budget_ = file_size_ + kTableBudgetSlack;
  return {};
}

bool VmdkSparseExtent::claim_sectors(uint64_t start, uint64_t end) { return claimed_.claim(start, end); }

void VmdkSparseExtent::read_table(ByteSource& file, uint64_t table) {
  const uint64_t bytes = uint64_t{header_.gtes_per_gt} * 4;
  const uint64_t at = uint64_t{directory_[table]} * kVmdkSectorSize;
  if (directory_[table] == 0) {
    table_state_[table] = TableState::absent;
    return;
  }
  std::vector<uint8_t> raw(bytes);
  if (!fits(at, bytes, file_size_) || bytes > table_bytes_budget_ || !read_exact(file, at, raw)) {
    table_state_[table] = TableState::unreadable;
    return;
  }
  table_bytes_budget_ -= bytes;
  const ByteReader entries(raw);
  std::vector<uint32_t>& entry = tables_[table];
  entry.resize(header_.gtes_per_gt);
  const bool compressed = header_.flags & kVmdkFlagCompressed;
  const uint64_t file_sectors = (file_size_ + kVmdkSectorSize - 1) / kVmdkSectorSize;
  for (uint32_t i = 0; i < header_.gtes_per_gt; ++i) {
    entry[i] = entries.u32(uint64_t{i} * 4);
    const bool zeroed = entry[i] == kZeroedGrainEntry && (header_.flags & kVmdkFlagZeroedGrains);
    if (entry[i] == 0 || zeroed || entry[i] >= file_sectors) continue;
    // A compressed grain is known by its marker's sector alone.
    const uint64_t end = compressed ? entry[i] + uint64_t{1} : std::min(file_sectors, entry[i] + header_.grain_size);
    if (claim_sectors(entry[i], end)) continue;
    if (repeats_[table].empty()) repeats_[table].resize(header_.gtes_per_gt);
    repeats_[table][i] = true;
  }
  table_state_[table] = TableState::loaded;
}

bool VmdkSparseExtent::load_table(ByteSource& file, uint64_t table) {
  // Tables are read in order, so which of two entries naming the same
  // bytes counts as the repeat does not depend on the order of reads.
  while (tables_read_ <= table) read_table(file, tables_read_++);
  return table_state_[table] == TableState::loaded;
}

void VmdkSparseExtent::classify(uint64_t table, uint64_t index, GrainLocation& where) const {
  const uint32_t entry = tables_[table][index];
  if (entry == 0) return;
  where.repeat = !repeats_[table].empty() && repeats_[table][index];
  if (entry == kZeroedGrainEntry && (header_.flags & kVmdkFlagZeroedGrains)) {
    where.state = GrainState::zero;
    return;
  }
  const uint64_t grain_at = uint64_t{entry} * kVmdkSectorSize;
  if (grain_at >= file_size_) {
    where.state = GrainState::unreadable;
    return;
  }
  where.state = header_.flags & kVmdkFlagCompressed ? GrainState::compressed : GrainState::data;
  where.file_offset = grain_at;
}

GrainLocation VmdkSparseExtent::locate(ByteSource& file, uint64_t offset) {
  GrainLocation where;
  if (offset >= capacity_bytes()) return where;
  where.grain = offset / grain_bytes();
  const uint64_t table = where.grain / header_.gtes_per_gt;
  if (table >= directory_.size()) return where;
  if (!load_table(file, table)) {
    if (table_state_[table] == TableState::unreadable) where.state = GrainState::unreadable;
    return where;
  }
  classify(table, where.grain % header_.gtes_per_gt, where);
  if (where.state == GrainState::data) where.file_offset += offset % grain_bytes();
  return where;
}

uint64_t VmdkSparseExtent::run_end(ByteSource& file, uint64_t offset) {
  const uint64_t capacity = capacity_bytes();
  if (offset >= capacity) return capacity;
  const uint64_t grain = grain_bytes();
  const uint64_t grains = capacity / grain + (capacity % grain != 0 ? 1 : 0);
  const uint64_t per_table = header_.gtes_per_gt;
  const GrainLocation first = locate(file, offset);
  auto like_first = [&first](const GrainLocation& other) {
    return other.state == first.state && other.repeat == first.repeat;
  };
  uint64_t next = offset / grain + 1;
  // Each pass moves on by a grain, or by a table without entries of its own
  // (never written, or unreadable: all of one kind). The work of one call
  // is bounded; a scan asks again where it stopped.
  for (uint64_t steps = 0; next < grains && steps < kRunEndSteps; ++steps) {
    const uint64_t table = next / per_table;
    GrainLocation here;
    if (!load_table(file, table)) {
      if (table_state_[table] == TableState::unreadable) here.state = GrainState::unreadable;
      if (!like_first(here)) break;
      next = (table + 1) * per_table;
      continue;
    }
    classify(table, next % per_table, here);
    if (!like_first(here)) break;
    ++next;
  }
  return next >= grains ? capacity : next * grain;
}

bool VmdkSparseExtent::read(ByteSource& file, const GrainLocation& where, uint64_t offset, std::span<uint8_t> buffer,
                            VmdkFiles& files) {
  switch (where.state) {
    case GrainState::absent:
    case GrainState::zero:
      std::fill(buffer.begin(), buffer.end(), uint8_t{0});
      return true;
    case GrainState::unreadable:
      return false;
    case GrainState::compressed:
      return read_compressed(file, where, offset, buffer, files);
    case GrainState::data:
      break;
  }
  uint64_t got = 0;
  if (!read_available(file, where.file_offset, buffer, got)) return false;
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got), buffer.end(), uint8_t{0});
  return true;
}

namespace {

// One compressed grain, as much as a reader on another thread needs.
struct CompressedGrain {
  uint64_t marker_offset = 0;
  uint64_t grain = 0;
  uint64_t grain_sectors = 0;
  uint64_t file_size = 0;
};

// Reads the grain's marker and deflate stream and inflates it into output:
// whole, the stream must end within output; the rest of output is zeros.
bool inflate_grain(ByteSource& file, const CompressedGrain& g, std::vector<uint8_t>& packed_bytes,
                   std::span<uint8_t> output, bool whole) {
  std::array<uint8_t, kMarkerHeaderBytes> marker{};
  if (!read_exact(file, g.marker_offset, marker)) return false;
  const ByteReader fields(marker);
  const uint64_t lba = fields.u64(kMarkerLbaOffset);
  const uint32_t size = fields.u32(kMarkerSizeOffset);
  // Deflate never grows a grain by more than a few bytes per 16 KiB.
  const uint64_t largest = 2 * g.grain_sectors * kVmdkSectorSize + 4096;
  uint64_t grain_sector = 0;
  if (!checked_mul(g.grain, g.grain_sectors, grain_sector) || lba != grain_sector || size == 0 || size > largest ||
      !fits(g.marker_offset + kMarkerHeaderBytes, size, g.file_size))
    return false;
  if (packed_bytes.size() < size) packed_bytes.resize(size);
  const auto packed = std::span<uint8_t>(packed_bytes).first(size);
  if (!read_exact(file, g.marker_offset + kMarkerHeaderBytes, packed)) return false;
  uint64_t produced = 0;
  if (!vmdk_inflate(packed, output, produced, whole)) return false;
  std::fill(output.begin() + static_cast<std::ptrdiff_t>(produced), output.end(), uint8_t{0});
  return true;
}

}  // namespace

bool VmdkSparseExtent::queue_grain(const std::shared_ptr<ByteSource>& file, const GrainLocation& where,
                                   ReadAhead& ahead) {
  const CompressedGrain job{where.file_offset, where.grain, header_.grain_size, file_size_};
  const uint64_t bytes = grain_bytes();
  const bool queued = ahead.queue({this, where.grain}, bytes, [file, job, bytes](unsigned, std::vector<uint8_t>& out) {
    thread_local std::vector<uint8_t> packed;
    out.resize(bytes);
    return inflate_grain(*file, job, packed, out, true);
  });
  return queued || ahead.knows({this, where.grain});
}

void VmdkSparseExtent::read_ahead(ByteSource& file, uint64_t grain, VmdkFiles& files, ReadAhead& ahead) {
  // More of the grain read last: queued as it was.
  if (grain + 1 == next_grain_) return;
  const bool onward = grain == next_grain_;
  next_grain_ = grain + 1;
  if (!onward) {
    queued_until_ = grain;
    return;
  }
  const std::shared_ptr<ByteSource> shared = files.shared(&file);
  if (!shared) return;
  const uint64_t grains = (capacity_bytes() + grain_bytes() - 1) / grain_bytes();
  const uint64_t window = std::max<uint64_t>(kReadAheadWindow / grain_bytes(), 2);
  const uint64_t last = std::min(grains, grain + window);
  for (uint64_t g = std::max(grain, queued_until_); g < last; ++g) {
    const GrainLocation where = locate(file, g * grain_bytes());
    queued_until_ = g + 1;
    if (where.state != GrainState::compressed) continue;
    if (!queue_grain(shared, where, ahead)) {
      // No room: the rest waits for the next grain read.
      queued_until_ = g;
      break;
    }
  }
}

bool VmdkSparseExtent::will_read(ByteSource& file, const GrainLocation& where, VmdkFiles& files) {
  if (where.state != GrainState::compressed) return true;
  ReadAhead* ahead = files.read_ahead();
  const std::shared_ptr<ByteSource> shared = files.shared(&file);
  return ahead != nullptr && shared && queue_grain(shared, where, *ahead);
}

bool VmdkSparseExtent::read_compressed(ByteSource& file, const GrainLocation& where, uint64_t offset,
                                       std::span<uint8_t> buffer, VmdkFiles& files) {
  const uint64_t in_grain = offset % grain_bytes();
  const uint64_t wanted = in_grain + buffer.size();
  const bool whole_grain = in_grain == 0 && buffer.size() == grain_bytes();
  const std::vector<uint8_t>* cached = files.cached_grain(this, where.grain);
  if (cached && cached->size() >= wanted) {
    const auto piece = std::span<const uint8_t>(*cached).subspan(in_grain, buffer.size());
    std::copy(piece.begin(), piece.end(), buffer.begin());
    return true;
  }
  if (ReadAhead* ahead = files.read_ahead()) {
    read_ahead(file, where.grain, files, *ahead);
    // A block a worker could not inflate is inflated again below, so it
    // fails (or not) exactly as it does without workers.
    if (const ReadAhead::Bytes grain = ahead->take({this, where.grain})) {
      const auto piece = std::span<const uint8_t>(*grain).subspan(in_grain, buffer.size());
      std::copy(piece.begin(), piece.end(), buffer.begin());
      return true;
    }
  }
  const CompressedGrain g{where.file_offset, where.grain, header_.grain_size, file_size_};
  // A scan reads whole grains once each: straight into the caller's buffer.
  if (whole_grain) return inflate_grain(file, g, packed_, buffer, true);
  // A small read inflates only as far as it needs, where the inflater can
  // stop early; a second read past that point inflates the whole grain, so
  // no grain is inflated more than twice.
  const uint64_t first_step = (wanted + kFirstInflateStep - 1) / kFirstInflateStep * kFirstInflateStep;
  const uint64_t inflate_to =
      cached || !vmdk_partial_inflate_available() ? grain_bytes() : std::min(grain_bytes(), first_step);
  std::vector<uint8_t> grain(inflate_to, 0);
  if (!inflate_grain(file, g, packed_, grain, inflate_to == grain_bytes())) return false;
  const auto piece = std::span<const uint8_t>(grain).subspan(in_grain, buffer.size());
  std::copy(piece.begin(), piece.end(), buffer.begin());
  files.keep_grain(this, where.grain, std::move(grain));
  return true;
}

bool read_embedded_descriptor(ByteSource& file, const VmdkSparseHeader& header, std::vector<uint8_t>& text) {
  text.clear();
  uint64_t at = 0;
  uint64_t bytes = 0;
  if (header.descriptor_offset == 0 || header.descriptor_size == 0) return false;
  if (!checked_mul(header.descriptor_offset, kVmdkSectorSize, at) ||
      !checked_mul(header.descriptor_size, kVmdkSectorSize, bytes))
    return false;
  text.resize(std::min<uint64_t>(bytes, kVmdkDescriptorMaxBytes));
  uint64_t got = 0;
  if (!read_available(file, at, text, got) || got == 0) return false;
  text.resize(got);
  return true;
}

namespace {

// The zlib header (method, window, no preset dictionary) of a grain's
// stream. The deflate data behind it is inflated raw: the trailing Adler-32
// costs a third of the time of a scan and guards only against damage that a
// raw image would not reveal either.
bool zlib_header_ok(std::span<const uint8_t> input) {
  const ByteReader header(input);
  const uint8_t method = header.u8(0), flags = header.u8(1);
  constexpr uint8_t kDeflateMethod = 8;
  constexpr uint8_t kLargestWindowBits = 7;
  constexpr uint8_t kPresetDictionary = 0x20;
  return !header.failed() && (method & 0x0F) == kDeflateMethod && (method >> 4) <= kLargestWindowBits &&
         (method * 256 + flags) % 31 == 0 && (flags & kPresetDictionary) == 0;
}

#ifdef ROOK_HAVE_LIBDEFLATE
// One decompressor per thread: the workers that read ahead inflate too.
bool inflate_whole_with_libdeflate(std::span<const uint8_t> deflated, std::span<uint8_t> output, uint64_t& produced) {
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, Free> decompressor(libdeflate_alloc_decompressor());
  if (!decompressor) return false;
  size_t written = 0;
  const libdeflate_result result = libdeflate_deflate_decompress(decompressor.get(), deflated.data(), deflated.size(),
                                                                 output.data(), output.size(), &written);
  produced = written;
  return result == LIBDEFLATE_SUCCESS;
}
#endif

#ifdef ROOK_HAVE_ZLIB
bool inflate_with_zlib(std::span<const uint8_t> deflated, std::span<uint8_t> output, uint64_t& produced, bool whole) {
  if (deflated.size() > UINT32_MAX || output.size() > UINT32_MAX) return false;
  z_stream stream{};
  if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
  stream.next_in = const_cast<Bytef*>(deflated.data());
  stream.avail_in = static_cast<uInt>(deflated.size());
  stream.next_out = output.data();
  stream.avail_out = static_cast<uInt>(output.size());
  const int result = inflate(&stream, whole ? Z_FINISH : Z_NO_FLUSH);
  produced = stream.total_out;
  const bool filled = stream.avail_out == 0;
  inflateEnd(&stream);
  return result == Z_STREAM_END || (!whole && result == Z_OK && filled);
}
#endif

}  // namespace

bool vmdk_inflate(std::span<const uint8_t> input, std::span<uint8_t> output, uint64_t& produced, bool whole) {
  produced = 0;
  if (!zlib_header_ok(input)) return false;
  const std::span<const uint8_t> deflated = input.subspan(2);
#if defined(ROOK_HAVE_LIBDEFLATE)
  if (whole || !vmdk_partial_inflate_available()) return inflate_whole_with_libdeflate(deflated, output, produced);
#endif
#if defined(ROOK_HAVE_ZLIB)
  return inflate_with_zlib(deflated, output, produced, whole);
#else
  (void)deflated;
  (void)output;
  (void)whole;
  return false;
#endif
}

bool inflate_raw_deflate(std::span<const uint8_t> input, std::span<uint8_t> output) {
#if defined(ROOK_HAVE_LIBDEFLATE)
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, Free> decompressor(libdeflate_alloc_decompressor());
  if (!decompressor) return false;
  size_t used = 0, written = 0;
  const libdeflate_result result = libdeflate_deflate_decompress_ex(decompressor.get(), input.data(), input.size(),
                                                                    output.data(), output.size(), &used, &written);
  return result == LIBDEFLATE_SUCCESS && written == output.size();
#elif defined(ROOK_HAVE_ZLIB)
  uint64_t produced = 0;
  // A stream that goes on past a full output is what qemu accepts too.
  return inflate_with_zlib(input, output, produced, false) && produced == output.size();
#else
  (void)input;
  (void)output;
  return false;
#endif
}

bool vmdk_partial_inflate_available() {
  // With libdeflate every grain is inflated whole, so a grain reads the same
  // whichever reader or thread inflates it.
#if defined(ROOK_HAVE_ZLIB) && !defined(ROOK_HAVE_LIBDEFLATE)
  return true;
#else
  return false;
#endif
}

}  // namespace lnk
