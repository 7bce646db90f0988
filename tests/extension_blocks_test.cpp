#include "shellitems/extension_blocks.h"

#include <gtest/gtest.h>

#include "shell_test_support.h"
#include "shellitems/item_decode.h"

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
    EXPECT_EQ(length, block.size());
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
  EXPECT_EQ(length, two.size() - 2);
  EXPECT_EQ(both.name, "first");
  EXPECT_EQ(both.mft_entry, 0x10u);  // the first reference wins the merge
  EXPECT_EQ(both.names, (std::vector<std::string>{"second"}));
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
  EXPECT_EQ(item.children[0].name, "C:");
  EXPECT_EQ(item.children[0].item_position, 1012u);
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

}  // namespace
}  // namespace lnk
