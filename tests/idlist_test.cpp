#include "shellitems/idlist.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/text.h"
#include "shell_test_support.h"
#include "shellitems/guid_names.h"
#include "shellitems/item_decode.h"
#include "shellitems/render_idlist.h"

namespace lnk {
namespace {

using testing::Bytes;
using testing::volume_item;

const char* kMyComputer = "20d04fe0-3aea-1069-a2d8-08002b30309d";

std::vector<ShellItem> walk(std::vector<uint8_t>& bytes, uint64_t position = 0) {
  std::vector<ShellItem> items;
  DecodeContext context;
  context.position = position;
  useropts options;
  walk_idlist(items, bytes.data(), static_cast<uint32_t>(bytes.size()), context, options);
  EXPECT_EQ(context.depth, 0u);
  return items;
}

ShellItem decode_one(std::vector<uint8_t> bytes, bool* kept = nullptr) {
  ShellItem item;
  DecodeContext context;
  useropts options;
  uint32_t result = decode_shell_item(item, bytes, false, false, 0, context, options);
  if (kept) *kept = result != 0;
  return item;
}

bool contains(const std::vector<std::string>& list, const std::string& text) {
  return std::find(list.begin(), list.end(), text) != list.end();
}

TEST(IdlistWalk, ItemOfSizeFourOrLessEndsTheList) {
  for (uint16_t terminator : {1, 2, 3, 4}) {
    Bytes b;
    b.append(volume_item(25).data).u16(terminator).append(volume_item(25).data).u16(0);
    auto items = walk(b.data);
    ASSERT_EQ(items.size(), 1u) << "terminator " << terminator;
    EXPECT_EQ(items[0].name, "C:");
  }
}

TEST(IdlistWalk, ZeroPaddingBetweenItemsIsSkipped) {
  Bytes b;
  b.append(volume_item(25).data).u16(0).u16(0).append(volume_item(25).data).u16(0);
  auto items = walk(b.data, 100);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].item_position, 100u);
  EXPECT_EQ(items[1].item_position, 100u + 25 + 4);
}

TEST(IdlistWalk, PaddingMarkerIsSteppedOverAsFourBytes) {
  Bytes b;
  b.u16(0xF1F1).u16(0x1234).append(volume_item(25).data).u16(0);
  auto items = walk(b.data, 78);
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].class_type, 0x2F);
  EXPECT_EQ(items[0].item_position, 82u);
}

TEST(IdlistWalk, ShortRootFolderIsRepairedAndTheWalkGoesOnTwentyBytesLater) {
  Bytes b;
  b.u16(14).u8(0x1F).u8(0x50).guid(kMyComputer);  // GUID runs past the declared size
  b.append(volume_item(25).data).u16(0);
  auto items = walk(b.data);
  ASSERT_EQ(items.size(), 2u);
  ASSERT_EQ(items[0].guid_names.size(), 1u);
  EXPECT_EQ(items[0].guid_names[0], "{CLSID_My Computer}");
  EXPECT_FALSE(items[0].unknown);
  EXPECT_EQ(items[1].name, "C:");
  EXPECT_EQ(b.data[0], 20) << "the size field is rewritten in the caller's buffer";
}

TEST(IdlistWalk, ShortRootFolderWithUnknownGuidIsNotRepaired) {
  Bytes b;
  b.u16(14).u8(0x1F).u8(0x50).guid("11111111-2222-3333-4444-555555555555");
  b.append(volume_item(25).data).u16(0);
  walk(b.data);
  EXPECT_EQ(b.data[0], 14);
}

TEST(IdlistWalk, VolumeItemsOfTwentyFiveAndFortyOneBytes) {
  ShellItem plain = decode_one(volume_item(25).data);
  EXPECT_EQ(plain.name, "C:");
  EXPECT_TRUE(plain.guids.empty());
  EXPECT_FALSE(plain.unknown);

  ShellItem with_guid = decode_one(volume_item(41, kMyComputer).data);
  EXPECT_EQ(with_guid.name, "C:");
  ASSERT_EQ(with_guid.guids.size(), 1u);
  EXPECT_EQ(guid_text(with_guid.guids[0]), kMyComputer);
}

TEST(IdlistItems, DelegateItemWithCfsfIsDecodedByTheFallbackScanner) {
  auto bytes = testing::load_hex_fixture("delegate_cfsf_item.hex");
  ASSERT_EQ(bytes.size(), 0x82u);
  bool kept = false;
  ShellItem item = decode_one(bytes, &kept);
  EXPECT_TRUE(kept);
  EXPECT_EQ(item.class_type, 0x74);
  EXPECT_FALSE(item.unknown);
  EXPECT_TRUE(item.flags & kFlagCfsf);
  EXPECT_EQ(item.short_name, "AppData");
  EXPECT_EQ(item.name, "AppData");  // long name of the version 9 block
  EXPECT_TRUE(item.is_folder);
  EXPECT_EQ(item.mft_entry, 0x149e3u);
  EXPECT_EQ(item.mft_seq, 1);
}

