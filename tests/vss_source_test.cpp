// Shadow copies through libvshadow over a small built volume whose every
// block says where it came from, then damaged copies of it.
#include "storage/vss_source.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "platform/text.h"
#include "storage/memory_source.h"
#include "tests/vss_volume_builder.h"

namespace lnk {
namespace {

using Builder = test::ShadowVolumeBuilder;

// Every 16 KiB block of the view holds one byte value throughout.
void expect_view(ShadowStoreSource& view, int store) {
  ASSERT_EQ(view.size(), Builder::kBlocks * kShadowBlockSize);
  std::vector<uint8_t> whole(view.size());
  ASSERT_EQ(view.read_at(0, whole), static_cast<int64_t>(whole.size()));
  // The last block ends with the backup boot sector.
  for (uint64_t index = 16; index + 1 < Builder::kBlocks; ++index) {
    const uint8_t want = Builder::expected_fill(store, index);
    const auto first = whole.begin() + Builder::block(index);
    EXPECT_EQ(std::count(first, first + kShadowBlockSize, want), static_cast<long>(kShadowBlockSize))
        << "store " << store + 1 << " block " << index;
  }
}

class BuiltShadowVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!shadow_support_available()) GTEST_SKIP() << "built without libvshadow";
  }
  Builder builder;
};

TEST_F(BuiltShadowVolume, StoresListOldestFirstWithTheirCatalogValues) {
  MemorySource volume(builder.bytes);
  ShadowVolume shadows;
  ASSERT_TRUE(shadows.open(volume).ok());
  ASSERT_EQ(shadows.stores().size(), 2u);
  for (int store = 0; store < 2; ++store) {
    const ShadowStoreInfo& info = shadows.stores()[store];
    const auto id = [&](int base) { return Builder::guid(static_cast<uint8_t>(base + store)); };
    EXPECT_EQ(std::tie(info.identifier, info.copy_identifier, info.copy_set_identifier),
              std::make_tuple(id(1), id(0x21), id(0x31)));
    EXPECT_EQ(std::make_tuple(info.number, info.creation_time, info.volume_size, info.attribute_flags,
                              info.data_in_volume, info.damaged),
              std::make_tuple(static_cast<uint32_t>(store + 1), Builder::kCreationTime[store], builder.bytes.size(),
                              0x00420009u, true, false));
  }
  EXPECT_FALSE(shadows.catalog_damaged());
  for (uint32_t number : {0u, 3u, 0xffffffffu}) {
    ShadowStatus status;
    EXPECT_FALSE(shadows.open_store(number, status));
    EXPECT_EQ(std::make_tuple(status.error, status.store_number, status.store_count),
              std::make_tuple(ShadowError::no_such_store, number, 2u));
  }
  ShadowStatus status;
  shadows.open_store(3, status);
  EXPECT_EQ(shadow_error_text(status), "no shadow copy 3: this volume holds 2 (numbers 1 to 2)");
  std::unique_ptr<ShadowStoreSource> view = open_shadow_store(volume, 1, status);
  ASSERT_TRUE(view) << shadow_error_text(status);
  expect_view(*view, 0);

  // The catalog lists the newer store first: the order is by creation time.
  for (int slot = 0; slot < 2; ++slot) {
    const uint64_t first = Builder::block(Builder::kCatalogBlock) + kShadowBlockHeaderSize;
    std::swap_ranges(builder.bytes.begin() + first + slot * kShadowCatalogEntrySize,
                     builder.bytes.begin() + first + (slot + 1) * kShadowCatalogEntrySize,
                     builder.bytes.begin() + first + (slot + 2) * kShadowCatalogEntrySize);
  }
  ShadowVolume swapped;
  ASSERT_TRUE(swapped.open(volume).ok());
  ASSERT_EQ(swapped.stores().size(), 2u);
  EXPECT_EQ(std::tie(swapped.stores()[0].identifier, swapped.stores()[1].creation_time),
            std::make_tuple(Builder::guid(1), Builder::kCreationTime[1]));
}

