// The chunk codecs of Windows' file compression (WOF, the "compact"
// command): XPRESS with Huffman coding and LZX, decoded through wimlib
// when the build has it.
#pragma once

#include <cstdint>
#include <span>

namespace lnk {

// The algorithm numbers of the WOF file provider.
enum class WofAlgorithm : uint32_t { xpress4k = 0, lzx = 1, xpress8k = 2, xpress16k = 3 };

// Whether this build decodes WOF chunks (it has wimlib).
bool wof_codec_available();

// One decoder for chunks of one algorithm; chunks are at most chunk_bytes.
class WofChunkDecoder {
 public:
  WofChunkDecoder(WofAlgorithm algorithm, uint32_t chunk_bytes);
  ~WofChunkDecoder();
  WofChunkDecoder(const WofChunkDecoder&) = delete;
  WofChunkDecoder& operator=(const WofChunkDecoder&) = delete;

  bool ready() const { return decompressor_ != nullptr; }
  // Decodes one compressed chunk into exactly out.size() bytes; false for
  // damaged input or without wimlib.
  bool decode(std::span<const uint8_t> in, std::span<uint8_t> out);

 private:
  void* decompressor_ = nullptr;
};

}  // namespace lnk
