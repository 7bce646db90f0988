// The shadow-copy catalog of a volume ("System Volume Information\{3808876b-
// c176-4e48-b7ae-04046e6cc752}"): which store files hold the saved blocks of
// each shadow copy.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/ntfs_volume.h"
#include "storage/shadow_layout.h"

namespace lnk {

// The catalog file holds the catalog's blocks: its data starts with a
// block header; a store header is one block.
constexpr size_t kCatalogHeaderSize = kShadowBlockHeaderSize;
constexpr size_t kStoreHeaderSize = kShadowBlockSize;

struct ShadowStore {
  std::string key;  // the store GUID as lower-case text without braces
  bool has_information = false;  // a type 2 entry was seen
  bool has_location = false;     // a type 3 entry was seen
  // Type 2.
  uint64_t volume_size = 0;
  std::array<uint8_t, 16> information_bytes{};
  uint64_t creation_time = 0;  // FILETIME
  // Type 3.
  uint64_t block_list_offset = 0;
  uint64_t header_offset = 0;  // within the volume
  uint64_t block_range_list_offset = 0;
  uint64_t bitmap_offset = 0;
  uint64_t store_file_reference = 0;
  uint64_t allocated_size = 0;
  uint64_t previous_bitmap_offset = 0;
  // The 16,384 bytes at header_offset; empty when they could not be read.
  std::vector<uint8_t> header;
};

// Decodes catalog data: the 128-byte header, then every whole 128-byte
// entry of type 2 or 3 into stores ordered by key (entries of one GUID fill
// one store). Store headers are not read here.
bool decode_shadow_catalog(std::span<const uint8_t> data, std::array<uint8_t, kCatalogHeaderSize>& header,
                           std::vector<ShadowStore>& stores);
// Finds and reads the catalog of an open volume, then each store's header
// (stopping at the first that cannot be read). False, quietly, when the
// volume has no catalog or it cannot be read.
bool read_shadow_catalog(NtfsVolume& volume, std::array<uint8_t, kCatalogHeaderSize>& header,
                         std::vector<ShadowStore>& stores);

}  // namespace lnk