TEST_F(BuiltShadowVolume, EachViewTakesSavedBlocksFromItsStoreAndLaterOnes) {
  MemorySource volume(builder.bytes);
  ShadowVolume shadows;
  ASSERT_TRUE(shadows.open(volume).ok());
  for (uint32_t number : {1u, 2u}) {
    ShadowStatus status;
    std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
    ASSERT_TRUE(view) << shadow_error_text(status);
    expect_view(*view, static_cast<int>(number - 1));
    EXPECT_EQ(std::make_tuple(view->info().number, view->sector_size()), std::make_tuple(number, volume.sector_size()));
    // Reads across a saved block's edges, and at the end.
    std::vector<uint8_t> piece(100);
    ASSERT_EQ(view->read_at(Builder::block(25) - 50, piece), 100);
    const int store = static_cast<int>(number - 1);
    EXPECT_EQ(std::make_pair(piece[49], piece[50]),
              std::make_pair(Builder::expected_fill(store, 24), Builder::expected_fill(store, 25)));
    EXPECT_EQ(std::make_pair(view->read_at(view->size() - 10, piece), view->read_at(view->size(), piece)),
              std::make_pair(int64_t{10}, int64_t{0}));
  }
  ShadowStatus status;
  std::unique_ptr<ShadowStoreSource> older = shadows.open_store(1, status);
  std::unique_ptr<ShadowStoreSource> newer = shadows.open_store(2, status);
  EXPECT_EQ(older->saved_block_offsets(10), std::vector<uint64_t>{Builder::block(24)});
  EXPECT_EQ(newer->saved_block_offsets(10), (std::vector<uint64_t>{Builder::block(24), Builder::block(25)}));
  EXPECT_EQ(newer->saved_block_offsets(1).size(), 1u);
}

TEST_F(BuiltShadowVolume, VolumesWithoutCopiesHaveNoStoresAndNoError) {
  const std::vector<uint8_t> zeros(1 << 20);
  Builder no_header;
  no_header.bytes[kShadowVolumeHeaderOffset + 3] ^= 0xff;
  Builder no_catalog;
  no_catalog.put(kShadowVolumeHeaderOffset + kShadowCatalogOffsetField, 0, 8);
  for (std::span<const uint8_t> bytes : {std::span<const uint8_t>(zeros), std::span<const uint8_t>(no_header.bytes),
                                         std::span<const uint8_t>(no_catalog.bytes), std::span<const uint8_t>()}) {
    MemorySource volume(bytes);
    ShadowStatus status;
    EXPECT_TRUE(list_shadow_stores(volume, status).empty()) << bytes.size();
    EXPECT_TRUE(status.ok()) << shadow_error_text(status);
    EXPECT_FALSE(open_shadow_store(volume, 1, status));
    EXPECT_EQ(shadow_error_text(status), "this volume holds no shadow copies");
  }
}

