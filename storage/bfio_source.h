// A libbfio handle over a ByteSource, for the libraries that read through
// libbfio: libvshadow reads an image through whatever container and window
// the caller built, libewf reads segments rook opened itself.
#pragma once

#ifdef ROOK_HAVE_LIBVSHADOW
#include <libbfio.h>

#include "storage/byte_source.h"

namespace lnk {

// An open, read-only handle that reads source (which must outlive it); null
// on failure. The caller frees it, or hands it to a pool that does.
libbfio_handle_t* make_bfio_handle(ByteSource& source);

}  // namespace lnk
#endif
