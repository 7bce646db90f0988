#include "storage/wof_codec.h"

#ifdef ROOK_HAVE_WIMLIB
#include <wimlib.h>
#endif

namespace lnk {

bool wof_codec_available() {
#ifdef ROOK_HAVE_WIMLIB
  return true;
#else
  return false;
#endif
}

WofChunkDecoder::WofChunkDecoder([[maybe_unused]] WofAlgorithm algorithm, [[maybe_unused]] uint32_t chunk_bytes) {
#ifdef ROOK_HAVE_WIMLIB
  const wimlib_compression_type type =
      algorithm == WofAlgorithm::lzx ? WIMLIB_COMPRESSION_TYPE_LZX : WIMLIB_COMPRESSION_TYPE_XPRESS;
  wimlib_decompressor* made = nullptr;
  if (wimlib_create_decompressor(type, chunk_bytes, &made) == 0) decompressor_ = made;
#endif
}

WofChunkDecoder::~WofChunkDecoder() {
#ifdef ROOK_HAVE_WIMLIB
  if (decompressor_ != nullptr) wimlib_free_decompressor(static_cast<wimlib_decompressor*>(decompressor_));
#endif
}

bool WofChunkDecoder::decode([[maybe_unused]] std::span<const uint8_t> in, [[maybe_unused]] std::span<uint8_t> out) {
#ifdef ROOK_HAVE_WIMLIB
  if (decompressor_ == nullptr || in.empty() || out.empty()) return false;
  return wimlib_decompress(in.data(), in.size(), out.data(), out.size(),
                           static_cast<wimlib_decompressor*>(decompressor_)) == 0;
#else
  return false;
#endif
}

}  // namespace lnk
