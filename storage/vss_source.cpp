#include "storage/vss_source.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <new>

#include "storage/bfio_bridge.h"
#include "storage/vss_guard.h"

#ifdef ROOK_HAVE_LIBVSHADOW
#include <libvshadow.h>
#endif

namespace lnk {
namespace {

#ifdef ROOK_HAVE_LIBVSHADOW
std::string error_text(libvshadow_error_t* error) {
  std::string text;
  if (error != nullptr) {
    std::array<char, 512> buffer{};
    if (libvshadow_error_sprint(error, buffer.data(), buffer.size()) > 0) text = buffer.data();
    libvshadow_error_free(&error);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '.')) text.pop_back();
  return text;
}

Guid store_guid(libvshadow_store_t* store,
                int (*get)(libvshadow_store_t*, uint8_t*, size_t, libvshadow_error_t**)) {
  Guid guid{};
  if (get(store, guid.data(), guid.size(), nullptr) != 1) guid.fill(0);
  return guid;
}

ShadowStoreInfo store_info(libvshadow_store_t* store, uint32_t number) {
  ShadowStoreInfo info;
  info.number = number;
  info.identifier = store_guid(store, libvshadow_store_get_identifier);
  info.copy_identifier = store_guid(store, libvshadow_store_get_copy_identifier);
  info.copy_set_identifier = store_guid(store, libvshadow_store_get_copy_set_identifier);
  size64_t volume_size = 0;
  if (libvshadow_store_get_volume_size(store, &volume_size, nullptr) == 1) info.volume_size = volume_size;
  libvshadow_store_get_creation_time(store, &info.creation_time, nullptr);
  if (libvshadow_store_get_attribute_flags(store, &info.attribute_flags, nullptr) != 1) info.attribute_flags = 0;
  info.data_in_volume = libvshadow_store_has_in_volume_data(store, nullptr) == 1;
  return info;
}

// A store's view reads through every later store, so a cut in one reaches
// all the stores before it.
void mark_damaged(std::vector<ShadowStoreInfo>& stores, const std::vector<Guid>& cut_stores) {
  bool later_cut = false;
  for (auto store = stores.rbegin(); store != stores.rend(); ++store) {
    later_cut = later_cut || std::find(cut_stores.begin(), cut_stores.end(), store->identifier) != cut_stores.end();
    store->damaged = later_cut;
  }
}
#endif

}  // namespace

std::string shadow_error_text(const ShadowStatus& status) {
  switch (status.error) {
    case ShadowError::none:
      return {};
    case ShadowError::no_library:
      return "shadow copies in images need libvshadow and libbfio, which this build lacks";
    case ShadowError::unreadable: {
      const std::string what = status.store_number == 0 ? "the shadow copies of this volume"
                                                        : "shadow copy " + std::to_string(status.store_number);
      return what + " cannot be read" + (status.detail.empty() ? "" : ": " + status.detail);
    }
    case ShadowError::no_such_store:
      if (status.store_count == 0) return "this volume holds no shadow copies";
      return "no shadow copy " + std::to_string(status.store_number) + ": this volume holds " +
             std::to_string(status.store_count) + (status.store_count == 1 ? " (number 1)" : "") +
             (status.store_count > 1 ? " (numbers 1 to " + std::to_string(status.store_count) + ")" : "");
    case ShadowError::data_elsewhere:
      return "shadow copy " + std::to_string(status.store_number) +
             " keeps its saved blocks on another volume, which cannot be read with this one";
  }
  return {};
}

bool shadow_support_available() {
#ifdef ROOK_HAVE_LIBVSHADOW
  return true;
#else
  return false;
#endif
}

#ifdef ROOK_HAVE_LIBVSHADOW
struct ShadowVolume::Shared {
  std::unique_ptr<GuardedShadowVolume> guarded;  // read through bfio, so freed after it
  libbfio_handle_t* bfio = nullptr;
  libvshadow_volume_t* volume = nullptr;
  bool volume_open = false;
  ~Shared() {
    if (volume != nullptr) {
      if (volume_open) libvshadow_volume_close(volume, nullptr);
      libvshadow_volume_free(&volume, nullptr);
    }
    if (bfio != nullptr) libbfio_handle_free(&bfio, nullptr);
  }
};

