#include "lnk/extra_blocks.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "lnk/darwin_block.h"
#include "lnk/parse_lnk.h"
#include "platform/text.h"
#include "report/property_text.h"
#include "shell_test_support.h"

namespace lnk {
namespace {

using testing::Bytes;

LnkRecord parse_corpus(const std::string& relative) {
  std::vector<uint8_t> file = testing::read_corpus(relative);
  LnkRecord record;
  if (!file.empty()) parse_lnk_record(record, file, 0);
  return record;
}

Bytes block(uint32_t size, uint32_t signature) { return Bytes().u32(size).u32(signature).zeros(size - 8); }

Bytes utf16(const std::string& text) { return Bytes().utf16(text); }
Bytes ansi(const std::string& text) { return Bytes().ansi(text); }
Bytes guid(const std::string& text) { return Bytes().guid(text); }

bool decode(LnkRecord& record, const Bytes& b, uint32_t position = 0x100) {
  return decode_extra_block(record, ByteReader(b.data), position);
}

// Fields lnkinfo does not show.
TEST(ExtraBlocksCorpus, OffsetsPropertiesDarwinAndTruncatedBlocks) {
  const std::vector<uint8_t> file = testing::read_corpus("lnk/lnkparse3/extra_data.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  LnkRecord record = parse_corpus("lnk/lnkparse3/extra_data.lnk");
  // The droid time is 2020-04-25 04:00:12.6393638 UTC.
  EXPECT_EQ(std::make_tuple(record.droid_mac, record.droid_time, record.block_offsets[kBlockEnvironment],
                            record.block_offsets[kBlockTracker], record.block_offsets[kBlockPropertyStore]),
            std::make_tuple("b8:ae:ed:8e:1a:7a", 132322608126393638ULL, 0x259u, 0x56du, 0x5cdu));

  // Two LPWSTR, two FILETIME and two more LPWSTR are listed; the CLSID value
  // of the last storage is not.
  std::vector<std::string> names, values;
  list_properties(record.property_store, names, values, useropts{});
  ASSERT_EQ(values.size(), 6u);
  std::map<std::string, std::string> value_of;
  for (size_t i = 0; i < names.size(); ++i) value_of[names[i]] = values[i];
  EXPECT_EQ(value_of["dabd30ed-0043-4789-a7f8-d013a4736622/System.ItemFolderPathDisplayNarrow"],
            "Roaming (C:\\Usu\xc3\xa1rios\\Jonathan\\AppData)");
  EXPECT_EQ(value_of["b725f130-47ef-101a-a5f1-02608c9eebac/System.ItemNameDisplay"], ".minecraft");
  EXPECT_EQ(value_of["b725f130-47ef-101a-a5f1-02608c9eebac/System.ItemTypeText"], "Pasta de arquivos");
  EXPECT_EQ(value_of["28636aa6-953d-11d2-b5d6-00c04fd918d0/System.ParsingPath"],
            "C:\\Users\\Jonathan\\AppData\\Roaming\\.minecraft");

  LnkRecord full = parse_corpus("lnk/lnkparse3/darwin_block_modified.lnk");
  EXPECT_EQ(std::tie(full.darwin_product, full.darwin_feature, full.darwin_component, full.icon_env_target),
            std::make_tuple("91120000-0030-0000-0000-0000000ff1ce", "EXCELFiles", "0638c49d-bb8b-4cd1-b191-052e8f325736",
                            "%SystemRoot%\\Installer\\{DB8757A3-1B62-4136-8D95-D2CB9F00E36C}\\test_icon.ico"));

  // A 21-character descriptor is too short to hold a product code.
  LnkRecord short_one = parse_corpus("lnk/lnkparse3/darwin_block.lnk");
  EXPECT_NE(short_one.block_offsets[kBlockDarwin], 0u);
  EXPECT_EQ(short_one.darwin_product + short_one.darwin_feature, "");

  // Every truncation of every block is refused.
  size_t blocks = 0;
  for (uint32_t position : record.block_offsets) {
    if (position == 0) continue;
    ++blocks;
    const uint32_t size = ByteReader(file).u32(position);
    for (uint32_t len = 0; len < size; ++len) {
      LnkRecord cut;
      EXPECT_FALSE(decode_extra_block(cut, ByteReader(file).sub(position, len), position))
          << position << " " << len;
    }
  }
  EXPECT_EQ(blocks, 3u);
}

TEST(ExtraBlocks, RecognitionNeedsExactSizesAndTheShellLinkSignature) {
  LnkRecord record;
  EXPECT_FALSE(decode(record, block(0x315, 0xA0000001).put(268, utf16("C:\\x"))));
  EXPECT_EQ(record.env_target, "");
  // Unknown signatures, a size one short, and blocks longer than the bytes left.
  const std::tuple<uint32_t, uint32_t, size_t> refused[] = {
      {16, 0xA000000A, 16}, {16, 0xB0000005, 16}, {27, 0xA000000B, 27}, {12, 0xA0000004, 10}, {13, 0xA000000C, 12},
      {203, 0xA0000002, 203}};
  for (const auto& [size, signature, present] : refused) {
    Bytes b = block(size, signature);
    b.data.resize(present);
    EXPECT_FALSE(decode(record, b)) << std::hex << signature;
  }

  EXPECT_TRUE(decode(record, block(12, 0xA0000004).patch16(8, 65001), 0x200) &&
              decode(record, block(204, 0xA0000002), 0x300) && decode(record, block(16, 0xA0000005).patch16(8, 0x24)) &&
              decode(record, block(12, 0xA000000C), 0x77));
  EXPECT_EQ(std::make_tuple(record.code_page, record.block_offsets[kBlockConsoleFe], record.block_offsets[kBlockConsole],
                            record.special_folder_id, record.block_offsets[kBlockVistaIdList]),
            std::make_tuple(65001u, 0x200u, 0x300u, 0x24u, 0x77u));
  EXPECT_TRUE(record.vista_shell_items.empty());
}

// An empty Unicode field falls back to the ANSI one, and the text is marked
// as ANSI bytes where it was read from them.
TEST(ExtraBlocks, EnvironmentIconShimBareStorageAndKnownFolder) {
  LnkRecord record;
  Bytes env = block(788, 0xA0000001).put(8, ansi("%TEMP%\\ansi"));
  EXPECT_TRUE(decode(record, env));
  EXPECT_EQ(std::make_tuple(record.env_target, record.ansi_texts & kAnsiEnvTarget),
            std::make_tuple("%TEMP%\\ansi", uint32_t{kAnsiEnvTarget}));
  LnkRecord wide;
  EXPECT_TRUE(decode(wide, env.put(268, utf16("%TEMP%\\wide"))));
  EXPECT_EQ(std::make_tuple(wide.env_target, wide.ansi_texts & kAnsiEnvTarget), std::make_tuple("%TEMP%\\wide", 0u));

  Bytes icon = block(788, 0xA0000007).put(8, ansi("ansi.ico"));
  EXPECT_TRUE(decode(record, icon));
  EXPECT_EQ(record.icon_env_target, "");  // no fall-back for the icon block
  icon.data[269] = 0x41;                  // not UTF-16: the ANSI field holds the path
  EXPECT_TRUE(decode(record, icon) && record.icon_env_target == "ansi.ico");

  LnkRecord odd;
  Bytes shim = block(136, 0xA0000008).put(8, utf16("WinXPSp3"));
  EXPECT_TRUE(decode(record, shim));
  shim.data[9] = 1;
  EXPECT_TRUE(decode(odd, shim));
  EXPECT_EQ(record.shim_layer + "|" + odd.shim_layer, "WinXPSp3|");

  // "1SPS" in place of a signature: a storage that is named by its FormatID.
  Bytes bare = block(24, 0x53505331).put(8, guid("12345678-9abc-def0-1234-56789abcdef0"));
  LnkRecord named;
  EXPECT_TRUE(decode(record, bare, 0x44));
  EXPECT_TRUE(decode(named, bare.put(8, guid("20d04fe0-3aea-1069-a2d8-08002b30309d")), 0x44));
  EXPECT_EQ(std::make_tuple(record.storage_format_name, record.block_offsets[kBlockBarePropertyStorage],
                            named.storage_format_name),
            std::make_tuple("12345678-9abc-def0-1234-56789abcdef0", 0x44u, "{CLSID_My Computer}"));

  EXPECT_TRUE(decode(record, block(28, 0xA000000B).put(8, guid("00112233-4455-6677-8899-aabbccddeeff"))));
  EXPECT_EQ(record.known_folder_id, "00112233-4455-6677-8899-aabbccddeeff");
}

TEST(ExtraBlocks, TrackerMachineGuidsAndMac) {
  Bytes tracker = block(96, 0xA0000003).put(16, ansi("0123456789abcdefOVERRUN"));
  tracker.put(32, guid("f12d3570-03c2-43e3-86fc-c75d680751b6")).put(48, guid("0b0a7ed3-6b3c-4b5e-9f5c-00155d01020a"));
  LnkRecord record;
  EXPECT_TRUE(decode(record, tracker));
  // The machine name takes at most 16 bytes; a version 4 GUID has no time.
  EXPECT_EQ(std::make_tuple(record.machine_id, record.droid_object_id, record.droid_mac, record.droid_time),
            std::make_tuple("0123456789abcdef", "0b0a7ed3-6b3c-4b5e-9f5c-00155d01020a", "00:15:5d:01:02:0a", 0u));
  // An all-zero birth object GUID leaves its fields empty, the Droid ones stay.
  EXPECT_EQ(record.birth_droid_object_id + record.birth_droid_mac + record.birth_droid_volume_id +
                std::to_string(record.birth_droid_time), "0");
}

TEST(ExtraBlocks, DarwinDescriptorRules) {
  const std::string product = "w_1^VX!!!!!!!!!MKKSk";
  const std::string forty = product + "FeatureNameOf19Char>";
  ASSERT_EQ(forty.size(), 40u);
  struct Case { std::string descriptor; bool unicode; const char* feature; const char* component; };
  const Case cases[] = {
      {forty, false, "FeatureNameOf19Char", ""},  // exactly 40: no component
      // Without ">" the feature ends at "<"; the Unicode field wins when long enough.
      {product + "Feat<tW{~$4Q]c@II=l2xaTO5Z", true, "Feat", "0638c49d-bb8b-4cd1-b191-052e8f325736"},
      {product + "NoSignAtAll", true, "", ""},
      // ANSI bytes are copied as they are; UTF-16 text becomes UTF-8.
      {product + "Caf\xE9>", false, "Caf\xE9", ""},
      {product + "Caf\xE9>", true, "Caf\xC3\xA9", ""},
  };
  for (const Case& c : cases) {
    LnkRecord record;
    EXPECT_TRUE(decode(record, block(788, 0xA0000006).put(c.unicode ? 268 : 8, c.unicode ? utf16(c.descriptor)
                                                                                          : ansi(c.descriptor))));
    EXPECT_EQ(std::tie(record.darwin_product, record.darwin_feature, record.darwin_component),
              std::make_tuple("91120000-0030-0000-0000-0000000ff1ce", c.feature, c.component))
        << c.descriptor;
  }

  auto packed = [](const std::string& s) { return packed_guid_text(std::vector<uint16_t>(s.begin(), s.end()), 0); };
  // "!" is digit 0 and "$" digit 1: the first word is 1 + 85. A word cut by
  // "|" (outside the alphabet) is dropped with the rest.
  EXPECT_EQ(packed("$$!!!!!!!!!!!!!!!!!!"), "00000056-0000-0000-0000-000000000000");
  EXPECT_EQ(packed("$$!!!!!|!!!!!!!!!!!!"), "00000056-0000-0000-0000-000000000000");
  EXPECT_EQ(packed("\"!!!!"), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(packed("~~~~~").substr(0, 8), "08780ec4");  // 85^5 - 1 wraps to 32 bits
}

// Console settings, kept for the JSON layout.
TEST(DecoderFields, ConsoleBlockByPositionAndOfARealShortcut) {
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
  EXPECT_EQ(std::vector<int64_t>({c.fill_attributes, c.popup_fill_attributes, c.screen_buffer_size_x, c.window_size_y,
                                  c.window_origin_x, c.window_origin_y, c.font_size, c.font_weight, c.cursor_size,
                                  c.history_no_dup, c.color_table[0], c.color_table[15]}),
            std::vector<int64_t>({8, 10, 12, 18, -10, 22, 32, 40, 108, 136, 0x10000, 0x1000F}));
  EXPECT_EQ(c.face_name, "Consolas");

  // The real console shortcut, as another parser reads it.
  const std::vector<uint8_t> file = testing::read_corpus("lnk/lnkparse3/console_properties_block.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  r = LnkRecord{};
  ASSERT_TRUE(parse_lnk_record(r, file, 0));
  EXPECT_EQ(c.face_name, "Lucida Console");
  EXPECT_EQ(std::vector<int64_t>({c.screen_buffer_size_y, c.number_of_history_buffers, c.color_table[1],
                                  c.color_table[15], r.special_folder_id, r.special_folder_offset,
                                  r.known_folder_offset}),
            std::vector<int64_t>({3000, 4, 0x800000, 0xFFFFFF, 41, 213, 213}));
}

}  // namespace
}  // namespace lnk
