#include "ntfs/shadow_catalog.h"

#include <algorithm>
#include <map>

#include "ntfs/file_data.h"
#include "ntfs/path_lookup.h"
#include "platform/byte_reader.h"
#include "platform/text.h"

namespace lnk {
namespace {

constexpr char kCatalogDirectory[] = "system volume information";
// A catalog is a few 16 KiB blocks; this leaves room for thousands of stores.
constexpr uint64_t kMaxCatalogSize = 16u << 20;

}  // namespace

bool decode_shadow_catalog(std::span<const uint8_t> data, std::array<uint8_t, kCatalogHeaderSize>& header,
                           std::vector<ShadowStore>& stores) {
  header.fill(0);
  stores.clear();
  if (data.size() < kCatalogHeaderSize) return true;
  std::copy_n(data.begin(), kCatalogHeaderSize, header.begin());
  std::map<std::string, ShadowStore> by_key;
  const ByteReader r(data);
  for (uint64_t at = kCatalogHeaderSize; r.has(at, kShadowCatalogEntrySize); at += kShadowCatalogEntrySize) {
    const ByteReader e = r.sub(at, kShadowCatalogEntrySize);
    const uint64_t type = e.u64(kCatalogEntryTypeField);
    if (type != kCatalogStoreInformation && type != kCatalogStoreLocation) continue;
    const std::string key = guid_text(e.guid(kCatalogStoreGuidField));
    ShadowStore& store = by_key[key];
    store.key = key;
    if (type == kCatalogStoreInformation) {
      store.has_information = true;
      store.volume_size = e.u64(kCatalogVolumeSizeField);
      const auto bytes = e.span().subspan(kCatalogInformationBytesField, store.information_bytes.size());
      std::copy(bytes.begin(), bytes.end(), store.information_bytes.begin());
      store.creation_time = e.u64(kCatalogCreationTimeField);
    } else {
      store.has_location = true;
      store.block_list_offset = e.u64(kCatalogBlockListField);
      store.header_offset = e.u64(kCatalogStoreHeaderField);
      store.block_range_list_offset = e.u64(kCatalogBlockRangeListField);
      store.bitmap_offset = e.u64(kCatalogBitmapField);
      store.store_file_reference = e.u64(kCatalogStoreFileField);
      store.allocated_size = e.u64(kCatalogAllocatedSizeField);
      store.previous_bitmap_offset = e.u64(kCatalogPreviousBitmapField);
    }
  }
  for (auto& [key, store] : by_key) stores.push_back(std::move(store));
  return true;
}

bool read_shadow_catalog(NtfsVolume& volume, std::array<uint8_t, kCatalogHeaderSize>& header,
                         std::vector<ShadowStore>& stores) {
  header.fill(0);
  stores.clear();
  if (!volume.validate()) return false;
  const std::string path = std::string(kCatalogDirectory) + "\\{" + guid_text(kShadowCopyIdentifier) + "}";
  uint64_t entry = 0;
  std::vector<uint8_t> data;
  // Windows keeps the catalog with an initialized size of 0: the service
  // reads its clusters behind the file system.
  if (!lookup_path(volume, path, entry) || !read_entry_data(volume, entry, data, kMaxCatalogSize, true)) return false;
  decode_shadow_catalog(data, header, stores);
  for (ShadowStore& store : stores) {
    std::vector<uint8_t> bytes(kStoreHeaderSize);
    if (!read_exact(volume.volume_bytes(), store.header_offset, bytes)) break;
    store.header = std::move(bytes);
  }
  return true;
}

}  // namespace lnk
