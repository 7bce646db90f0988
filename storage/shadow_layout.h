// Where shadow-copy data lies and how it is laid out, after Joachim Metz's
// "Volume Shadow Snapshot (VSS) format" (libvshadow's documentation): 16 KiB
// blocks that start with a 128-byte header, the volume header that names
// the catalog, the catalog's 128-byte entries (one store-information, type 2,
// and one store-location, type 3, entry per store), and each store's header,
// block list, range list and bitmaps.
#pragma once

#include <cstdint>

#include "platform/byte_reader.h"
#include "platform/text.h"

namespace lnk {

// Every block starts with it; the catalog file is named after it.
constexpr Guid kShadowCopyIdentifier = guid_literal("3808876b-c176-4e48-b7ae-04046e6cc752");
constexpr uint64_t kShadowBlockSize = 0x4000;
constexpr uint64_t kShadowBlockHeaderSize = 128;
constexpr uint64_t kShadowVolumeHeaderOffset = 0x1e00;
constexpr uint64_t kShadowCatalogOffsetField = 0x30;  // in the volume header

// Block header fields, after the 16-byte shadow-copy identifier.
constexpr uint64_t kShadowBlockVersionField = 16;
constexpr uint64_t kShadowRecordTypeField = 20;
constexpr uint64_t kShadowNextOffsetField = 0x28;
constexpr uint32_t kShadowBlockVersion = 1;
// Record types.
constexpr uint32_t kShadowCatalogRecord = 2;
constexpr uint32_t kShadowBlockListRecord = 3;
constexpr uint32_t kShadowStoreHeaderRecord = 4;
constexpr uint32_t kShadowRangeListRecord = 5;
constexpr uint32_t kShadowBitmapRecord = 6;

constexpr uint64_t kShadowCatalogEntrySize = 128;
constexpr uint64_t kCatalogEntryTypeField = 0;
constexpr uint64_t kCatalogStoreInformation = 2;
constexpr uint64_t kCatalogStoreLocation = 3;
constexpr uint64_t kCatalogStoreGuidField = 16;
// Store information.
constexpr uint64_t kCatalogVolumeSizeField = 8;
constexpr uint64_t kCatalogInformationBytesField = 32;
constexpr uint64_t kCatalogCreationTimeField = 48;
// Store location: volume offsets of the store's blocks, and its file.
constexpr uint64_t kCatalogBlockListField = 8;
constexpr uint64_t kCatalogStoreHeaderField = 32;
constexpr uint64_t kCatalogBlockRangeListField = 40;
constexpr uint64_t kCatalogBitmapField = 48;
constexpr uint64_t kCatalogStoreFileField = 56;
constexpr uint64_t kCatalogAllocatedSizeField = 64;
constexpr uint64_t kCatalogPreviousBitmapField = 72;

// Store information, after the store header's block header.
constexpr uint64_t kStoreCopyIdentifierField = 16;
constexpr uint64_t kStoreCopySetIdentifierField = 32;
constexpr uint64_t kStoreAttributeFlagsField = 56;

// Block-list entries, after the block header: original offset, relative
// offset, store offset, flags, allocation bitmap (one bit per 512 bytes of
// an overlay's block).
constexpr uint64_t kShadowDescriptorSize = 32;
constexpr uint64_t kShadowDescriptorRelativeField = 8;
constexpr uint64_t kShadowDescriptorStoreField = 16;
constexpr uint64_t kShadowDescriptorFlagsField = 24;
constexpr uint64_t kShadowDescriptorBitmapField = 28;
constexpr uint64_t kShadowOverlaySector = 512;
constexpr uint32_t kShadowDescriptorForwarder = 0x1;
constexpr uint32_t kShadowDescriptorOverlay = 0x2;
constexpr uint32_t kShadowDescriptorNotUsed = 0x4;

}  // namespace lnk
