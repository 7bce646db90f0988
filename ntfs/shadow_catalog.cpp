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
constexpr Guid kCatalogGuid = guid_literal("3808876b-c176-4e48-b7ae-04046e6cc752");
// A catalog is a few 16 KiB blocks; this leaves room for thousands of stores.
constexpr uint64_t kMaxCatalogSize = 16u << 20;

constexpr uint64_t kEntryTypeField = 0;
constexpr uint64_t kEntryStoreGuidField = 16;
constexpr uint64_t kVolumeSizeField = 8;
constexpr uint64_t kInformationBytesField = 32;
constexpr uint64_t kCreationTimeField = 48;
constexpr uint64_t kBlockListField = 8;
constexpr uint64_t kStoreHeaderField = 32;
constexpr uint64_t kBlockRangeListField = 40;
constexpr uint64_t kBitmapField = 48;
constexpr uint64_t kStoreFileField = 56;
constexpr uint64_t kAllocatedSizeField = 64;
constexpr uint64_t kPreviousBitmapField = 72;
constexpr uint64_t kStoreInformation = 2;
constexpr uint64_t kStoreLocation = 3;

}  // namespace

bool decode_shadow_catalog(std::span<const uint8_t> data, std::array<uint8_t, kCatalogHeaderSize>& header,
                           std::vector<ShadowStore>& stores) {
  header.fill(0);
  stores.clear();
  if (data.size() < kCatalogHeaderSize) return true;
  std::copy_n(data.begin(), kCatalogHeaderSize, header.begin());
  std::map<std::string, ShadowStore> by_key;
  const ByteReader r(data);
  for (uint64_t at = kCatalogHeaderSize; r.has(at, kCatalogEntrySize); at += kCatalogEntrySize) {
    const ByteReader e = r.sub(at, kCatalogEntrySize);
    const uint64_t type = e.u64(kEntryTypeField);
    if (type != kStoreInformation && type != kStoreLocation) continue;
    const std::string key = guid_text(e.guid(kEntryStoreGuidField));
    ShadowStore& store = by_key[key];
    store.key = key;
    if (type == kStoreInformation) {
      store.has_information = true;
      store.volume_size = e.u64(kVolumeSizeField);
      const auto bytes = e.span().subspan(kInformationBytesField, store.information_bytes.size());
      std::copy(bytes.begin(), bytes.end(), store.information_bytes.begin());
      store.creation_time = e.u64(kCreationTimeField);
    } else {
      store.has_location = true;
      store.block_list_offset = e.u64(kBlockListField);
      store.header_offset = e.u64(kStoreHeaderField);
      store.block_range_list_offset = e.u64(kBlockRangeListField);
      store.bitmap_offset = e.u64(kBitmapField);
      store.store_file_reference = e.u64(kStoreFileField);
      store.allocated_size = e.u64(kAllocatedSizeField);
      store.previous_bitmap_offset = e.u64(kPreviousBitmapField);
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
  const std::string path = std::string(kCatalogDirectory) + "\\{" + guid_text(kCatalogGuid) + "}";
  uint64_t entry = 0;
  std::vector<uint8_t> data;
  if (!lookup_path(volume, path, entry) || !read_entry_data(volume, entry, data, kMaxCatalogSize)) return false;
  decode_shadow_catalog(data, header, stores);
  for (ShadowStore& store : stores) {
    std::vector<uint8_t> bytes(kStoreHeaderSize);
    if (!read_exact(volume.volume_bytes(), store.header_offset, bytes)) break;
    store.header = std::move(bytes);
  }
  return true;
}

}  // namespace lnk