// The store keeps pointers into the volume's state, so it holds the volume.
struct ShadowStoreSource::Handle {
  std::shared_ptr<ShadowVolume::Shared> shared;
  libvshadow_store_t* store = nullptr;
  ~Handle() {
    if (store != nullptr) libvshadow_store_free(&store, nullptr);
  }
};
#else
struct ShadowVolume::Shared {};
struct ShadowStoreSource::Handle {};
#endif

ShadowStoreSource::ShadowStoreSource(std::unique_ptr<Handle> handle, const ShadowStoreInfo& info, uint64_t size,
                                     uint32_t sector_size)
    : handle_(std::move(handle)), info_(info), size_(size), sector_size_(sector_size) {}

ShadowStoreSource::~ShadowStoreSource() = default;

int64_t ShadowStoreSource::read_at(uint64_t offset, std::span<uint8_t> buffer) {
#ifdef ROOK_HAVE_LIBVSHADOW
  return read_in_passes(offset, buffer, size_, [this](uint64_t at, std::span<uint8_t> part) -> int64_t {
    return libvshadow_store_read_buffer_at_offset(handle_->store, part.data(), part.size(), static_cast<off64_t>(at),
                                                  nullptr);
  });
#else
  (void)offset;
  (void)buffer;
  return -1;
#endif
}

std::vector<uint64_t> ShadowStoreSource::saved_block_offsets(size_t limit) const {
  std::vector<uint64_t> offsets;
#ifdef ROOK_HAVE_LIBVSHADOW
  int count = 0;
  if (libvshadow_store_get_number_of_blocks(handle_->store, &count, nullptr) != 1 || count <= 0) return offsets;
  offsets.reserve(std::min<size_t>(limit, static_cast<size_t>(count)));
  for (int index = 0; index < count && offsets.size() < limit; ++index) {
    libvshadow_block_t* block = nullptr;
    if (libvshadow_store_get_block_by_index(handle_->store, index, &block, nullptr) != 1) break;
    off64_t original = 0;
    if (libvshadow_block_get_original_offset(block, &original, nullptr) == 1 && original >= 0)
      offsets.push_back(static_cast<uint64_t>(original));
    libvshadow_block_free(&block, nullptr);
  }
#else
  (void)limit;
#endif
  return offsets;
}

ShadowVolume::ShadowVolume() = default;
ShadowVolume::~ShadowVolume() = default;

ShadowStatus ShadowVolume::open(ByteSource& volume) {
  shared_.reset();
  stores_.clear();
  refused_.clear();
  catalog_damaged_ = false;
  sector_size_ = volume.sector_size();
  volume_size_ = volume.size();
#ifdef ROOK_HAVE_LIBVSHADOW
  // No shadow-copy header: a volume that never had copies, one too short
  // to hold the header, or not NTFS at all.
  std::array<uint8_t, kShadowBlockHeaderSize> header{};
  if (!read_exact(volume, kShadowVolumeHeaderOffset, header) || !is_shadow_block(header)) return {};
  auto shared = std::make_shared<Shared>();
  const ShadowGuardPlan plan = plan_shadow_guard(volume);
  if (plan.catalog_refused) return {ShadowError::unreadable, 0, 0, "its catalog is damaged"};
  refused_ = plan.refused_stores;
  if (!plan.cut_fields.empty()) shared->guarded = std::make_unique<GuardedShadowVolume>(volume, plan.cut_fields);
  catalog_damaged_ = plan.catalog_cut;
  shared->bfio = make_bfio_handle(shared->guarded ? *shared->guarded : volume);
  if (shared->bfio == nullptr) return {ShadowError::unreadable, 0, 0, "the volume cannot be read"};
  libvshadow_error_t* error = nullptr;
  if (libvshadow_volume_initialize(&shared->volume, &error) != 1 ||
      libvshadow_volume_open_file_io_handle(shared->volume, shared->bfio, LIBVSHADOW_OPEN_READ, &error) != 1)
    return {ShadowError::unreadable, 0, 0, error_text(error)};
  shared->volume_open = true;
  int count = 0;
  if (libvshadow_volume_get_number_of_stores(shared->volume, &count, &error) != 1)
    return {ShadowError::unreadable, 0, 0, error_text(error)};
  ShadowStatus status;
  for (int index = 0; index < count; ++index) {
    libvshadow_store_t* store = nullptr;
    if (libvshadow_volume_get_store(shared->volume, index, &store, &error) != 1) {
      // The stores before it stay usable.
      status = {ShadowError::unreadable, static_cast<uint32_t>(index + 1), static_cast<uint32_t>(index),
                error_text(error)};
      break;
    }
    stores_.push_back(store_info(store, static_cast<uint32_t>(index + 1)));
    libvshadow_store_free(&store, nullptr);
  }
  std::vector<Guid> damaged = plan.cut_stores;
  damaged.insert(damaged.end(), refused_.begin(), refused_.end());
  mark_damaged(stores_, damaged);
  // libvshadow was not shown their location entries, so it takes their
  // data to be elsewhere.
  for (ShadowStoreInfo& store : stores_)
    if (std::find(refused_.begin(), refused_.end(), store.identifier) != refused_.end()) store.data_in_volume = true;
  shared_ = shared;
  return status;
#else
  (void)volume;
  return {ShadowError::no_library, 0, 0, {}};
#endif
}

