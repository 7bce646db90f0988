// A small volume with two shadow copies, changed by the input: each record
// (block, offset, length, bytes) overwrites part of the volume header, the
// catalog, a store header, a block list or any block; a first byte below 64
// also cuts the volume short. The stores are listed and every view read
// whole.
#include <cstdint>
#include <vector>

#include "storage/memory_source.h"
#include "storage/vss_source.h"
#include "tests/vss_volume_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using Builder = lnk::test::ShadowVolumeBuilder;
  if (size == 0 || size > (64u << 10)) return 0;
  Builder builder;
  std::vector<uint8_t>& volume = builder.bytes;
  const uint64_t targets[] = {lnk::kShadowVolumeHeaderOffset,
                              Builder::block(Builder::kCatalogBlock),
                              Builder::block(Builder::kStoreHeaderBlock[0]),
                              Builder::block(Builder::kBlockListBlock[0]),
                              Builder::block(Builder::kStoreHeaderBlock[1]),
                              Builder::block(Builder::kBlockListBlock[1]),
                              0};
  size_t at = 1;
  while (at + 4 <= size) {
    const uint8_t which = data[at] % 7;
    const uint64_t offset = static_cast<uint64_t>(data[at + 1]) | (static_cast<uint64_t>(data[at + 2]) << 8);
    const size_t length = data[at + 3];
    at += 4;
    // The volume header shares its block with the boot sector; "any block"
    // reaches the whole volume in 16-byte steps.
    const uint64_t start = which == 0   ? targets[0] + offset % 512
                           : which == 6 ? offset * 16 % volume.size()
                                        : targets[which] + offset % lnk::kShadowBlockSize;
    for (size_t i = 0; i < length && at < size && start + i < volume.size(); ++i) volume[start + i] = data[at++];
  }
  const uint64_t kept =
      data[0] < 64 ? (static_cast<uint64_t>(data[0]) + 1) * (lnk::kShadowBlockSize / 4) : volume.size();
  lnk::MemorySource source(std::span<const uint8_t>(volume).first(kept));

  std::vector<uint8_t> chunk((64 << 10) - 3);
  lnk::ShadowVolume shadows;
  const lnk::ShadowStatus opened = shadows.open(source);
  lnk::shadow_error_text(opened);
  for (uint32_t number = 1; number <= shadows.stores().size() + 1; ++number) {
    lnk::ShadowStatus status;
    std::unique_ptr<lnk::ShadowStoreSource> view = shadows.open_store(number, status);
    lnk::shadow_error_text(status);
    if (!view) continue;
    view->saved_block_offsets(1024);
    // A view is never larger than the 1 MiB volume; the cap only bounds a
    // fault. Odd-sized reads cross blocks and overlay sectors.
    int reads = 0;
    for (uint64_t offset = 0; offset < view->size() && reads < 64; offset += chunk.size(), ++reads) {
      view->will_read(offset, chunk.size());
      view->read_at(offset, chunk);
    }
  }
  return 0;
}
