#include "shellitems/extension_blocks.h"

#include <gtest/gtest.h>

#include "shell_test_support.h"
#include "shellitems/item_decode.h"

namespace lnk {
namespace {

using testing::Bytes;

// A file entry extension block: the long name at +46 (version 7 and later)
// or +20 (version 3), then the names the offsets at +18 and +36 point to.
Bytes file_entry_block(uint16_t version, uint64_t reference, const std::string& long_name,
                       const std::string& localized, bool ansi_localized = false) {
  Bytes b;
  b.u16(0).u16(version).u16(0x0004).u16(0xBEEF);
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

uint32_t walk(ShellItem& item, const std::vector<uint8_t>& bytes, uint64_t position = 0) {
  DecodeContext context;
  context.position = position;
  useropts options;
  uint32_t walked = walk_extension_blocks(item, ByteReader(bytes), context, options);
  EXPECT_EQ(context.position, position + walked);
  return walked;
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
    ShellItem item;
    EXPECT_EQ(walk(item, block.data), block.size());
    EXPECT_EQ(item.name, c.long_name);
    EXPECT_EQ(item.mft_entry, c.mft_entry) << c.version;
    EXPECT_EQ(item.mft_seq, c.mft_seq) << c.version;
    // Version 3 keeps the localized name apart; later ones list it.
    const std::string localized = c.localized;
    EXPECT_EQ(item.extra_name_a, c.version == 3 ? localized : "") << c.version;
    EXPECT_EQ(item.names, c.version == 3 || localized.empty() ? std::vector<std::string>{}
                                                             : std::vector<std::string>{localized});
  }
}

TEST(ExtensionBlocks, WalkStopsAtOversizedOrForeignBlocks) {
  Bytes big;
  big.u16(0x4000).u16(9).u16(4).u16(0xBEEF).zeros(0x4000 - 8);
  ShellItem item;
  EXPECT_EQ(walk(item, big.data), 0u);

  Bytes foreign = file_entry_block(9, 0x10000000000ABCull, "x", "");
  foreign.patch16(6, 0xBEEE);
  EXPECT_EQ(walk(item, foreign.data), 0u);

  // Two good blocks in a row are both walked; a zero size after them ends it.
  Bytes two = file_entry_block(9, 0x0001000000000010ull, "first", "");
  two.append(file_entry_block(9, 0x0002000000000020ull, "second", "").data).u16(0);
  ShellItem both;
  EXPECT_EQ(walk(both, two.data, 50), two.size() - 2);
  EXPECT_EQ(both.name, "first");
  EXPECT_EQ(both.mft_entry, 0x10u);  // the first reference wins the merge
  EXPECT_EQ(both.names, (std::vector<std::string>{"second"}));
}

TEST(ExtensionBlocks, RecycleBinBlockYieldsOneChildWithThreeNames) {
  Bytes b;
  b.u16(0).u16(0).u16(0x0008).u16(0xBEEF).zeros(16);
  b.utf16("C:\\Users\\e\\Desktop\\report.docx");
  b.zeros(24 + 260 - b.size()).utf16("report.docx");
  b.zeros(544 - b.size()).utf16("$RABC123.docx");
  b.zeros(704 - b.size()).sized();
  ShellItem item;
  EXPECT_EQ(walk(item, b.data), 704u);
  ASSERT_EQ(item.children.size(), 1u);
  EXPECT_EQ(item.children[0].names,
            (std::vector<std::string>{"C:\\Users\\e\\Desktop\\report.docx [orig path/file]",
                                      "report.docx [orig file]", "$RABC123.docx [recycle path/file]"}));
}

TEST(ExtensionBlocks, GuidBlocksAndGenericTexts) {
  Bytes guids;
  guids.u16(40).u16(0).u16(0x0000).u16(0xBEEF);
  guids.guid("20d04fe0-3aea-1069-a2d8-08002b30309d").guid("00000000-0000-0000-0000-000000000000");
  ShellItem item;
  walk(item, guids.data);
  ASSERT_EQ(item.guids.size(), 1u);  // the zero GUID is not kept
  EXPECT_EQ(item.guid_names, (std::vector<std::string>{"{CLSID_My Computer}"}));

  Bytes generic;
  generic.u16(0).u16(2).u16(0x0026).u16(0xBEEF).u16(1).u16(2);
  generic.utf16("short").utf16("a longer text").zeros(16).sized();
  ShellItem texts;
  walk(texts, generic.data);
  EXPECT_EQ(texts.names, (std::vector<std::string>{"a longer text"}));
}

TEST(ExtensionBlocks, NestedIdlistBlockFillsChildren) {
  Bytes b;
  b.u16(0).u16(0).u16(0x000E).u16(0xBEEF).u32(0);
  b.u16(25).u8(0x2F).ansi("D:\\").zeros(25 - 7).u16(0).sized();
  ShellItem item;
  walk(item, b.data, 1000);
  ASSERT_EQ(item.children.size(), 1u);
  EXPECT_EQ(item.children[0].name, "D:");
  EXPECT_EQ(item.children[0].item_position, 1012u);
}

TEST(ExtensionBlocks, GuessedTimesBecomeNotes) {
  Bytes b;
  b.u16(36).u16(1).u16(0x0025).u16(0xBEEF).u32(0);
  b.u64(132223104000000000ull).u64(0).u64(132223104000000000ull);  // 2020-01-01
  ShellItem item;
  walk(item, b.data);
  ASSERT_EQ(item.extra_list.size(), 2u);
  EXPECT_EQ(item.extra_list[0].rfind("Created [guess]: ", 0), 0u);
  EXPECT_EQ(item.extra_list[1].rfind("Accessed [guess]: ", 0), 0u);
}

}  // namespace
}  // namespace lnk