TEST(IdlistItems, FileEntryWithVersionNineBlock) {
  auto bytes = testing::load_hex_fixture("file_entry_v9_item.hex");
  ASSERT_EQ(bytes.size(), 0x50u);
  ShellItem item = decode_one(bytes);
  EXPECT_FALSE(item.unknown);
  EXPECT_EQ(item.short_name, "Local");
  EXPECT_EQ(item.name, "Local");
  EXPECT_TRUE(item.is_folder);
  EXPECT_EQ(item.file_size, 0u);
  EXPECT_EQ(item.mft_entry, 84469u);
  EXPECT_EQ(item.mft_seq, 1);
}

TEST(IdlistItems, EveryTruncationOfARealItemIsSafe) {
  auto bytes = testing::load_hex_fixture("delegate_cfsf_item.hex");
  for (size_t len = 0; len <= bytes.size(); ++len) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + len);
    auto items = walk(cut);
    EXPECT_LE(items.size(), 1u);
  }
}

TEST(IdlistItems, ClassWithoutDecoderGoesToTheFallbacks) {
  Bytes b;
  b.u16(24).u8(0x43).zeros(21);
  bool kept = false;
  ShellItem item = decode_one(b.data, &kept);
  EXPECT_TRUE(kept);
  EXPECT_TRUE(item.unknown);
  EXPECT_EQ(item.class_type, 0x43);

  Bytes comma;
  comma.u16(0).u8(0x2C).zeros(37).utf16("notes.txt");
  comma.patch16(0, static_cast<uint16_t>(comma.size()));
  ShellItem named = decode_one(comma.data);
  EXPECT_FALSE(named.unknown);
  EXPECT_EQ(named.name, "notes.txt");
}

TEST(IdlistItems, FileEntryWithoutAttributesOrNameUsesTheLongLayoutOrFails) {
  Bytes b;
  b.u16(0).u8(0x32).u8(0).u32(0).u32(0).u16(0).u8(0);  // 15 bytes, empty name
  b.zeros(36 - b.size()).utf16("second").zeros(84 - 36 - 14).u32(3);
  b.zeros(92 - b.size()).utf16("first");
  b.patch16(0, static_cast<uint16_t>(b.size()));
  ShellItem item = decode_one(b.data);
  EXPECT_TRUE(contains(item.names, "first"));
  EXPECT_TRUE(contains(item.names, "second"));

  Bytes short_one;
  short_one.u16(20).u8(0x32).zeros(17);
  ShellItem failed = decode_one(short_one.data);
  EXPECT_TRUE(failed.unknown);
  EXPECT_TRUE(failed.names.empty());
}

TEST(IdlistItems, NetworkShareYieldsLastPartThenWholeText) {
  Bytes b;
  b.u16(0).u8(0x42).u8(0).u8(0).ansi("\\\\server\\share").ansi("Comment");
  b.patch16(0, static_cast<uint16_t>(b.size()));
  ShellItem item = decode_one(b.data);
  ASSERT_EQ(item.names.size(), 3u);
  EXPECT_EQ(item.names[0], "share");
  EXPECT_EQ(item.names[1], "\\\\server\\share");
  EXPECT_EQ(item.names[2], "Comment");
}

// An unknown item whose extension block points back at the item's own start:
// the embedded-item search would decode the item inside itself for ever.
TEST(IdlistItems, SelfNestingItemIsCutOffAndTheListStillDecodes) {
  Bytes self;
  self.u16(40).u8(0x43).zeros(13);  // 16 bytes, no other structure
  self.u16(24).u16(0).u16(0x0004).u16(0xBEEF).zeros(14).u16(16);
  ASSERT_EQ(self.size(), 40u);
  Bytes list;
  list.append(self.data).append(volume_item(25).data).u16(0);
  auto items = walk(list.data);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_TRUE(items[0].unknown);
  EXPECT_EQ(items[1].name, "C:");
}

TEST(IdlistItems, NestedRootListsStopAtTheDepthBound) {
  // Each 0x1E item holds an IDList whose only item is the next 0x1E item.
  const int levels = 100;
  std::vector<uint8_t> inner = volume_item(25).data;
  inner.push_back(0);
  inner.push_back(0);
  for (int i = 0; i < levels; ++i) {
    Bytes wrapper;
    wrapper.u16(0).u8(0x1E).u8(0).guid(kMyComputer).append(inner);
    wrapper.patch16(0, static_cast<uint16_t>(wrapper.size()));
    inner = wrapper.data;
    inner.push_back(0);
    inner.push_back(0);
  }
  auto items = walk(inner);
  ASSERT_EQ(items.size(), 1u);
  size_t depth = 0;
  const ShellItem* at = &items[0];
  while (!at->children.empty()) {
    at = &at->children[0];
    ++depth;
  }
  EXPECT_GT(depth, 2u);
  EXPECT_LT(depth, static_cast<size_t>(levels));
}

