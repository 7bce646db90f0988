#include "storage/ewf_source.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <new>
#include <vector>

#include "storage/brief_lock.h"
#include "storage/file_source.h"

// Where rook has libbfio of its own (the one libewf links on Linux), libewf
// reads the segments through files rook opened, as every input is opened:
// read-only, noted, access time kept. The Windows build's libewf carries its
// own libbfio, so there libewf opens the segments by name.
#if defined(ROOK_HAVE_LIBEWF) && defined(ROOK_HAVE_LIBBFIO) && !defined(_WIN32)
#define ROOK_EWF_OWN_FILES 1
// libewf.h declares its pool calls only when told that libbfio is there.
#define HAVE_LIBBFIO 1
#include "storage/bfio_bridge.h"
#endif
#ifdef ROOK_HAVE_LIBEWF
#include <libewf.h>
#endif
#ifdef ROOK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#include "platform/byte_reader.h"
#include "platform/platform.h"

namespace lnk {
namespace {

constexpr std::array<uint8_t, 8> kEwfSignature = {'E', 'V', 'F', 0x09, 0x0D, 0x0A, 0xFF, 0x00};
constexpr std::array<uint8_t, 8> kEwf2Signature = {'E', 'V', 'F', '2', 0x0D, 0x0A, 0x81, 0x00};

bool starts_with(std::span<const uint8_t> head, const std::array<uint8_t, 8>& signature) {
  return head.size() >= signature.size() && std::equal(signature.begin(), signature.end(), head.begin());
}

#ifdef ROOK_HAVE_LIBEWF
std::string error_text(libewf_error_t* error) {
  std::string text;
  if (error != nullptr) {
    std::array<char, 512> buffer{};
    if (libewf_error_sprint(error, buffer.data(), buffer.size()) > 0) text = buffer.data();
    libewf_error_free(&error);
  }
  return text;
}
#endif

}  // namespace

#ifdef ROOK_HAVE_LIBEWF
// The set's one opened handle, which workers share, taking turns to read
// chunks as stored: an opened handle costs about 135 bytes per chunk of the
// set (2 GiB for 500 GB). Without libdeflate, each decode thread has a
// handle that is never opened, through which libewf decompresses and checks.
struct EwfSource::Handle {
  libewf_handle_t* ewf = nullptr;
  std::mutex reading;
  std::vector<libewf_handle_t*> decoders;
  std::vector<std::vector<uint8_t>> raw;  // per decode thread: a chunk as stored
  // Where libewf_handle_read_chunk writes. It copies a compressed chunk
  // whole, however long the table makes it (all of the rest of a section
  // for a crafted one), without looking at the buffer's size; a chunk is
  // read whole from one segment file, so the largest file bounds it.
  // Allocated, not touched: only the pages chunks fill are ever used.
  std::unique_ptr<uint8_t[]> landing;
  size_t landing_size = 0;

#ifdef ROOK_EWF_OWN_FILES
  libbfio_pool_t* pool = nullptr;
  std::vector<std::unique_ptr<FileSource>> segments;

  bool open_segments(char** names, int count) {
    if (libbfio_pool_initialize(&pool, 0, LIBBFIO_POOL_UNLIMITED_NUMBER_OF_OPEN_HANDLES, nullptr) != 1) return false;
    for (int i = 0; i < count; ++i) {
      std::unique_ptr<FileSource> segment = FileSource::open(names[i]);
      if (!segment) return false;
      libbfio_handle_t* io = make_bfio_handle(*segment);
      int entry = 0;
      if (io == nullptr) return false;
      if (libbfio_pool_append_handle(pool, &entry, io, LIBBFIO_OPEN_READ, nullptr) != 1) {
        libbfio_handle_free(&io, nullptr);
        return false;
      }
      segments.push_back(std::move(segment));
    }
    return true;
  }
#endif

