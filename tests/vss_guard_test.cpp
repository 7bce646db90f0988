// The guard that cuts damaged chains of shadow-copy blocks before libvshadow
// follows them: one change to an intact two-store volume per case.
#include "storage/vss_guard.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "storage/memory_source.h"
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

std::vector<GuardCase> chain_cases() {
  const uint64_t list1 = next_field(Builder::kBlockListBlock[0]);
  const uint64_t list2_entry = entry_offset(3) + kCatalogBlockListField;
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
  };
}

std::vector<GuardCase> catalog_and_header_cases() {
  const uint64_t header = Builder::block(Builder::kStoreHeaderBlock[1]);
  const uint64_t first_name = header + kShadowBlockHeaderSize + 64;
  const uint64_t room = kShadowBlockSize - kShadowBlockHeaderSize - 64 - 2;  // for the first name alone
  const std::vector<uint64_t> hide_store2 = {entry_offset(3)};
  return {
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
  std::vector<GuardCase> cases = chain_cases();
  for (GuardCase& c : catalog_and_header_cases()) cases.push_back(c);
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

}  // namespace
}  // namespace lnk
