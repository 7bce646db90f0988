// A small NTFS-looking volume with two shadow copies laid out as Windows
// writes them. Every 16 KiB block of the live volume holds its own number,
// every saved copy its store and block number, so a view's bytes say where
// they came from.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/shadow_layout.h"

namespace lnk::test {

struct ShadowVolumeBuilder {
  static constexpr uint64_t kBlocks = 64;  // 1 MiB
  static constexpr uint64_t kCatalogBlock = 1;
  // Store 1 is the older one.
  static constexpr uint64_t kStoreHeaderBlock[2] = {2, 5};
  static constexpr uint64_t kBlockListBlock[2] = {3, 6};
  // The saved copies: store 1 saved block 24, store 2 saved 24 and 25.
  struct Saved { int store; uint64_t original_block, data_block; };
  static constexpr Saved kSaved[3] = {{0, 24, 10}, {1, 24, 11}, {1, 25, 12}};
  static constexpr uint64_t kCreationTime[2] = {130305261097363787ull, 130305262689190583ull};

  std::vector<uint8_t> bytes = std::vector<uint8_t>(kBlocks * kShadowBlockSize);

  void put(uint64_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  // A GUID whose first byte is the tag and whose others count up.
  static Guid guid(uint8_t tag) { return {tag, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}; }
  void put_guid(uint64_t at, uint8_t tag) { std::ranges::copy(guid(tag), bytes.begin() + at); }
  // The 128-byte header every shadow-copy block starts with.
  void block_header(uint64_t at, uint32_t record_type, uint64_t next) {
    static constexpr std::array<uint8_t, 16> kIdentifier = {0x6b, 0x87, 0x08, 0x38, 0x76, 0xc1, 0x48, 0x4e,
                                                            0xb7, 0xae, 0x04, 0x04, 0x6e, 0x6c, 0xc7, 0x52};
    for (size_t i = 0; i < kIdentifier.size(); ++i) bytes[at + i] = kIdentifier[i];
    put(at + 16, 1, 4);  // version
    put(at + 20, record_type, 4);
    put(at + 32, at, 8);
    put(at + kShadowNextOffsetField, next, 8);
  }
  static uint64_t block(uint64_t index) { return index * kShadowBlockSize; }
  static uint8_t live_fill(uint64_t index) { return static_cast<uint8_t>(index); }
  static uint8_t saved_fill(int store, uint64_t original) { return static_cast<uint8_t>(0x80 + store * 0x20 + original); }

  ShadowVolumeBuilder() {
    for (uint64_t index = 16; index < kBlocks; ++index)
      std::fill(bytes.begin() + block(index), bytes.begin() + block(index + 1), live_fill(index));
    boot_sector(0);
    boot_sector(bytes.size() - 512);

    const uint64_t header = kShadowVolumeHeaderOffset;
    block_header(header, 1, 0);
    put(header + 24, header, 8);
    put(header + kShadowCatalogOffsetField, block(kCatalogBlock), 8);
    put_guid(header + 0x40, 0x0f);
    put_guid(header + 0x50, 0x0f);

    const uint64_t catalog = block(kCatalogBlock);
    block_header(catalog, 2, 0);
    for (int store = 0; store < 2; ++store) {
      const uint64_t information = catalog + kShadowBlockHeaderSize + store * 2 * kShadowCatalogEntrySize;
      put(information, 2, 8);
      put(information + 8, bytes.size(), 8);
      put_guid(information + kCatalogStoreGuidField, static_cast<uint8_t>(store + 1));
      put(information + 40, store + 1, 8);
      put(information + 48, kCreationTime[store], 8);
      const uint64_t location = information + kShadowCatalogEntrySize;
      put(location, 3, 8);
      put(location + kCatalogBlockListField, block(kBlockListBlock[store]), 8);
      put_guid(location + kCatalogStoreGuidField, static_cast<uint8_t>(store + 1));
      put(location + 32, block(kStoreHeaderBlock[store]), 8);
      store_header(block(kStoreHeaderBlock[store]), store);
      block_header(block(kBlockListBlock[store]), 3, 0);
    }
    uint64_t descriptor_slot[2] = {0, 0};
    for (const Saved& saved : kSaved) {
      const uint64_t at =
          block(kBlockListBlock[saved.store]) + kShadowBlockHeaderSize + 32 * descriptor_slot[saved.store]++;
      put(at, block(saved.original_block), 8);
      put(at + 8, block(saved.data_block), 8);  // relative offset
      put(at + 16, block(saved.data_block), 8);
      std::fill(bytes.begin() + block(saved.data_block), bytes.begin() + block(saved.data_block + 1),
                saved_fill(saved.store, saved.original_block));
    }
  }

  void boot_sector(uint64_t at) {
    const std::string oem = "NTFS    ";
    for (size_t i = 0; i < oem.size(); ++i) bytes[at + 3 + i] = static_cast<uint8_t>(oem[i]);
    put(at + 0x0b, 512, 2);
    put(at + 0x0d, 8, 1);
    put(at + 0x28, bytes.size() / 512 - 1, 8);
    put(at + 510, 0xaa55, 2);
  }

  void store_header(uint64_t at, int store) {
    block_header(at, 4, 0);
    const uint64_t information = at + kShadowBlockHeaderSize;
    put_guid(information + 16, static_cast<uint8_t>(0x21 + store));  // copy identifier
    put_guid(information + 32, static_cast<uint8_t>(0x31 + store));  // copy set identifier
    put(information + 48, 9, 4);
    put(information + 52, 1, 4);
    put(information + 56, 0x00420009, 4);
    // The machine names, "pc" twice.
    for (uint64_t name = information + 64; name < information + 76; name += 6) {
      put(name, 4, 2);
      put(name + 2, 'p', 2);
      put(name + 4, 'c', 2);
    }
  }

  // A block-list entry in a store's list (0 = the older store).
  void list_entry(int store, int slot, uint64_t original, uint64_t relative, uint64_t stored, uint32_t flags,
                  uint32_t sectors = 0) {
    const uint64_t at = block(kBlockListBlock[store]) + kShadowBlockHeaderSize + kShadowDescriptorSize * slot;
    put(at, block(original), 8);
    put(at + kShadowDescriptorRelativeField, relative, 8);
    put(at + kShadowDescriptorStoreField, stored, 8);
    put(at + kShadowDescriptorFlagsField, flags, 4);
    put(at + kShadowDescriptorBitmapField, sectors, 4);
  }
  // A bitmap of the store in the block at_block, named by the catalog field
  // (current or previous), with the given blocks marked unused.
  void bitmap(int store, uint64_t field, uint64_t at_block, std::initializer_list<uint64_t> unused) {
    block_header(block(at_block), 6, 0);
    put(block(kCatalogBlock) + kShadowBlockHeaderSize + (store * 2 + 1) * kShadowCatalogEntrySize + field,
        block(at_block), 8);
    for (uint64_t index : unused) bytes[block(at_block) + kShadowBlockHeaderSize + index / 8] |= 1 << (index % 8);
  }
  void fill(uint64_t index, uint8_t value) {
    std::fill(bytes.begin() + block(index), bytes.begin() + block(index + 1), value);
  }

  // The view the store with this index (0 = older) should give of a block.
  static uint8_t expected_fill(int store, uint64_t index) {
    for (int later = store; later < 2; ++later)
      for (const Saved& saved : kSaved)
        if (saved.store == later && saved.original_block == index) return saved_fill(later, index);
    return live_fill(index);
  }
};

}  // namespace lnk::test