  // Reads a chunk as stored into landing (with the reading lock held): a
  // plain chunk's data then its Adler-32, little-endian, however libewf
  // handed the checksum over. 0 when libewf refuses.
  size_t read_stored(uint64_t chunk, uint32_t chunk_size, bool& compressed) {
    if (!landing) return 0;
    int8_t is_compressed = 0, separate_checksum = 0;
    uint32_t checksum = 0;
    std::array<uint8_t, 4> checksum_bytes{};
    if (libewf_handle_seek_offset(ewf, static_cast<off64_t>(chunk * chunk_size), SEEK_SET, nullptr) < 0) return 0;
    // Room for the checksum libewf counts in but writes elsewhere.
    const ssize_t size = libewf_handle_read_chunk(ewf, landing.get(), landing_size - 4, &is_compressed,
                                                  checksum_bytes.data(), &checksum, &separate_checksum, nullptr);
    if (size <= 0 || static_cast<size_t>(size) > landing_size) return 0;
    compressed = is_compressed != 0;
    if (!compressed && separate_checksum != 0 && size >= 4)
      std::copy(checksum_bytes.begin(), checksum_bytes.end(), landing.get() + size - 4);
    return static_cast<size_t>(size);
  }

  ~Handle() {
    for (libewf_handle_t*& decoder : decoders) libewf_handle_free(&decoder, nullptr);
    if (ewf != nullptr) {
      libewf_handle_close(ewf, nullptr);
      libewf_handle_free(&ewf, nullptr);
    }
#ifdef ROOK_EWF_OWN_FILES
    // The pool's handles read the segments, which go after it.
    if (pool != nullptr) libbfio_pool_free(&pool, nullptr);
#endif
  }
};

namespace {

// Compressed chunks that do not shrink are stored plain, so a chunk as
// stored is at most the chunk and its checksum; the slack covers odd
// writers. A longer one is left to libewf.
constexpr uint64_t kRawChunkSlack = 4096;
constexpr uint32_t kLargestReadAheadChunk = 4u << 20;

// Set to anything but "0", libewf reads and decodes every chunk itself,
// whatever the threads: the path reports are compared against.
bool libewf_decodes_alone() {
  std::string value;
  return platform::get_environment("ROOK_EWF_LIBEWF_ONLY", value) && !value.empty() && value != "0";
}

// The largest segment file, which bounds what libewf copies of one chunk;
// 0 when one cannot be opened.
template <typename Name>
uint64_t largest_segment(Name* const* names, int count) {
  uint64_t largest = 0;
  for (int i = 0; i < count; ++i) {
#ifdef _WIN32
    std::unique_ptr<FileSource> segment = FileSource::open(platform::wide_to_utf8(names[i]));
#else
    std::unique_ptr<FileSource> segment = FileSource::open(names[i]);
#endif
    if (!segment) return 0;
    largest = std::max(largest, segment->size());
  }
  return largest;
}

// The chunks the segment files hold: libewf knows only those its tables
// list, however many sectors the volume section claims. They come first.
template <typename Readable>
uint64_t stored_chunks(uint64_t chunks, Readable readable) {
  if (chunks == 0 || readable(chunks - 1)) return chunks;
  if (!readable(0)) return 0;
  uint64_t found = 1, missing = chunks - 1;  // chunk found - 1 is readable, chunk missing is not
  while (missing - found > 0) {
    const uint64_t middle = found + (missing - found) / 2;
    if (readable(middle)) found = middle + 1;
    else missing = middle;
  }
  return found;
}

#ifdef ROOK_HAVE_LIBDEFLATE
// A chunk decoded and checked as libewf does it, at about twice its speed:
// a compressed one is a zlib stream (its Adler-32 checked, bytes after its
// end ignored, as zlib's uncompress does) of at most a chunk; a plain one
// ends in the Adler-32 of the rest. False for damage, which libewf then
// reads itself; a chunk shorter than the reader wants is its too.
bool decode_chunk(std::span<const uint8_t> stored, bool compressed, uint32_t chunk_size, std::vector<uint8_t>& out) {
  if (compressed) {
    struct Free {
      void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, Free> decompressor(libdeflate_alloc_decompressor());
    if (!decompressor) return false;
    out.resize(chunk_size);
    size_t used = 0, produced = 0;
    if (libdeflate_zlib_decompress_ex(decompressor.get(), stored.data(), stored.size(), out.data(), out.size(), &used,
                                      &produced) != LIBDEFLATE_SUCCESS)
      return false;
    out.resize(produced);
  } else {
    const ByteReader reader(stored);
    if (stored.size() < 4 || stored.size() - 4 > chunk_size) return false;
    const std::span<const uint8_t> data = stored.first(stored.size() - 4);
    if (libdeflate_adler32(1, data.data(), data.size()) != reader.u32(data.size())) return false;
    out.assign(data.begin(), data.end());
  }
  return true;
}
#endif

}  // namespace
#else
struct EwfSource::Handle {};
#endif
bool has_ewf_signature(std::span<const uint8_t> head) {
  return starts_with(head, kEwfSignature) || starts_with(head, kEwf2Signature);
}

bool ewf_support_available() {
#ifdef ROOK_HAVE_LIBEWF
  return true;
#else
  return false;
#endif
}

EwfSource::EwfSource() = default;
EwfSource::~EwfSource() = default;

void EwfSource::close() {
  read_ahead_.reset();
  handle_.reset();
  size_ = 0;
  stored_size_ = 0;
  sector_size_ = 512;
  chunk_size_ = 0;
  segment_count_ = 0;
  next_chunk_ = UINT64_MAX;
  queued_until_ = 0;
  read_ahead_tried_ = false;
}

EwfOpenStatus EwfSource::open(const std::string& path) {
  close();
  std::unique_ptr<FileSource> first = FileSource::open(path);
  std::array<uint8_t, kEwfSignature.size()> head{};
  if (!first || !read_exact(*first, 0, head)) return {EwfOpenError::unreadable, {}};
  if (!has_ewf_signature(head)) return {EwfOpenError::not_ewf, {}};
#ifdef ROOK_HAVE_LIBEWF
#ifdef _WIN32
  // Windows' narrow file calls take the ANSI code page, not UTF-8: there the
  // set is found and opened by its wide names. libewf takes only "\" as the
  // separator where Windows takes "/" too.
  std::wstring name = platform::utf8_to_wide(path);
  std::replace(name.begin(), name.end(), L'/', L'\\');
  wchar_t** names = nullptr;
  constexpr auto glob = libewf_glob_wide;
  constexpr auto glob_free = libewf_glob_wide_free;
  constexpr auto open_set = libewf_handle_open_wide;
#else
  const std::string& name = path;
  char** names = nullptr;
  constexpr auto glob = libewf_glob;
  constexpr auto glob_free = libewf_glob_free;
  constexpr auto open_set = libewf_handle_open;
#endif
  int count = 0;
  libewf_error_t* error = nullptr;
  if (glob(name.c_str(), name.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1 || count < 1)
    return {EwfOpenError::segments, error_text(error)};
  // libewf opens the segments itself: the run notes each as read, so that
  // no output can take the place of one.
  for (int i = 0; i < count; ++i) {
#ifdef _WIN32
    platform::note_read_path(platform::wide_to_utf8(names[i]));
#else
    platform::note_read_path(names[i]);
#endif
  }
  auto handle = std::make_unique<Handle>();
#ifdef ROOK_EWF_OWN_FILES
  (void)open_set;
  bool opened = libewf_handle_initialize(&handle->ewf, &error) == 1 && handle->open_segments(names, count) &&
                libewf_handle_open_file_io_pool(handle->ewf, handle->pool, LIBEWF_OPEN_READ, &error) == 1;
#else
  bool opened = libewf_handle_initialize(&handle->ewf, &error) == 1 &&
                open_set(handle->ewf, names, count, LIBEWF_OPEN_READ, &error) == 1;
#endif
  const uint64_t largest = largest_segment(names, count);
  glob_free(names, count, nullptr);
  if (largest != 0 && largest < SIZE_MAX - 8) {
    handle->landing.reset(new (std::nothrow) uint8_t[largest + 8]);
    if (handle->landing) handle->landing_size = largest + 8;
  }
  size64_t media_size = 0;
  uint32_t bytes_per_sector = 0;
  size32_t chunk_size = 0;
  opened = opened && libewf_handle_get_media_size(handle->ewf, &media_size, &error) == 1;
  if (!opened) return {EwfOpenError::unreadable, error_text(error)};
  // libewf opens a set with a segment missing and reads its chunks as zeros.
  if (libewf_handle_segment_files_corrupted(handle->ewf, nullptr) != 0) return {EwfOpenError::incomplete, {}};
  if (libewf_handle_get_bytes_per_sector(handle->ewf, &bytes_per_sector, nullptr) == 1 && bytes_per_sector != 0)
    sector_size_ = bytes_per_sector;
  size_ = media_size;
  stored_size_ = media_size;
  if (libewf_handle_get_chunk_size(handle->ewf, &chunk_size, nullptr) == 1 && chunk_size != 0) {
    chunk_size_ = chunk_size;
    const uint64_t chunks = media_size / chunk_size + (media_size % chunk_size != 0 ? 1 : 0);
    Handle& h = *handle;
    const auto readable = [&h, chunk_size](uint64_t chunk) {
      bool compressed = false;
      return h.read_stored(chunk, chunk_size, compressed) != 0;
    };
    if (h.landing) stored_size_ = std::min<uint64_t>(media_size, stored_chunks(chunks, readable) * chunk_size);
  }
  handle_ = std::move(handle);
  segment_count_ = count;
  return {};
#else
  return {EwfOpenError::no_library, {}};
#endif
}

HoldingRun EwfSource::holding_at(uint64_t offset) {
  if (offset < stored_size_) return {Holding::data, stored_size_};
  return {offset < size_ ? Holding::not_stored : Holding::data, std::max(size_, offset)};
}

int64_t EwfSource::read_direct(uint64_t offset, std::span<uint8_t> buffer) {
#ifdef ROOK_HAVE_LIBEWF
  BriefLock lock(handle_->reading);
  // libewf may stop at a chunk boundary.
  return read_in_passes(offset, buffer, size_, [this](uint64_t at, std::span<uint8_t> part) -> int64_t {
    return libewf_handle_read_random(handle_->ewf, part.data(), part.size(), static_cast<off64_t>(at), nullptr);
  });
#else
  (void)offset;
  (void)buffer;
  return -1;
#endif
}

ReadAhead* EwfSource::read_ahead() {
#ifdef ROOK_HAVE_LIBEWF
  if (read_ahead_tried_) return read_ahead_.get();
  read_ahead_tried_ = true;
  if (read_ahead_workers() == 0 || chunk_size_ == 0 || chunk_size_ > kLargestReadAheadChunk || !handle_->landing ||
      libewf_decodes_alone())
    return nullptr;
  const unsigned threads = read_ahead_workers() + 1;
  handle_->raw.assign(threads, {});
#ifndef ROOK_HAVE_LIBDEFLATE
  for (unsigned i = 0; i < threads; ++i) {
    libewf_handle_t* decoder = nullptr;
    if (libewf_handle_initialize(&decoder, nullptr) != 1) return nullptr;
    handle_->decoders.push_back(decoder);
  }
#endif
  read_ahead_ = std::make_unique<ReadAhead>(read_ahead_workers(), kReadAheadMemory);
#endif
  return read_ahead_.get();
}

bool EwfSource::queue_chunk(uint64_t chunk, ReadAhead& ahead) {
#ifdef ROOK_HAVE_LIBEWF
  Handle* handle = handle_.get();
  const uint32_t chunk_size = chunk_size_;
  const bool queued = ahead.queue({this, chunk}, chunk_size, [handle, chunk, chunk_size](unsigned thread,
                                                                                        std::vector<uint8_t>& out) {
    // The chunk as stored is copied into the thread's own buffer, which
    // stays in its cache, and decoded from there into out once.
    std::vector<uint8_t>& raw = handle->raw[thread];
    bool compressed = false;
    {
      BriefLock lock(handle->reading);
      const size_t size = handle->read_stored(chunk, chunk_size, compressed);
      if (size == 0 || size > chunk_size + kRawChunkSlack) return false;
      const std::span<const uint8_t> stored(handle->landing.get(), size);
      raw.assign(stored.begin(), stored.end());
    }
#ifdef ROOK_HAVE_LIBDEFLATE
    return decode_chunk(raw, compressed, chunk_size, out);
#else
    // libewf decompresses a chunk into out, or checks a plain one in place.
    const ByteReader reader(raw);
    const uint32_t checksum = compressed || raw.size() < 4 ? 0 : reader.u32(raw.size() - 4);
    out.resize(chunk_size + kRawChunkSlack);
    size_t out_size = out.size();
    const ssize_t data_size =
        libewf_handle_prepare_read_chunk(handle->decoders[thread], raw.data(), raw.size(), out.data(), &out_size,
                                         compressed, checksum, compressed ? 0 : 1, nullptr);
    if (data_size <= 0 || static_cast<uint64_t>(data_size) > chunk_size ||
        (!compressed && static_cast<size_t>(data_size) > raw.size()))
      return false;
    if (!compressed) std::copy_n(raw.begin(), data_size, out.begin());
    out.resize(static_cast<size_t>(data_size));
    return true;
#endif
  });
  return queued || ahead.knows({this, chunk});
#else
  (void)chunk;
  (void)ahead;
  return false;
#endif
}

void EwfSource::queue_chunks(uint64_t first, uint64_t last, ReadAhead& ahead) {
  const uint64_t stored_chunks = (stored_size_ + chunk_size_ - 1) / chunk_size_;
  for (uint64_t chunk = std::max(first, queued_until_); chunk <= last && chunk < stored_chunks; ++chunk) {
    if (!queue_chunk(chunk, ahead)) break;
    queued_until_ = chunk + 1;
  }
}

bool EwfSource::reads_ahead() { return handle_ && read_ahead() != nullptr; }

void EwfSource::will_read(uint64_t offset, uint64_t length) {
  if (!reads_ahead() || offset >= stored_size_ || length == 0) return;
  const uint64_t end = std::min(stored_size_, offset + std::min(length, UINT64_MAX - offset));
  for (uint64_t chunk = offset / chunk_size_; chunk <= (end - 1) / chunk_size_; ++chunk) {
    if (!queue_chunk(chunk, *read_ahead_)) return;
  }
}

int64_t EwfSource::read_chunks_ahead(uint64_t offset, std::span<uint8_t> buffer, ReadAhead& ahead) {
  const uint64_t wanted = std::min<uint64_t>(buffer.size(), size_ - offset);
  const uint64_t first = offset / chunk_size_;
  const uint64_t last = (offset + wanted - 1) / chunk_size_;
  // A reader moving on (or back into the chunk it left off in) gets the
  // chunks ahead of it decoded; one that jumps gets its own read's chunks
  // decoded side by side when there are several.
  const bool onward = first == next_chunk_ || first + 1 == next_chunk_;
  next_chunk_ = last + 1;
  if (!onward) queued_until_ = first;
  if (!onward && first == last && !ahead.knows({this, first})) return read_direct(offset, buffer.first(wanted));
  queue_chunks(first, onward ? last + kReadAheadWindow / chunk_size_ : last, ahead);
  uint64_t done = 0;
  for (uint64_t chunk = first; chunk <= last; ++chunk) {
    const uint64_t at = offset + done;
    const uint64_t within = at - chunk * chunk_size_;
    const uint64_t piece = std::min<uint64_t>(wanted - done, chunk_size_ - within);
    const std::span<uint8_t> target = buffer.subspan(done, piece);
    const ReadAhead::Bytes bytes = ahead.take({this, chunk});
    if (!bytes || bytes->size() < within + piece) {
      // libewf reads the rest as a reader without workers would: the same
      // bytes (a short chunk shifts those after it), or the same failure.
      const int64_t got = read_direct(at, buffer.subspan(done, wanted - done));
      return got < 0 ? -1 : static_cast<int64_t>(done + static_cast<uint64_t>(got));
    }
    std::copy_n(bytes->begin() + static_cast<std::ptrdiff_t>(within), piece, target.begin());
    done += piece;
  }
  return static_cast<int64_t>(done);
}

int64_t EwfSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (!handle_) return -1;
  if (offset >= size_ || buffer.empty()) return 0;
  if (ReadAhead* ahead = read_ahead()) return read_chunks_ahead(offset, buffer, *ahead);
  return read_direct(offset, buffer);
}

}  // namespace lnk