TEST(IdlistItems, ReusedContextGetsAFreshWorkBudget) {
  Bytes b;
  b.append(volume_item(25).data).u16(0);
  DecodeContext context;
  context.work = kMaxDecodeWork + 1;  // spent on an earlier record
  useropts options;
  std::vector<ShellItem> items;
  ASSERT_TRUE(walk_idlist(items, b.data.data(), static_cast<uint32_t>(b.size()), context, options));
  EXPECT_EQ(items[0].name, "C:");
}

TEST(GuidNames, LookupRules) {
  bool found = false;
  EXPECT_EQ(lookup_guid_name(Guid{}, found), "{CLSID_<none specified>}");
  EXPECT_TRUE(found);

  Guid g{};
  ASSERT_TRUE(parse_guid("12345678-0000-0000-0000-0000000ff1ce", g));
  EXPECT_EQ(lookup_guid_name(g, found), "{CLSID_Microsoft Office}");
  ASSERT_TRUE(parse_guid("90140000-0011-0000-0000-0000000ff1ce", g));
  EXPECT_EQ(lookup_guid_name(g, found), "{CLSID_Microsoft Office}");
  ASSERT_TRUE(parse_guid("00000000-6d54-11d4-bee3-00c04f990354", g));
  EXPECT_EQ(lookup_guid_name(g, found), "{CLSID_Visio}");
  ASSERT_TRUE(parse_guid(kMyComputer, g));
  EXPECT_EQ(lookup_guid_name(g, found), "{CLSID_My Computer}");
  ASSERT_TRUE(parse_guid("fdd39ad0-238f-46af-adb4-6c85480369c7", g));
  EXPECT_EQ(lookup_guid_name(g, found), "{CLSID_Documents}");

  ASSERT_TRUE(parse_guid("11111111-2222-3333-4444-555555555555", g));
  EXPECT_EQ(lookup_guid_name(g, found), "11111111-2222-3333-4444-555555555555");
  EXPECT_FALSE(found);
  EXPECT_EQ(guid_name_text(g), "");
  EXPECT_GT(kGuidNameRowCount, 300u);
}

TEST(GuidNames, AddGuidSkipsZeroAndNamesOnlyKnownOnes) {
  ShellItem item;
  Guid unknown{};
  add_guid(item, unknown);
  EXPECT_TRUE(item.guids.empty());
  ASSERT_TRUE(parse_guid("11111111-2222-3333-4444-555555555555", unknown));
  add_guid(item, unknown);
  EXPECT_EQ(item.guids.size(), 1u);
  EXPECT_TRUE(item.guid_names.empty());
}

TEST(MergeItem, FillsEmptySlotsAndAppendsTheRest) {
  ShellItem target;
  target.name = "long name";
  target.mft_entry = 5;
  ShellItem source;
  source.name = "other";
  source.short_name = "SHORT";
  source.mft_entry = 9;
  source.mft_seq = 2;
  source.create_time = 123;
  source.flags = 0x40;
  source.names = {"", "kept"};
  merge_item(target, source);
  EXPECT_EQ(target.name, "long name");
  EXPECT_EQ(target.short_name, "SHORT");
  EXPECT_EQ(target.names, (std::vector<std::string>{"kept", "other"}));
  EXPECT_EQ(target.mft_entry, 5u);
  EXPECT_EQ(target.mft_seq, 0);
  EXPECT_EQ(target.create_time, 123u);
  EXPECT_EQ(target.flags, 0x40u);
}

// The IDList of a real shortcut, as the shortcut parser hands it over.
TEST(IdlistCorpus, NeroInfoToolRendersLongNames) {
  std::vector<uint8_t> file;
  if (!testing::read_file(testing::corpus_path("lnk/plaso/NeroInfoTool.lnk"), file))
    GTEST_SKIP() << "corpus not present";
  ByteReader reader(file);
  uint32_t list_size = reader.u16(76);
  ASSERT_TRUE(reader.has(78, list_size - 2));
  std::vector<uint8_t> list(file.begin() + 78, file.begin() + 78 + list_size - 2);
  auto items = walk(list, 78);
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[2].mft_entry, 274u);
  EXPECT_EQ(items[6].mft_entry, 81349u);
  EXPECT_EQ(items[6].mft_seq, 1);

  std::string path, notes_text;
  std::vector<std::string> notes;
  uint64_t modified = 0, accessed = 0, created = 0;
  useropts options;
  ASSERT_TRUE(render_idlist(path, notes_text, notes, modified, accessed, created, options, items));
  const std::string tail = "\\C:\\Program Files (x86)\\Nero\\Nero 9\\Nero InfoTool\\InfoTool.exe";
  ASSERT_GE(path.size(), tail.size());
  EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  EXPECT_EQ(path, "{CLSID_My Computer}" + tail);
  EXPECT_TRUE(contains(notes, "PROGRA~2"));
  EXPECT_NE(notes_text.find("PROGRA~2"), std::string::npos);

  // Every cut of the list decodes without reading past it.
  for (size_t len = 0; len <= list.size(); ++len) {
    std::vector<uint8_t> cut(list.begin(), list.begin() + len);
    EXPECT_LE(walk(cut).size(), 7u);
  }
}

}  // namespace
}  // namespace lnk
