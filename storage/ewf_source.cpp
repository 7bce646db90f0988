#include "storage/ewf_source.h"

#include <algorithm>
#include <array>
#include <vector>

#include "storage/file_source.h"

// Where rook has libbfio of its own (the one libewf links on Linux), libewf
// reads the segments through files rook opened, as every input is opened:
// read-only, noted, access time kept. The Windows build's libewf carries its
// own libbfio, so there libewf opens the segments by name.
#if defined(ROOK_HAVE_LIBEWF) && defined(ROOK_HAVE_LIBVSHADOW) && !defined(_WIN32)
#define ROOK_EWF_OWN_FILES 1
// libewf.h declares its pool calls only when told that libbfio is there.
#define HAVE_LIBBFIO 1
#include "storage/bfio_source.h"
#endif
#ifdef ROOK_HAVE_LIBEWF
#include <libewf.h>
#endif
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
struct EwfSource::Handle {
  libewf_handle_t* ewf = nullptr;
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
  ~Handle() {
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
  handle_.reset();
  size_ = 0;
  sector_size_ = 512;
  segment_count_ = 0;
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
  glob_free(names, count, nullptr);
  size64_t media_size = 0;
  uint32_t bytes_per_sector = 0;
  opened = opened && libewf_handle_get_media_size(handle->ewf, &media_size, &error) == 1;
  if (!opened) return {EwfOpenError::unreadable, error_text(error)};
  // libewf opens a set with a segment missing and reads its chunks as zeros.
  if (libewf_handle_segment_files_corrupted(handle->ewf, nullptr) != 0) return {EwfOpenError::incomplete, {}};
  if (libewf_handle_get_bytes_per_sector(handle->ewf, &bytes_per_sector, nullptr) == 1 && bytes_per_sector != 0)
    sector_size_ = bytes_per_sector;
  handle_ = std::move(handle);
  size_ = media_size;
  segment_count_ = count;
  return {};
#else
  return {EwfOpenError::no_library, {}};
#endif
}

int64_t EwfSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
  if (!handle_) return -1;
#ifdef ROOK_HAVE_LIBEWF
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

}  // namespace lnk
