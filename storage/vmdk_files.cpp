#include "storage/vmdk_files.h"

#include "storage/file_source.h"

namespace lnk {
namespace {

// Split disks have hundreds of extents; the process may not hold that many
// descriptors, and reads move through extents in order anyway.
constexpr size_t kMaxOpenFiles = 32;
// Enough for the working set of a scan of 64 KiB grains, and never fewer
// than a few grains of the largest size accepted.
constexpr uint64_t kGrainCacheBytes = 8u << 20;
constexpr size_t kMinCachedGrains = 4;

}  // namespace

VmdkOpener vmdk_disk_opener() {
  return [](const std::string& path) -> std::unique_ptr<ByteSource> { return FileSource::open(path); };
}

std::string vmdk_sibling_path(const std::string& beside, const std::string& name) {
  const size_t cut = beside.find_last_of("/\\");
  const std::string directory = cut == std::string::npos ? std::string() : beside.substr(0, cut + 1);
  const size_t name_cut = name.find_last_of("/\\");
  return directory + (name_cut == std::string::npos ? name : name.substr(name_cut + 1));
}

bool vmdk_compression_available() {
#if defined(ROOK_HAVE_ZLIB) || defined(ROOK_HAVE_LIBDEFLATE)
  return true;
#else
  return false;
#endif
}

VmdkFiles::VmdkFiles(VmdkOpener opener) : opener_(std::move(opener)) {}

ByteSource* VmdkFiles::get(const std::string& path) {
  for (auto it = open_files_.begin(); it != open_files_.end(); ++it) {
    if (it->first == path) {
      open_files_.splice(open_files_.begin(), open_files_, it);
      return open_files_.front().second.get();
    }
  }
  std::unique_ptr<ByteSource> file = opener_ ? opener_(path) : nullptr;
  if (!file) return nullptr;
  open_files_.emplace_front(path, std::move(file));
  if (open_files_.size() > kMaxOpenFiles) open_files_.pop_back();
  return open_files_.front().second.get();
}

std::shared_ptr<ByteSource> VmdkFiles::shared(const ByteSource* file) const {
  for (const auto& [path, open] : open_files_) {
    if (open.get() == file) return open;
  }
  return nullptr;
}

ReadAhead* VmdkFiles::read_ahead() {
  if (!read_ahead_ && read_ahead_workers() > 0)
    read_ahead_ = std::make_unique<ReadAhead>(read_ahead_workers(), kReadAheadMemory);
  return read_ahead_.get();
}

const std::vector<uint8_t>* VmdkFiles::cached_grain(const void* extent, uint64_t grain) {
  const auto found = grain_index_.find({extent, grain});
  if (found == grain_index_.end()) return nullptr;
  grains_.splice(grains_.begin(), grains_, found->second);
  return &grains_.front().bytes;
}

void VmdkFiles::keep_grain(const void* extent, uint64_t grain, std::vector<uint8_t> bytes) {
  const GrainKey key{extent, grain};
  // A whole grain replaces the leading part kept before.
  if (const auto old = grain_index_.find(key); old != grain_index_.end()) {
    cached_bytes_ -= old->second->bytes.size();
    grains_.erase(old->second);
    grain_index_.erase(old);
  }
  cached_bytes_ += bytes.size();
  grains_.push_front({key, std::move(bytes)});
  grain_index_[key] = grains_.begin();
  while (grains_.size() > kMinCachedGrains && cached_bytes_ > kGrainCacheBytes) {
    cached_bytes_ -= grains_.back().bytes.size();
    grain_index_.erase(grains_.back().key);
    grains_.pop_back();
  }
}

}  // namespace lnk