// Store 1 reads through store 2, so damage in store 2 marks both; a cut
// restores a chain's end, so the views it leaves are whole.
TEST_F(BuiltShadowVolume, DamagedChainsAreCutMarkedOrRefused) {
  const uint64_t catalog = Builder::block(Builder::kCatalogBlock);
  const auto list = [](int store) { return Builder::block(Builder::kBlockListBlock[store]); };
  const struct {
    const char* name;
    std::function<void(Builder&)> damage;
    bool catalog_damaged;
    std::array<bool, 2> damaged, opens;
  } cases[] = {
      {"store 1's block list names itself as next",
       [&](Builder& b) { b.put(list(0) + kShadowNextOffsetField, list(0), 8); }, false, {true, false}, {true, true}},
      {"store 2's block list names itself as next",
       [&](Builder& b) { b.put(list(1) + kShadowNextOffsetField, list(1), 8); }, false, {true, true}, {true, true}},
      {"store 1's block list zeroed",
       [&](Builder& b) { std::fill_n(b.bytes.begin() + list(0), kShadowBlockSize, 0); }, false, {true, false},
       {false, true}},
      {"the catalog names itself as next",
       [&](Builder& b) { b.put(catalog + kShadowNextOffsetField, catalog, 8); }, true, {false, false}, {true, true}},
      // Listed, but neither it nor the older store reading through it opens.
      {"store 2's header of another record type",
       [](Builder& b) { b.put(Builder::block(Builder::kStoreHeaderBlock[1]) + 20, 3, 4); }, false, {true, true},
       {false, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b;
    c.damage(b);
    MemorySource volume(b.bytes);
    ShadowVolume shadows;
    ASSERT_TRUE(shadows.open(volume).ok());
    EXPECT_EQ(shadows.catalog_damaged(), c.catalog_damaged);
    ASSERT_EQ(shadows.stores().size(), 2u);
    for (uint32_t number : {1u, 2u}) {
      EXPECT_EQ(shadows.stores()[number - 1].damaged, c.damaged[number - 1]) << number;
      EXPECT_TRUE(shadows.stores()[number - 1].data_in_volume);
      ShadowStatus status;
      std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
      ASSERT_EQ(view != nullptr, c.opens[number - 1]) << number << " " << shadow_error_text(status);
      if (view) expect_view(*view, static_cast<int>(number - 1));
      const std::string text = shadow_error_text(status);
      const std::string cannot = "shadow copy " + std::to_string(number) + " cannot be read";
      EXPECT_TRUE(view || (status.error == ShadowError::unreadable && text.find(cannot) != text.npos)) << text;
    }
  }
  Builder zeroed;
  std::fill_n(zeroed.bytes.begin() + catalog, kShadowBlockSize, 0);
  MemorySource zeroed_volume(zeroed.bytes);
  ShadowVolume refused;
  const ShadowStatus opened = refused.open(zeroed_volume);
  EXPECT_EQ(std::make_tuple(opened.error, refused.stores().size()), std::make_tuple(ShadowError::unreadable, size_t{0}));
  EXPECT_NE(shadow_error_text(opened).find("cannot be read: "), std::string::npos);
}

// Cut anywhere, the volume opens or is refused with a reason.
TEST_F(BuiltShadowVolume, EveryTruncationEndsNormally) {
  for (uint64_t length = 0; length <= Builder::kBlocks * kShadowBlockSize; length += 0x1000) {
    MemorySource volume(std::span<const uint8_t>(builder.bytes).first(length));
    ShadowVolume shadows;
    const ShadowStatus opened = shadows.open(volume);
    EXPECT_TRUE(opened.ok() || !shadow_error_text(opened).empty());
    for (uint32_t number = 1; number <= shadows.stores().size(); ++number) {
      ShadowStatus status;
      std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
      if (!view) {
        EXPECT_FALSE(shadow_error_text(status).empty());
        continue;
      }
      std::vector<uint8_t> chunk(64 << 10);
      for (uint64_t at = 0; at < view->size(); at += chunk.size()) view->read_at(at, chunk);
    }
  }
}

TEST(ShadowVolumeWithoutLibrary, EveryOpenNamesTheMissingLibrary) {
  if (shadow_support_available()) GTEST_SKIP() << "built with libvshadow";
  Builder b;
  MemorySource volume(b.bytes);
  ShadowStatus status;
  EXPECT_TRUE(list_shadow_stores(volume, status).empty());
  EXPECT_EQ(status.error, ShadowError::no_library);
  EXPECT_FALSE(open_shadow_store(volume, 1, status));
  EXPECT_EQ(shadow_error_text(status), "shadow copies in images need libvshadow and libbfio, which this build lacks");
}

}  // namespace
}  // namespace lnk
