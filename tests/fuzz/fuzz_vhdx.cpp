// One VHDX file from any bytes, read alone. The input's 4 KiB pieces land
// where the headers, region tables, metadata and log live, with their
// checksums made to match, so the fuzzer reaches past them.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/fuzz/fuzz_layer_reads.h"
#include "storage/vhd_source.h"
#include "storage/vhdx_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  // Piece i goes to 64 KiB * i: file identifier, two headers, two region
  // tables; the rest (metadata, log, BAT, blocks) from 320 KiB on.
  constexpr size_t kPiece = 4096, kSpread = 5, kStride = 0x10000;
  const size_t head = std::min(size, kSpread * kPiece);
  std::vector<uint8_t> file(kSpread * kStride + (size - head), 0);
  for (size_t from = 0; from < head; from += kPiece)
    std::copy_n(data + from, std::min(kPiece, head - from), file.begin() + static_cast<std::ptrdiff_t>(from / kPiece * kStride));
  std::copy(data + head, data + size, file.begin() + static_cast<std::ptrdiff_t>(kSpread * kStride));
  for (size_t at : {0x10000u, 0x20000u}) {
    const uint32_t sum = lnk::vhdx_checksum(std::span<const uint8_t>(file).subspan(at, 4096), 4);
    for (int b = 0; b < 4; ++b) file[at + 4 + b] = static_cast<uint8_t>(sum >> (8 * b));
  }
  for (size_t at : {0x30000u, 0x40000u}) {
    const uint32_t sum = lnk::vhdx_checksum(std::span<const uint8_t>(file).subspan(at, 0x10000), 4);
    for (int b = 0; b < 4; ++b) file[at + 4 + b] = static_cast<uint8_t>(sum >> (8 * b));
  }
  auto source = std::make_shared<lnk::OwnedMemorySource>(std::move(file));
  lnk::ContainerProblem problem;
  if (auto layer = lnk::open_vhdx_layer(source, "fuzz.vhdx", problem)) lnk::fuzz::read_layer(std::move(layer));
  return 0;
}
