#include "storage/library_versions.h"

#ifdef ROOK_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef ROOK_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef ROOK_HAVE_LIBEWF
#include <libewf.h>
#endif
#ifdef ROOK_HAVE_LIBBFIO
#include <libbfio.h>
#endif
#ifdef ROOK_HAVE_WIMLIB
#include <wimlib.h>
#endif

namespace lnk {

std::vector<OptionalLibrary> optional_libraries() {
  // Asked of each library itself, so a shared library swapped under the
  // program reports what really runs.
  std::string zlib, deflate, ewf, bfio, wim;
#ifdef ROOK_HAVE_ZLIB
  zlib = zlibVersion();
#endif
#ifdef ROOK_HAVE_LIBDEFLATE
  // libdeflate has no call that tells its version: the headers' word.
  deflate = LIBDEFLATE_VERSION_STRING;
#endif
#ifdef ROOK_HAVE_LIBEWF
  ewf = libewf_get_version();
#endif
#ifdef ROOK_HAVE_LIBBFIO
  bfio = libbfio_get_version();
#endif
#ifdef ROOK_HAVE_WIMLIB
  wim = wimlib_get_version_string();
#endif
  return {
      {"zlib", zlib, "stream-optimized VMware disks, compressed QCOW clusters"},
      {"libdeflate", deflate, "faster inflation of VMware grains, QCOW clusters and E01 chunks"},
      {"libewf", ewf, "E01 evidence files"},
      {"libbfio", bfio, "file access for libewf"},
      {"wimlib", wim, "WOF-compressed NTFS files"},
  };
}

}  // namespace lnk
