// Fields the decoders keep for the JSON layout: console settings, folder
// offsets, LinkInfo numbers and the headers of shell-item extension blocks.
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
  // Fields by position are checked on a built block below.
  const ConsoleSettings& c = r.console;
  EXPECT_EQ(c.face_name, "Lucida Console");
  EXPECT_EQ(std::vector<int64_t>({c.screen_buffer_size_y, c.number_of_history_buffers, c.color_table[1],
                                  c.color_table[15], r.special_folder_id, r.special_folder_offset,
                                  r.known_folder_offset}),
            std::vector<int64_t>({3000, 4, 0x800000, 0xFFFFFF, 41, 213, 213}));
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
  EXPECT_EQ(std::vector<int64_t>({c.fill_attributes, c.popup_fill_attributes, c.screen_buffer_size_x, c.window_size_y,
                                  c.window_origin_x, c.window_origin_y, c.font_size, c.font_weight, c.cursor_size,
                                  c.history_no_dup, c.color_table[0], c.color_table[15]}),
            std::vector<int64_t>({8, 10, 12, 18, -10, 22, 32, 40, 108, 136, 0x10000, 0x1000F}));
  EXPECT_EQ(c.face_name, "Consolas");
  // A block one byte short is not a console block.
  b.data.pop_back();
  b.data[0] = 203;
  LnkRecord short_record;
  decode(short_record, b);
  EXPECT_EQ(short_record.block_offsets[kBlockConsole], 0u);
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
