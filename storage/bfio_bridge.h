// A libbfio handle that reads one of our byte sources, so that the libyal
// container library libewf reads evidence through
// the platform layer, read-only, and through whatever container or window
// the caller built. Only builds with libbfio have it.
#pragma once

#ifdef ROOK_HAVE_LIBBFIO
#include <libbfio.h>

#include "storage/byte_source.h"

namespace lnk {

// An open handle reading source, which must outlive it; null on failure.
// Writes always fail.
libbfio_handle_t* make_bfio_handle(ByteSource& source);

// Owns a handle made above.
class BfioHandle {
 public:
  explicit BfioHandle(ByteSource& source) : handle_(make_bfio_handle(source)) {}
  ~BfioHandle() {
    if (handle_ != nullptr) libbfio_handle_free(&handle_, nullptr);
  }
  BfioHandle(const BfioHandle&) = delete;
  BfioHandle& operator=(const BfioHandle&) = delete;
  libbfio_handle_t* get() const { return handle_; }

 private:
  libbfio_handle_t* handle_;
};

}  // namespace lnk
#endif