std::unique_ptr<ShadowStoreSource> ShadowVolume::open_store(uint32_t number, ShadowStatus& status) {
  status = {};
  status.store_number = number;
  status.store_count = static_cast<uint32_t>(stores_.size());
#ifdef ROOK_HAVE_LIBVSHADOW
  if (number == 0 || number > stores_.size()) {
    status.error = ShadowError::no_such_store;
    return nullptr;
  }
  const ShadowStoreInfo& info = stores_[number - 1];
  if (std::find(refused_.begin(), refused_.end(), info.identifier) != refused_.end()) {
    status.error = ShadowError::unreadable;
    status.detail = "its header or block lists are damaged";
    return nullptr;
  }
  if (!info.data_in_volume) {
    status.error = ShadowError::data_elsewhere;
    return nullptr;
  }
  auto handle = std::make_unique<ShadowStoreSource::Handle>();
  handle->shared = shared_;
  libvshadow_error_t* error = nullptr;
  size64_t size = 0;
  if (libvshadow_volume_get_store(shared_->volume, static_cast<int>(number - 1), &handle->store, &error) != 1 ||
      libvshadow_store_get_size(handle->store, &size, &error) != 1) {
    status.error = ShadowError::unreadable;
    status.detail = error_text(error);
    return nullptr;
  }
  // libvshadow reads a store's lists at its first read; a store whose lists
  // are unreadable fails every read, so it is refused here.
  std::array<uint8_t, 512> probe{};
  if (libvshadow_store_read_buffer_at_offset(handle->store, probe.data(), std::min<uint64_t>(probe.size(), size), 0,
                                             &error) < 0) {
    status.error = ShadowError::unreadable;
    status.detail = error_text(error);
    return nullptr;
  }
  // The size comes from the catalog; a damaged one can claim any size, and
  // a view cannot hold more than the volume it is rebuilt from.
  size = std::min<uint64_t>(size, volume_size_);
  return std::unique_ptr<ShadowStoreSource>(new ShadowStoreSource(std::move(handle), info, size, sector_size_));
#else
  status.error = ShadowError::no_library;
  return nullptr;
#endif
}

std::vector<ShadowStoreInfo> list_shadow_stores(ByteSource& volume, ShadowStatus& status) {
  ShadowVolume shadows;
  status = shadows.open(volume);
  return shadows.stores();
}

std::unique_ptr<ShadowStoreSource> open_shadow_store(ByteSource& volume, uint32_t number, ShadowStatus& status) {
  ShadowVolume shadows;
  status = shadows.open(volume);
  if (!status.ok()) return nullptr;
  return shadows.open_store(number, status);
}

}  // namespace lnk
