// Shadow copies over a small built volume whose every block says where it
// came from: the guard that cuts damaged chains before libvshadow follows
// them (one change to the intact volume per case), then the stores and views
// libvshadow gives of it, sound and damaged.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "platform/text.h"
#include "storage/memory_source.h"
#include "storage/vss_guard.h"
#include "storage/vss_source.h"
#include "tests/vss_volume_builder.h"

namespace lnk {
namespace {

using Builder = test::ShadowVolumeBuilder;

uint64_t next_field(uint64_t block_index) { return Builder::block(block_index) + kShadowNextOffsetField; }

uint64_t entry_offset(int slot) {
  return Builder::block(Builder::kCatalogBlock) + kShadowBlockHeaderSize + slot * kShadowCatalogEntrySize;
}

// A store-location entry in a free catalog slot with a header and a bitmap.
void add_bitmap_entry(Builder& b, int slot, uint8_t tag, uint64_t bitmap_block) {
  b.put(entry_offset(slot), 3, 8);
  b.put_guid(entry_offset(slot) + kCatalogStoreGuidField, tag);
  b.put(entry_offset(slot) + kCatalogStoreHeaderField, Builder::block(Builder::kStoreHeaderBlock[0]), 8);
  b.put(entry_offset(slot) + kCatalogBitmapField, Builder::block(bitmap_block), 8);
}

enum class CatalogEnd { whole, cut, refused };

struct GuardCase {
  const char* name;
  std::function<void(Builder&)> damage;
  std::vector<uint64_t> cut_fields;
  std::vector<uint8_t> cut_store_tags;
  std::vector<uint8_t> refused_store_tags;
  CatalogEnd catalog = CatalogEnd::whole;
};

std::vector<GuardCase> guard_cases() {
  const uint64_t list1 = next_field(Builder::kBlockListBlock[0]);
  const uint64_t list2_entry = entry_offset(3) + kCatalogBlockListField;
  const uint64_t header = Builder::block(Builder::kStoreHeaderBlock[1]);
  const uint64_t first_name = header + kShadowBlockHeaderSize + 64;
  const uint64_t room = kShadowBlockSize - kShadowBlockHeaderSize - 64 - 2;  // for the first name alone
  const std::vector<uint64_t> hide_store2 = {entry_offset(3)};
  return {
      {"intact", [](Builder&) {}, {}, {}, {}},
      {"block list names itself as next", [=](Builder& b) { b.put(list1, Builder::block(3), 8); }, {list1}, {1}, {}},
      {"block list loops back over two blocks",
       [](Builder& b) {
         b.block_header(Builder::block(7), 3, Builder::block(6));
         b.put(next_field(6), Builder::block(7), 8);
       },
       {next_field(7)}, {2}, {}},
      {"next block past the end of the volume", [=](Builder& b) { b.put(list1, b.bytes.size(), 8); }, {list1}, {1}, {}},
      {"next block offset that wraps", [=](Builder& b) { b.put(list1, ~uint64_t{0} - 0x3fff, 8); }, {list1}, {1}, {}},
      {"next block without the identifier", [=](Builder& b) { b.put(list1, Builder::block(7), 8); }, {list1}, {1}, {}},
      {"next block of another record type",
       [=](Builder& b) {
         b.block_header(Builder::block(7), 6, 0);
         b.put(list1, Builder::block(7), 8);
       },
       {list1}, {1}, {}},
      {"next block of a version libvshadow refuses",
       [=](Builder& b) {
         b.block_header(Builder::block(7), 3, 0);
         b.put(Builder::block(7) + 16, 2, 4);
         b.put(list1, Builder::block(7), 8);
       },
       {list1}, {1}, {}},
      // Hidden rather than cut: without its first block the store would
      // seem to have saved nothing.
      {"first block past the end of the volume",
       [](Builder& b) { b.put(entry_offset(1) + kCatalogBlockListField, 2 * b.bytes.size(), 8); },
       {entry_offset(1)},
       {},
       {1}},
      {"first block without the identifier", [=](Builder& b) { b.put(list2_entry, Builder::block(7), 8); },
       {entry_offset(3)}, {}, {2}},
      // A 1 MiB volume needs one bitmap block; two are allowed, not three.
      {"bitmap chain longer than the volume needs",
       [](Builder& b) {
         b.put(entry_offset(1) + kCatalogBitmapField, Builder::block(7), 8);
         b.block_header(Builder::block(7), 6, Builder::block(8));
         b.block_header(Builder::block(8), 6, Builder::block(9));
         b.block_header(Builder::block(9), 6, 0);
       },
       {next_field(8)}, {1}, {}},
      // 64 list blocks are allowed in all: store 1 walks 3, 16..63 (49),
      // store 2 then 6, 16..29 (15), and the field leading to block 30 is cut.
      {"block lists longer than the volume could fill",
       [](Builder& b) {
         b.put(next_field(3), Builder::block(16), 8);
         b.put(next_field(6), Builder::block(16), 8);
         for (uint64_t index = 16; index < 64; ++index)
           b.block_header(Builder::block(index), 3, index + 1 < 64 ? Builder::block(index + 1) : 0);
       },
       {next_field(29)}, {2}, {}},
      {"catalog names itself as next", [](Builder& b) { b.put(next_field(1), Builder::block(1), 8); },
       {next_field(1)}, {}, {}, CatalogEnd::cut},
      {"catalog past the end of the volume", [](Builder& b) { b.put(next_field(1), b.bytes.size(), 8); },
       {next_field(1)}, {}, {}, CatalogEnd::cut},
      {"catalog's first block unusable",
       [](Builder& b) { b.put(kShadowVolumeHeaderOffset + kShadowCatalogOffsetField, Builder::block(7), 8); },
       {}, {}, {}, CatalogEnd::refused},
      // Blocks 1, 30, 31, ... : the sixteenth is block 44, whose next is cut.
      {"catalog longer than any Windows writes",
       [](Builder& b) {
         b.put(next_field(1), Builder::block(30), 8);
         for (uint64_t index = 30; index < 50; ++index)
           b.block_header(Builder::block(index), 2, Builder::block(index + 1));
       },
       {next_field(44)}, {}, {}, CatalogEnd::cut},
      // libvshadow refuses these headers too, but leaks or reads past a block.
      {"store header of another record type", [=](Builder& b) { b.put(header + 20, 3, 4); }, hide_store2, {}, {2}},
      {"store header of version 2", [=](Builder& b) { b.put(header + 16, 2, 4); }, hide_store2, {}, {2}},
      {"store header without the identifier", [=](Builder& b) { b.bytes[header] ^= 1; }, hide_store2, {}, {2}},
      {"first machine name to the block's end", [=](Builder& b) { b.put(first_name, room - 2, 2); }, {}, {}, {}},
      {"first machine name past the block's end", [=](Builder& b) { b.put(first_name, room - 1, 2); }, hide_store2,
       {}, {2}},
      {"second machine name past the block's end", [=](Builder& b) { b.put(first_name + 6, 0xfff0, 2); },
       hide_store2, {}, {2}},
  };
}

// Each walk of a bitmap of alternating bits costs 65024 runs of the 2^21
// allowed: 32 walks fit, and the stores after them are hidden.
GuardCase bitmap_runs_case() {
  GuardCase c{"bitmaps with more runs than any volume",
              [](Builder& b) {
                b.block_header(Builder::block(7), 6, 0);
                std::fill(b.bytes.begin() + Builder::block(7) + kShadowBlockHeaderSize,
                          b.bytes.begin() + Builder::block(8), 0x55);
                for (int k = 0; k < 40; ++k) add_bitmap_entry(b, 4 + k, static_cast<uint8_t>(0x40 + k), 7);
              },
              {}, {}, {}};
  for (int k = 32; k < 40; ++k) {
    c.cut_fields.push_back(entry_offset(4 + k));
    c.refused_store_tags.push_back(static_cast<uint8_t>(0x40 + k));
  }
  return c;
}

TEST(ShadowGuard, CutsEveryDamagedChainAndHidesUnusableStores) {
  std::vector<GuardCase> cases = guard_cases();
  cases.push_back(bitmap_runs_case());
  auto guids = [](const std::vector<uint8_t>& tags) {
    std::vector<Guid> out;
    for (uint8_t tag : tags) out.push_back(Builder::guid(tag));
    return out;
  };
  for (const GuardCase& c : cases) {
    SCOPED_TRACE(c.name);
    Builder b;
    c.damage(b);
    MemorySource volume(b.bytes);
    const ShadowGuardPlan plan = plan_shadow_guard(volume);
    EXPECT_EQ(plan.cut_fields, c.cut_fields);
    EXPECT_EQ(plan.cut_stores, guids(c.cut_store_tags));
    EXPECT_EQ(plan.refused_stores, guids(c.refused_store_tags));
    EXPECT_EQ(plan.catalog_cut, c.catalog == CatalogEnd::cut);
    EXPECT_EQ(plan.catalog_refused, c.catalog == CatalogEnd::refused);
  }
  // Volumes without the header, or shorter than it, need no guard.
  Builder b;
  b.bytes[kShadowVolumeHeaderOffset] ^= 1;
  MemorySource volume(b.bytes);
  EXPECT_TRUE(plan_shadow_guard(volume).cut_fields.empty());
  MemorySource tiny(std::span<const uint8_t>(b.bytes).first(kShadowVolumeHeaderOffset + 64));
  EXPECT_TRUE(plan_shadow_guard(tiny).cut_fields.empty());
}

TEST(ShadowGuard, GuardedReadsZeroOnlyTheCutFields) {
  const std::vector<uint8_t> ones(64, 0xff);
  MemorySource volume(ones);
  GuardedShadowVolume guarded(volume, {40, 8});
  auto read = [&](uint64_t offset, size_t length) {
    std::vector<uint8_t> out(length, 0x11);
    out.resize(static_cast<size_t>(std::max<int64_t>(0, guarded.read_at(offset, out))));
    return out;
  };
  auto expect = [](std::initializer_list<std::pair<size_t, uint8_t>> runs) {
    std::vector<uint8_t> out;
    for (const auto& [count, value] : runs) out.insert(out.end(), count, value);
    return out;
  };
  EXPECT_EQ(read(0, 64), expect({{8, 0xff}, {8, 0}, {24, 0xff}, {8, 0}, {16, 0xff}}));
  EXPECT_EQ(read(10, 10), expect({{6, 0}, {4, 0xff}}));     // starts inside a field
  EXPECT_EQ(read(4, 8), expect({{4, 0xff}, {4, 0}}));       // ends inside one
  EXPECT_EQ(read(41, 3), expect({{3, 0}}));                 // wholly inside one
  EXPECT_EQ(read(16, 24), expect({{24, 0xff}}));            // between them
  EXPECT_EQ(read(60, 16), expect({{4, 0xff}}));             // cut by the end
  EXPECT_EQ(std::make_pair(read(64, 8).size(), guarded.size()), std::make_pair(size_t{0}, uint64_t{64}));
}

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
  const std::vector<uint64_t> own_saved[] = {{Builder::block(24)}, {Builder::block(24), Builder::block(25)}};
  for (uint32_t number : {1u, 2u}) {
    const int store = static_cast<int>(number - 1);
    ShadowStatus status;
    std::unique_ptr<ShadowStoreSource> view = shadows.open_store(number, status);
    ASSERT_TRUE(view) << shadow_error_text(status);
    expect_view(*view, store);
    EXPECT_EQ(std::make_tuple(view->info().number, view->sector_size()), std::make_tuple(number, volume.sector_size()));
    // Reads across a saved block's edges, and at the end.
    std::vector<uint8_t> piece(100);
    ASSERT_EQ(view->read_at(Builder::block(25) - 50, piece), 100);
    EXPECT_EQ(std::make_pair(piece[49], piece[50]),
              std::make_pair(Builder::expected_fill(store, 24), Builder::expected_fill(store, 25)));
    EXPECT_EQ(std::make_pair(view->read_at(view->size() - 10, piece), view->read_at(view->size(), piece)),
              std::make_pair(int64_t{10}, int64_t{0}));
    // The blocks the store itself saved, as many as asked for.
    EXPECT_EQ(std::make_pair(view->saved_block_offsets(10), view->saved_block_offsets(1).size()),
              std::make_pair(own_saved[store], size_t{1}));
  }
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
  EXPECT_EQ(std::make_tuple(opened.error, refused.stores().size()),
            std::make_tuple(ShadowError::unreadable, size_t{0}));
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
