// Fields the decoders keep for the JSON layout: console settings, folder
// offsets, which texts are ANSI bytes, LinkInfo numbers and the headers of
// shell-item extension blocks.
#include <gtest/gtest.h>

#include "lnk/extra_blocks.h"
#include "lnk/parse_lnk.h"
#include "shell_test_support.h"
#include "tests/lnk_builder.h"

namespace lnk {
namespace {

using testing::Bytes;

bool decode(LnkRecord& record, const Bytes& b) { return decode_extra_block(record, ByteReader(b.data), 0x100); }

// Settings of the real console shortcut, as another parser reads them.
TEST(DecoderFields, ConsoleBlockOfARealShortcut) {
  const std::vector<uint8_t> file = testing::read_corpus("lnk/lnkparse3/console_properties_block.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  LnkRecord r;
  ASSERT_TRUE(parse_lnk_record(r, file, 0));
  const ConsoleSettings& c = r.console;
  EXPECT_EQ(c.fill_attributes, 86);
  EXPECT_EQ(c.popup_fill_attributes, 243);
  EXPECT_EQ(c.screen_buffer_size_x, 120);
  EXPECT_EQ(c.screen_buffer_size_y, 3000);
  EXPECT_EQ(c.window_size_y, 50);
  EXPECT_EQ(c.font_family, 54u);
  EXPECT_EQ(c.font_weight, 400u);
  EXPECT_EQ(c.face_name, "Lucida Console");
  EXPECT_EQ(c.cursor_size, 25u);
  EXPECT_EQ(c.quick_edit, 1u);
  EXPECT_EQ(c.insert_mode, 1u);
  EXPECT_EQ(c.history_buffer_size, 50u);
  EXPECT_EQ(c.number_of_history_buffers, 4u);
  EXPECT_EQ(c.color_table[1], 0x800000u);
  EXPECT_EQ(c.color_table[15], 0xFFFFFFu);
  EXPECT_EQ(r.special_folder_id, 41u);
  EXPECT_EQ(r.special_folder_offset, 213u);
  EXPECT_EQ(r.known_folder_offset, 213u);
}

TEST(DecoderFields, ConsoleBlockFieldsByPosition) {
  // Every field holds its own offset, so a field read from the wrong place shows.
  Bytes b = Bytes().u32(204).u32(0xA0000002);
  for (uint16_t off = 8; off < 24; off += 2) b.u16(off == 20 ? 0xFFF6 : off);  // origin x = -10
  b.zeros(8).u32(32).u32(36).u32(40).utf16("Consolas").zeros(64 - 18);
  for (uint32_t off = 108; off < 140; off += 4) b.u32(off);
  for (uint32_t i = 0; i < 16; ++i) b.u32(0x10000 + i);
  ASSERT_EQ(b.size(), 204u);
  LnkRecord r;
  ASSERT_TRUE(decode(r, b));
  const ConsoleSettings& c = r.console;
  EXPECT_EQ(r.block_offsets[kBlockConsole], 0x100u);
  EXPECT_EQ(c.fill_attributes, 8);
  EXPECT_EQ(c.popup_fill_attributes, 10);
  EXPECT_EQ(c.screen_buffer_size_x, 12);
  EXPECT_EQ(c.window_size_y, 18);
  EXPECT_EQ(c.window_origin_x, -10);
  EXPECT_EQ(c.window_origin_y, 22);
  EXPECT_EQ(c.font_size, 32u);
  EXPECT_EQ(c.font_weight, 40u);
  EXPECT_EQ(c.face_name, "Consolas");
  EXPECT_EQ(c.cursor_size, 108u);
  EXPECT_EQ(c.history_no_dup, 136u);
  EXPECT_EQ(c.color_table[0], 0x10000u);
  EXPECT_EQ(c.color_table[15], 0x1000Fu);
  // A block one byte short is not a console block.
  b.data.pop_back();
  b.data[0] = 203;
  LnkRecord short_record;
  decode(short_record, b);
  EXPECT_EQ(short_record.block_offsets[kBlockConsole], 0u);
}

TEST(DecoderFields, AnsiTextsAreMarkedWhereTheyWereRead) {
  // Environment block: the Unicode field wins; an empty one leaves the ANSI field.
  Bytes env = Bytes().u32(788).u32(0xA0000001).ansi("%ANSI%").zeros(260 - 7).utf16("%WIDE%");
  env.zeros(788 - env.size());
  LnkRecord wide;
  ASSERT_TRUE(decode(wide, env));
  EXPECT_EQ(wide.env_target, "%WIDE%");
  EXPECT_EQ(wide.ansi_texts & kAnsiEnvTarget, 0u);
  Bytes ansi_only = Bytes().u32(788).u32(0xA0000001).ansi("%ANSI%");
  ansi_only.zeros(788 - ansi_only.size());
  LnkRecord narrow;
  ASSERT_TRUE(decode(narrow, ansi_only));
  EXPECT_EQ(narrow.env_target, "%ANSI%");
  EXPECT_NE(narrow.ansi_texts & kAnsiEnvTarget, 0u);

  // StringData: a UTF-16 string is not marked, an ANSI one is.
  test::LnkBuilder unicode;
  unicode.strings[test::kArguments] = "/a";
  LnkRecord r;
  ASSERT_TRUE(parse_lnk_record(r, unicode.build(), 0));
  EXPECT_EQ(r.ansi_texts & kAnsiArguments, 0u);
  test::LnkBuilder narrow_strings;
  narrow_strings.unicode_strings = false;
  narrow_strings.strings[test::kArguments] = "/a";
  narrow_strings.extra_blocks.push_back(std::vector<uint8_t>(4, 0));
  LnkRecord n;
  ASSERT_TRUE(parse_lnk_record(n, narrow_strings.build(), 0));
  EXPECT_EQ(n.command_line_arguments, "/a");
  EXPECT_EQ(n.ansi_texts & (kAnsiArguments | kAnsiNameString), kAnsiArguments);
}

TEST(DecoderFields, LinkInfoNumbersAndExtensionBlockHeaders) {
  LnkRecord r;
  ASSERT_TRUE(parse_lnk_record(r, test::sample_shortcut(), 0));
  EXPECT_EQ(r.link_info_flags, 1u);
  EXPECT_EQ(r.drive_type_code, 3u);
  EXPECT_EQ(r.drive_serial_number, 0x5C1E2F3Au);
  EXPECT_EQ(r.ansi_texts & (kAnsiVolumeLabel | kAnsiLocalBasePath | kAnsiMachineId),
            kAnsiVolumeLabel | kAnsiLocalBasePath | kAnsiMachineId);
  ASSERT_EQ(r.shell_items.size(), 4u);
  EXPECT_TRUE(r.shell_items[0].extension_blocks.empty());
  // Each file entry carries one version 8 block, positioned in the source
  // like its item: after the item's fixed part and its 8.3 name.
  const ShellItem& folder = r.shell_items[2];
  ASSERT_EQ(folder.extension_blocks.size(), 1u);
  EXPECT_EQ(folder.extension_blocks[0], (ExtensionBlockInfo{folder.item_position + 24, 62, 8, 0xBEEF0004}));
  const ShellItem& file = r.shell_items[3];
  ASSERT_EQ(file.extension_blocks.size(), 1u);
  EXPECT_EQ(file.extension_blocks[0].position, file.item_position + 28);
  // Counted from where the record sits in its source.
  LnkRecord moved;
  ASSERT_TRUE(parse_lnk_record(moved, test::sample_shortcut(), 0x1000));
  EXPECT_EQ(moved.shell_items[3].extension_blocks[0].position, file.extension_blocks[0].position + 0x1000);
}

}  // namespace
}  // namespace lnk
