#include "storage/bfio_source.h"

#ifdef ROOK_HAVE_LIBVSHADOW
#include <cstdio>
#include <limits>
#include <new>

namespace lnk {
namespace {

struct BfioSource {
  ByteSource* source = nullptr;
  uint64_t offset = 0;
  bool open = false;
};

BfioSource* as_source(intptr_t* io_handle) { return reinterpret_cast<BfioSource*>(io_handle); }

int bfio_free(intptr_t** io_handle, libbfio_error_t**) {
  if (io_handle == nullptr) return -1;
  delete as_source(*io_handle);
  *io_handle = nullptr;
  return 1;
}

int bfio_clone(intptr_t** destination, intptr_t* source, libbfio_error_t**) {
  if (destination == nullptr || source == nullptr) return -1;
  *destination = reinterpret_cast<intptr_t*>(new (std::nothrow) BfioSource{as_source(source)->source, 0, false});
  return *destination == nullptr ? -1 : 1;
}

int bfio_open(intptr_t* io_handle, int access_flags, libbfio_error_t**) {
  // Evidence is never written.
  if (io_handle == nullptr || (access_flags & LIBBFIO_ACCESS_FLAG_WRITE) != 0) return -1;
  as_source(io_handle)->open = true;
  as_source(io_handle)->offset = 0;
  return 1;
}

int bfio_close(intptr_t* io_handle, libbfio_error_t**) {
  if (io_handle == nullptr) return -1;
  as_source(io_handle)->open = false;
  return 0;
}

ssize_t bfio_read(intptr_t* io_handle, uint8_t* buffer, size_t size, libbfio_error_t**) {
  BfioSource* io = as_source(io_handle);
  if (io == nullptr || !io->open || buffer == nullptr) return -1;
  if (size > static_cast<size_t>(std::numeric_limits<ssize_t>::max())) return -1;
  uint64_t count = 0;
  try {
    if (!read_available(*io->source, io->offset, std::span<uint8_t>(buffer, size), count)) return -1;
  } catch (...) {
    return -1;
  }
  io->offset += count;
  return static_cast<ssize_t>(count);
}

ssize_t bfio_write(intptr_t*, const uint8_t*, size_t, libbfio_error_t**) { return -1; }

off64_t bfio_seek(intptr_t* io_handle, off64_t offset, int whence, libbfio_error_t**) {
  BfioSource* io = as_source(io_handle);
  if (io == nullptr || !io->open) return -1;
  int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<int64_t>(io->offset);
  } else if (whence == SEEK_END) {
    base = static_cast<int64_t>(io->source->size());
  } else if (whence != SEEK_SET) {
    return -1;
  }
  // Unsigned negation, so that the most negative offset cannot overflow.
  if (offset < 0 ? static_cast<uint64_t>(base) < 0 - static_cast<uint64_t>(offset)
                 : offset > std::numeric_limits<int64_t>::max() - base)
    return -1;
  io->offset = static_cast<uint64_t>(base + offset);
  return static_cast<off64_t>(io->offset);
}

int bfio_exists(intptr_t* io_handle, libbfio_error_t**) { return io_handle == nullptr ? -1 : 1; }

int bfio_is_open(intptr_t* io_handle, libbfio_error_t**) {
  return io_handle == nullptr ? -1 : (as_source(io_handle)->open ? 1 : 0);
}

int bfio_get_size(intptr_t* io_handle, size64_t* size, libbfio_error_t**) {
  if (io_handle == nullptr || size == nullptr) return -1;
  *size = as_source(io_handle)->source->size();
  return 1;
}

}  // namespace

libbfio_handle_t* make_bfio_handle(ByteSource& source) {
  auto* io = new BfioSource{&source, 0, false};
  libbfio_handle_t* handle = nullptr;
  if (libbfio_handle_initialize(&handle, reinterpret_cast<intptr_t*>(io), bfio_free, bfio_clone, bfio_open,
                                bfio_close, bfio_read, bfio_write, bfio_seek, bfio_exists, bfio_is_open,
                                bfio_get_size,
                                LIBBFIO_FLAG_IO_HANDLE_MANAGED | LIBBFIO_FLAG_IO_HANDLE_CLONE_BY_FUNCTION,
                                nullptr) != 1) {
    delete io;
    return nullptr;
  }
  if (libbfio_handle_open(handle, LIBBFIO_OPEN_READ, nullptr) != 1) {
    libbfio_handle_free(&handle, nullptr);
    return nullptr;
  }
  return handle;
}

}  // namespace lnk
#endif
