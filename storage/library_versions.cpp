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
#ifdef ROOK_HAVE_LIBVSHADOW
#include <libbfio.h>
#include <libvshadow.h>
#endif
#ifdef ROOK_HAVE_LIBVHDI
#include <libvhdi.h>
#endif
#ifdef ROOK_HAVE_LIBQCOW
#include <libqcow.h>
#endif

namespace lnk {

std::vector<OptionalLibrary> optional_libraries() {
  // Asked of each library itself, so a shared library swapped under the
  // program reports what really runs.
  std::string zlib, deflate, ewf, vshadow, bfio, vhdi, qcow;
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
#ifdef ROOK_HAVE_LIBVSHADOW
  vshadow = libvshadow_get_version();
  bfio = libbfio_get_version();
#endif
#ifdef ROOK_HAVE_LIBVHDI
  vhdi = libvhdi_get_version();
#endif
#ifdef ROOK_HAVE_LIBQCOW
  qcow = libqcow_get_version();
#endif
  return {
      {"zlib", zlib, "stream-optimized VMware disks"},
      {"libdeflate", deflate, "faster inflation of VMware grains and E01 chunks"},
      {"libewf", ewf, "E01 evidence files"},
      {"libvshadow", vshadow, "shadow copies inside images"},
      {"libbfio", bfio, "file access for libvshadow"},
      {"libvhdi", vhdi, "VHD and VHDX disks"},
      {"libqcow", qcow, "QCOW2 disks"},
  };
}

}  // namespace lnk
