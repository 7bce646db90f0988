// Reads a volume or one of its shadow copies from start to end through the
// byte sources, the way a raw scan would, and prints how long it took; or
// lists the stores. For bench/vss_speed.sh and by hand:
//
//   vss_read IMAGE OFFSET list
//   vss_read IMAGE OFFSET read N [CHUNK]   (N = 0: the live volume)
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "storage/file_source.h"
#include "storage/vss_source.h"
#include "storage/window_source.h"

namespace {

int usage() {
  std::fprintf(stderr, "usage: vss_read IMAGE OFFSET list | read N [CHUNK]\n");
  return 2;
}

// A checksum of what was read, so that two runs can be seen to read the same.
uint64_t fold(uint64_t sum, const std::vector<uint8_t>& bytes, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    sum = (sum ^ word) * 0x100000001b3ull;
  }
  for (; i < count; ++i) sum = (sum ^ bytes[i]) * 0x100000001b3ull;
  return sum;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  std::unique_ptr<lnk::FileSource> image = lnk::FileSource::open(argv[1]);
  if (!image) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  const uint64_t offset = std::strtoull(argv[2], nullptr, 0);
  lnk::WindowSource volume(*image, offset, image->size() - std::min(offset, image->size()));
  const std::string command = argv[3];
  lnk::ShadowVolume shadows;
  const lnk::ShadowStatus opened = shadows.open(volume);
  if (!opened.ok()) std::fprintf(stderr, "%s\n", lnk::shadow_error_text(opened).c_str());
  if (command == "list") {
    std::printf("stores: %zu%s\n", shadows.stores().size(), shadows.catalog_damaged() ? " (catalog damaged)" : "");
    for (const lnk::ShadowStoreInfo& store : shadows.stores()) {
      std::printf("store %" PRIu32 ": %s filetime %" PRIu64 " volume size %" PRIu64 "%s%s\n", store.number,
                  lnk::guid_text(store.identifier).c_str(), store.creation_time, store.volume_size,
                  store.data_in_volume ? "" : " (data on another volume)", store.damaged ? " (damaged)" : "");
    }
    return opened.ok() ? 0 : 1;
  }
  if (command != "read" || argc < 5) return usage();
  const uint32_t number = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
  const size_t chunk = argc > 5 ? std::strtoull(argv[5], nullptr, 0) : (1u << 20);
  std::unique_ptr<lnk::ShadowStoreSource> store;
  lnk::ByteSource* source = &volume;
  if (number != 0) {
    lnk::ShadowStatus status;
    store = shadows.open_store(number, status);
    if (!store) {
      std::fprintf(stderr, "%s\n", lnk::shadow_error_text(status).c_str());
      return 1;
    }
    source = store.get();
  }
  std::vector<uint8_t> buffer(chunk == 0 ? 65536 : chunk);
  const auto start = std::chrono::steady_clock::now();
  uint64_t total = 0;
  uint64_t failed = 0;
  uint64_t sum = 0xcbf29ce484222325ull;
  for (uint64_t at = 0; at < source->size(); at += buffer.size()) {
    const int64_t got = source->read_at(at, buffer);
    if (got < 0) {
      ++failed;
      continue;
    }
    total += static_cast<uint64_t>(got);
    sum = fold(sum, buffer, static_cast<size_t>(got));
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("read %" PRIu64 " bytes in %.3f s, %" PRIu64 " failed chunks, checksum %016" PRIx64 "\n", total,
              seconds, failed, sum);
  return 0;
}
