#include "shellitems/extension_blocks.h"

#include <gtest/gtest.h>

#include <tuple>

#include "shell_test_support.h"
#include "shellitems/item_decode.h"
#include "shellitems/item_text.h"

namespace lnk {
namespace {

using testing::Bytes;

Bytes header(uint16_t size, uint16_t version, uint16_t number) {
  return Bytes().u16(size).u16(version).u16(number).u16(0xBEEF);
}

// A file entry extension block: the long name at +46 (version 7 and later)
// or +20 (version 3), then the names the offsets at +18 and +36 point to.
Bytes file_entry_block(uint16_t version, uint64_t reference, const std::string& long_name,
                       const std::string& localized, bool ansi_localized = false) {
  Bytes b = header(0, version, 0x0004);
  b.u16(0).u16(0);  // creation DOS date and time: absent
  b.u16(0).u16(0);  // access
  uint16_t name_at = version >= 7 ? 46 : 20;
  b.u16(name_at).u16(0);  // long name offset, localized name offset (patched)
  if (version >= 7) {
    b.u64(reference).zeros(8).u16(0).zeros(8);
  }
  b.zeros(name_at - b.size()).utf16(long_name);
  if (!localized.empty()) {
    b.patch16(18, static_cast<uint16_t>(b.size()));
    ansi_localized ? b.ansi(localized) : b.utf16(localized);
  }
  return b.u16(0).sized();  // the u16 is the block's offset in its item
}

// The walked item; length gets the bytes the walk took.
ShellItem walked(const Bytes& bytes, uint64_t position = 0, uint32_t* length = nullptr) {
  ShellItem item;
  DecodeContext context;
  context.position = position;
  uint32_t taken = walk_extension_blocks(item, ByteReader(bytes.data), context);
  EXPECT_EQ(context.position, position + taken);
  if (length) *length = taken;
  return item;
}

TEST(ExtensionBlocks, FileEntryVersionsReferencesAndNames) {
  struct Case {
    uint16_t version;
    uint64_t reference;
    const char* long_name;
    const char* localized;
    bool ansi;
    uint64_t mft_entry;
    uint16_t mft_seq;
  };
  const Case cases[] = {
      {9, 0x0003000000001234ull, "Program Files", "@shell32.dll,-21781", false, 0x1234, 3},
      {7, 0x0001000000000112ull, "Users", "", false, 0x112, 1},
      {3, 0, "Documents and Settings", "Dokumente", true, 0, 0},  // ANSI localized name
      {3, 0, "Documents and Settings", "Dokumente", false, 0, 0},
  };
  for (const Case& c : cases) {
    Bytes block = file_entry_block(c.version, c.reference, c.long_name, c.localized, c.ansi);
    uint32_t length = 0;
    ShellItem item = walked(block, 0, &length);
    EXPECT_EQ(std::make_tuple(length, item.name, item.mft_entry, item.mft_seq),
              std::make_tuple(uint32_t(block.size()), c.long_name, c.mft_entry, c.mft_seq))
        << c.version;
    // Version 3 keeps the localized name apart; later ones list it.
    const std::string localized = c.localized;
    EXPECT_EQ(item.extra_name_a, c.version == 3 ? localized : "") << c.version;
    EXPECT_EQ(item.names, c.version == 3 || localized.empty() ? std::vector<std::string>{}
                                                             : std::vector<std::string>{localized});
  }
}

TEST(ExtensionBlocks, WalkStopsAtOversizedOrForeignBlocks) {
  uint32_t length = 1;
  walked(header(0x4000, 9, 4).zeros(0x4000 - 8), 0, &length);
  EXPECT_EQ(length, 0u);
  length = 1;
  walked(file_entry_block(9, 0x10000000000ABCull, "x", "").patch16(6, 0xBEEE), 0, &length);
  EXPECT_EQ(length, 0u);

  // Two good blocks in a row are both walked; a zero size after them ends it.
  Bytes two = file_entry_block(9, 0x0001000000000010ull, "first", "");
  two.append(file_entry_block(9, 0x0002000000000020ull, "second", "").data).u16(0);
  ShellItem both = walked(two, 50, &length);
  // The first reference wins the merge.
  EXPECT_EQ(std::make_tuple(length, both.name, both.mft_entry, both.names),
            std::make_tuple(uint32_t(two.size() - 2), "first", 0x10u, std::vector<std::string>{"second"}));
}

TEST(ExtensionBlocks, RecycleBinBlockYieldsOneChildWithThreeNames) {
  Bytes b = header(0, 0, 0x0008).zeros(16).utf16("C:\\Users\\e\\Desktop\\report.docx");
  b.zeros(24 + 260 - b.size()).utf16("report.docx");
  b.zeros(544 - b.size()).utf16("$RABC123.docx");
  b.zeros(704 - b.size()).sized();
  uint32_t length = 0;
  ShellItem item = walked(b, 0, &length);
  EXPECT_EQ(length, 704u);
  ASSERT_EQ(item.children.size(), 1u);
  EXPECT_EQ(item.children[0].names,
            (std::vector<std::string>{"C:\\Users\\e\\Desktop\\report.docx [orig path/file]",
                                      "report.docx [orig file]", "$RABC123.docx [recycle path/file]"}));
}

TEST(ExtensionBlocks, GuidBlocksAndGenericTexts) {
  ShellItem item = walked(header(40, 0, 0).guid("20d04fe0-3aea-1069-a2d8-08002b30309d").zeros(16));
  ASSERT_EQ(item.guids.size(), 1u);  // the zero GUID is not kept
  EXPECT_EQ(item.guid_names, (std::vector<std::string>{"{CLSID_My Computer}"}));

  ShellItem texts =
      walked(header(0, 2, 0x0026).u16(1).u16(2).utf16("short").utf16("a longer text").zeros(16).sized());
  EXPECT_EQ(texts.names, (std::vector<std::string>{"a longer text"}));
}

TEST(ExtensionBlocks, NestedIdlistBlockFillsChildren) {
  Bytes b = header(0, 0, 0x000E).u32(0).append(testing::volume_item(25).data).u16(0).sized();
  ShellItem item = walked(b, 1000);
  ASSERT_EQ(item.children.size(), 1u);
  EXPECT_EQ(std::make_tuple(item.children[0].name, item.children[0].item_position), std::make_tuple("C:", 1012u));
}

TEST(ExtensionBlocks, GuessedTimesBecomeNotes) {
  // Created and accessed 2020-01-01, modified absent.
  const uint64_t new_year = 132223104000000000ull;  // 2020-01-01
  ShellItem item = walked(header(36, 1, 0x0025).u32(0).u64(new_year).u64(0).u64(new_year));
  // The times stay instants until a writer formats them.
  ASSERT_EQ(item.extra_list.size(), 2u);
  EXPECT_EQ(item.extra_list[0], (ItemNote{"Created [guess]: ", new_year, true}));
  EXPECT_EQ(item.extra_list[1], (ItemNote{"Accessed [guess]: ", new_year, true}));
  std::vector<ShellItem> list{item};
  EXPECT_EQ(testing::render(list).notes,
            (std::vector<std::string>{"Created [guess]: 01/01/2020 00:00:00.000 [UTC]",
                                      "Accessed [guess]: 01/01/2020 00:00:00.000 [UTC]"}));
}

// Version 1 of 0xBEEF0026, as a Windows 11 jump list holds it: attributes,
// then creation, last access and last write times.
TEST(ExtensionBlocks, AttributeDataBlockTimes) {
  const uint64_t created = 0x01dbc8d5ad679118ull;   // 2025-05-19 15:50:00.0396560
  const uint64_t accessed = 0x01dbf06726b16fe4ull;  // 2025-07-09 00:19:35.9022052
  const uint64_t modified = 0x01dbf06726b630dcull;  // 2025-07-09 00:19:35.9333596
  Bytes block = header(38, 1, 0x0026).u32(0x11).u64(created).u64(accessed).u64(modified).u16(0x14);
  ShellItem item = walked(block);
  EXPECT_TRUE(item.names.empty()) << "the times are not read as text";
  EXPECT_EQ(std::make_tuple(item.create_time, item.access_time, item.modify_time),
            std::make_tuple(created, accessed, modified));
  std::vector<ShellItem> list{item};
  EXPECT_EQ(testing::render(list).notes,
            (std::vector<std::string>{"Created: 05/19/2025 15:50:00.039 [UTC]",
                                      "Modified: 07/09/2025 00:19:35.933 [UTC]",
                                      "Accessed: 07/09/2025 00:19:35.902 [UTC]"}));
  // A block cut before its last time decodes nothing.
  block.data.resize(30);
  block.patch16(0, 30);
  EXPECT_EQ(walked(block).create_time, 0u);
}

// 0xBEEF0027 carries a serialized property store at +8; its values become
// the item's property notes.
TEST(ExtensionBlocks, PropertyStoreBlockIsListed) {
  const std::vector<uint8_t> file = testing::read_corpus("lnk/pylnk/uwp_calc.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  const ByteReader bytes(file);
  uint64_t at = 0;
  while (at + 8 < file.size() && !(bytes.u32(at + 4) == 0xBEEF0027 && bytes.u16(at + 2) == 0)) ++at;
  ASSERT_LT(at + 8, file.size());
  ShellItem item = walked(Bytes().append(std::vector<uint8_t>(file.begin() + at, file.begin() + at + bytes.u16(at))));
  EXPECT_FALSE(item.property_map_second.empty());
  std::vector<ShellItem> list{item};
  const auto notes = testing::render(list).notes;
  ASSERT_FALSE(notes.empty());
  for (const std::string& note : notes) EXPECT_TRUE(is_readable_text(note)) << note;
}

TEST(ReadableText, WhatCountsAsAName) {
  const std::pair<std::string, bool> cases[] = {
      {"Documents", true},
      {"C:\\Users\\bob\\Desktop", true},
      {"\xe6\xb5\x8b\xe8\xaf\x95 2.txt", true},     // CJK name
      {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", true},  // Cyrillic
      {"", false},
      {"\x02", false},                                // a flag byte
      {"ab\x14" "cd", false},
      {"\xc2\x93\x07\\", false},                      // Latin-1 control from an ANSI byte
      {"name\xef\xbf\xbd", false},                    // U+FFFD
      {"\xef\x8e\xaf\xe1\xab\x86", false},            // private use: a FILETIME read as text
      {"\xe4\x84\x80\xe4\x88\x80\xe4\x8c\x80", false},  // "ABC" with its bytes swapped
      {"\xff\xfe", false},                            // not UTF-8
      {"\xe4\xbd", false},                            // cut sequence
  };
  for (const auto& [text, readable] : cases) EXPECT_EQ(is_readable_text(text), readable) << text;
}

}  // namespace
}  // namespace lnk
