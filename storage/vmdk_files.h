// The files behind a VMware disk: how they are opened (real files, or
// memory in tests), how many stay open at once, the cache of decompressed
// grains, and why a file could not be used.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "storage/byte_source.h"
#include "storage/read_ahead.h"

namespace lnk {

enum class VmdkOpenError {
  none,
  unreadable,                 // the file cannot be opened or read
  not_vmdk,                   // neither a sparse extent nor a descriptor
  extent_without_descriptor,  // one extent of a split disk given on its own
  unsupported_layout,         // detail: the layout or extent type
  bad_header,                 // detail: the field found wrong
  missing_extent,             // detail: the extent file
  needs_zlib,                 // compressed grains in a build without zlib
  incomplete_stream,          // stream-optimized disk without its footer
};

struct VmdkOpenStatus {
  VmdkOpenError error = VmdkOpenError::none;
  std::string detail;
  // The extent file at fault when it is not the file opened.
  std::string extent;
  bool ok() const { return error == VmdkOpenError::none; }
};

// Opens one file read-only; null when it cannot be opened.
using VmdkOpener = std::function<std::unique_ptr<ByteSource>(const std::string& path)>;
// Opens files on disk.
VmdkOpener vmdk_disk_opener();

// name put in the directory of beside; name's own directories are dropped,
// whichever separator they use.
std::string vmdk_sibling_path(const std::string& beside, const std::string& name);

// True when compressed (stream-optimized) grains can be read.
bool vmdk_compression_available();

class VmdkFiles {
 public:
  explicit VmdkFiles(VmdkOpener opener);

  // The file, opened again if it was closed to keep the count of open files
  // down. The pointer is valid until the next call.
  ByteSource* get(const std::string& path);
  // The open file behind a pointer get gave, kept alive for a reader on
  // another thread; null when it is no longer open.
  std::shared_ptr<ByteSource> shared(const ByteSource* file) const;
  // The workers that inflate grains ahead of a reader; null with one
  // decode thread.
  ReadAhead* read_ahead();

  // A decompressed grain, or its leading part, kept from an earlier read; null
  // when none is.
  const std::vector<uint8_t>* cached_grain(const void* extent, uint64_t grain);
  // Keeps a decompressed grain, dropping the least recently used ones.
  void keep_grain(const void* extent, uint64_t grain, std::vector<uint8_t> bytes);

 private:
  using GrainKey = std::pair<const void*, uint64_t>;
  struct CachedGrain {
    GrainKey key;
    std::vector<uint8_t> bytes;
  };

  VmdkOpener opener_;
  // Most recently used first.
  std::list<std::pair<std::string, std::shared_ptr<ByteSource>>> open_files_;
  std::list<CachedGrain> grains_;
  std::map<GrainKey, std::list<CachedGrain>::iterator> grain_index_;
  uint64_t cached_bytes_ = 0;
  // Last: its workers stop before anything they might use goes.
  std::unique_ptr<ReadAhead> read_ahead_;
};

}  // namespace lnk
