#include "lnk/extra_blocks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "lnk/darwin_block.h"
#include "lnk/tracker_block.h"
#include "platform/text.h"

namespace lnk {
namespace {

std::vector<uint8_t> read_corpus(const std::string& relative) {
  std::ifstream in(std::string(ROOK_SOURCE_DIR) + "/../shared/corpus/" + relative, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Positions of the ExtraData blocks, found the way the shortcut parser walks
// the sections before them.
std::vector<uint32_t> extra_block_positions(const std::vector<uint8_t>& file) {
  ByteReader r(file);
  uint32_t flags = r.u32(20);
  uint64_t off = 76;
  if (flags & 0x1) off += 2 + r.u16(off);
  if (flags & 0x2) off += r.u32(off);
  for (uint32_t bit : {0x4u, 0x8u, 0x10u, 0x20u, 0x40u}) {
    if (flags & bit) off += 2 + uint64_t{r.u16(off)} * ((flags & 0x80) ? 2 : 1);
  }
  std::vector<uint32_t> positions;
  while (r.has(off, 8) && r.u32(off) >= 8 && r.u32(off) <= r.size() - off) {
    positions.push_back(static_cast<uint32_t>(off));
    off += r.u32(off);
  }
  return positions;
}

LnkRecord decode_all(const std::vector<uint8_t>& file) {
  LnkRecord record;
  useropts options;
  ByteReader r(file);
  for (uint32_t position : extra_block_positions(file)) {
    decode_extra_block(record, r.tail(position), position, options);
  }
  return record;
}

// A block of the given size with its BlockSize and BlockSignature filled.
std::vector<uint8_t> make_block(uint32_t size, uint32_t signature) {
  std::vector<uint8_t> b(size, 0);
  for (int i = 0; i < 4; ++i) {
    b[i] = static_cast<uint8_t>(size >> (8 * i));
    b[4 + i] = static_cast<uint8_t>(signature >> (8 * i));
  }
  return b;
}

void put_guid(std::vector<uint8_t>& b, size_t off, const char* text) {
  Guid g{};
  ASSERT_TRUE(parse_guid(text, g));
  std::copy(g.begin(), g.end(), b.begin() + static_cast<long>(off));
}

void put_ascii(std::vector<uint8_t>& b, size_t off, const std::string& text) {
  std::copy(text.begin(), text.end(), b.begin() + static_cast<long>(off));
}

void put_utf16(std::vector<uint8_t>& b, size_t off, const std::string& ascii) {
  for (size_t i = 0; i < ascii.size(); ++i) b[off + 2 * i] = static_cast<uint8_t>(ascii[i]);
}

bool decode(LnkRecord& record, const std::vector<uint8_t>& block, uint32_t position = 0x100) {
  useropts options;
  return decode_extra_block(record, ByteReader(block), position, options);
}

TEST(ExtraBlocksCorpus, TrackerEnvironmentAndPropertyStoreOfExtraData) {
  std::vector<uint8_t> file = read_corpus("lnk/lnkparse3/extra_data.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  LnkRecord record = decode_all(file);

  EXPECT_EQ(record.machine_id, "desktop-eie2fiq");
  EXPECT_EQ(record.droid_object_id, "43633d26-86a9-11ea-9c2d-b8aeed8e1a7a");
  EXPECT_EQ(record.birth_droid_object_id, "43633d26-86a9-11ea-9c2d-b8aeed8e1a7a");
  EXPECT_EQ(record.droid_volume_id, "f12d3570-03c2-43e3-86fc-c75d680751b6");
  Guid raw{};
  ASSERT_TRUE(parse_guid("43633d26-86a9-11ea-9c2d-b8aeed8e1a7a", raw));
  EXPECT_EQ(record.droid_object_id_raw, raw);
  EXPECT_EQ(record.droid_mac, "b8:ae:ed:8e:1a:7a");
  EXPECT_EQ(record.birth_droid_mac, "b8:ae:ed:8e:1a:7a");
  // 2020-04-25 04:00:12.6393638 UTC
  EXPECT_EQ(record.droid_time, 132322608126393638ULL);
  EXPECT_EQ(record.env_target, "C:\\Users\\%USERNAME%\\AppData\\Roaming\\.minecraft");

  EXPECT_EQ(record.block_offsets[kBlockEnvironment], 0x259u);
  EXPECT_EQ(record.block_offsets[kBlockTracker], 0x56du);
  EXPECT_EQ(record.block_offsets[kBlockPropertyStore], 0x5cdu);

  ASSERT_EQ(record.property_store_names.size(), record.property_store_values.size());
  auto value_of = [&](const std::string& name) -> std::string {
    for (size_t i = 0; i < record.property_store_names.size(); ++i) {
      if (record.property_store_names[i] == name) return record.property_store_values[i];
    }
    return "<absent>";
  };
  EXPECT_EQ(value_of("dabd30ed-0043-4789-a7f8-d013a4736622/System.ItemFolderPathDisplayNarrow"),
            "Roaming (C:\\Usu\xc3\xa1rios\\Jonathan\\AppData)");
  EXPECT_EQ(value_of("b725f130-47ef-101a-a5f1-02608c9eebac/System.ItemNameDisplay"), ".minecraft");
  EXPECT_EQ(value_of("b725f130-47ef-101a-a5f1-02608c9eebac/System.ItemTypeText"),
            "Pasta de arquivos");
  EXPECT_EQ(value_of("28636aa6-953d-11d2-b5d6-00c04fd918d0/System.ParsingPath"),
            "C:\\Users\\Jonathan\\AppData\\Roaming\\.minecraft");
  // Two LPWSTR, two FILETIME, one more LPWSTR and one LPWSTR are listed; the
  // CLSID value of the last storage is not.
  EXPECT_EQ(record.property_store_names.size(), 6u);
}

TEST(ExtraBlocksCorpus, DarwinDescriptorsAndIconEnvironment) {
  std::vector<uint8_t> modified = read_corpus("lnk/lnkparse3/darwin_block_modified.lnk");
  std::vector<uint8_t> plain = read_corpus("lnk/lnkparse3/darwin_block.lnk");
  if (modified.empty() || plain.empty()) GTEST_SKIP() << "corpus absent";

  LnkRecord full = decode_all(modified);
  EXPECT_EQ(full.darwin_product, "91120000-0030-0000-0000-0000000ff1ce");
  EXPECT_EQ(full.darwin_feature, "EXCELFiles");
  EXPECT_EQ(full.darwin_component, "0638c49d-bb8b-4cd1-b191-052e8f325736");
  EXPECT_EQ(full.icon_env_target,
            "%SystemRoot%\\Installer\\{DB8757A3-1B62-4136-8D95-D2CB9F00E36C}\\test_icon.ico");

  // A 21-character descriptor is too short to hold a product code.
  LnkRecord short_one = decode_all(plain);
  EXPECT_NE(short_one.block_offsets[kBlockDarwin], 0u);
  EXPECT_EQ(short_one.darwin_product, "");
  EXPECT_EQ(short_one.darwin_feature, "");
}

TEST(ExtraBlocksCorpus, EveryTruncationOfEveryBlockIsSafe) {
  std::vector<uint8_t> file = read_corpus("lnk/lnkparse3/extra_data.lnk");
  if (file.empty()) GTEST_SKIP() << "corpus absent";
  useropts options;
  for (uint32_t position : extra_block_positions(file)) {
    for (size_t len = 0; len <= file.size() - position; ++len) {
      LnkRecord record;
      ByteReader block = ByteReader(file).sub(position, len);
      bool taken = decode_extra_block(record, block, position, options);
      if (len < ByteReader(file).u16(position)) {
        EXPECT_FALSE(taken) << position << " " << len;
      }
    }
  }
}

TEST(ExtraBlocks, RecognitionNeedsExactSizesAndTheShellLinkSignature) {
  LnkRecord record;
  std::vector<uint8_t> env = make_block(0x315, 0xA0000001);
  put_utf16(env, 268, "C:\\x");
  EXPECT_FALSE(decode(record, env));
  EXPECT_EQ(record.env_target, "");

  EXPECT_FALSE(decode(record, make_block(16, 0xA000000A)));
  EXPECT_FALSE(decode(record, make_block(16, 0xB0000005)));

  // The rest of the record is shorter than BlockSize.
  std::vector<uint8_t> cut = make_block(12, 0xA0000004);
  cut.resize(10);
  EXPECT_FALSE(decode(record, cut));

  std::vector<uint8_t> console_fe = make_block(12, 0xA0000004);
  console_fe[8] = 0xE9;
  console_fe[9] = 0xFD;
  EXPECT_TRUE(decode(record, console_fe, 0x200));
  EXPECT_EQ(record.code_page, 65001u);
  EXPECT_EQ(record.block_offsets[kBlockConsoleFe], 0x200u);

  EXPECT_TRUE(decode(record, make_block(204, 0xA0000002), 0x300));
  EXPECT_EQ(record.block_offsets[kBlockConsole], 0x300u);

  std::vector<uint8_t> special = make_block(16, 0xA0000005);
  special[8] = 0x24;
  EXPECT_TRUE(decode(record, special));
  EXPECT_EQ(record.special_folder_id, 0x24u);
}

TEST(ExtraBlocks, EnvironmentAndIconTargets) {
  LnkRecord record;
  std::vector<uint8_t> env = make_block(788, 0xA0000001);
  put_ascii(env, 8, "%TEMP%\\ansi");
  EXPECT_TRUE(decode(record, env));
  EXPECT_EQ(record.env_target, "%TEMP%\\ansi");  // empty Unicode field falls back
  put_utf16(env, 268, "%TEMP%\\wide");
  EXPECT_TRUE(decode(record, env));
  EXPECT_EQ(record.env_target, "%TEMP%\\wide");

  std::vector<uint8_t> icon = make_block(788, 0xA0000007);
  put_ascii(icon, 8, "ansi.ico");
  EXPECT_TRUE(decode(record, icon));
  EXPECT_EQ(record.icon_env_target, "");  // no fall-back for the icon block
  icon[269] = 0x41;                          // not UTF-16: the ANSI field holds the path
  EXPECT_TRUE(decode(record, icon));
  EXPECT_EQ(record.icon_env_target, "ansi.ico");
}

TEST(ExtraBlocks, TrackerGuidsMacsAndTimes) {
  std::vector<uint8_t> tracker = make_block(96, 0xA0000003);
  put_ascii(tracker, 16, "0123456789abcdefOVERRUN");
  put_guid(tracker, 32, "f12d3570-03c2-43e3-86fc-c75d680751b6");
  put_guid(tracker, 48, "0b0a7ed3-6b3c-4b5e-9f5c-00155d01020a");  // version 4
  tracker.resize(96);
  LnkRecord record;
  EXPECT_TRUE(decode(record, tracker));
  EXPECT_EQ(record.machine_id, "0123456789abcdef");  // at most 16 bytes
  EXPECT_EQ(record.droid_object_id, "0b0a7ed3-6b3c-4b5e-9f5c-00155d01020a");
  EXPECT_EQ(record.droid_mac, "00:15:5d:01:02:0a");
  EXPECT_EQ(record.droid_time, 0u);
  // An all-zero birth object GUID leaves its fields empty, the Droid ones stay.
  EXPECT_EQ(record.birth_droid_object_id, "");
  EXPECT_EQ(record.birth_droid_mac, "");
  EXPECT_EQ(record.birth_droid_volume_id, "");
  EXPECT_EQ(record.birth_droid_time, 0u);

  Guid g{};
  // Version 1, 60-bit time just below the distance from 1582 to 1601.
  ASSERT_TRUE(parse_guid("3e42bfff-6bf3-1014-8000-000000000001", g));
  EXPECT_EQ(uuid_filetime(g), 0u);
  ASSERT_TRUE(parse_guid("3e42c000-6bf3-1014-8000-000000000001", g));
  EXPECT_EQ(uuid_filetime(g), 0u);  // exactly 1601-01-01 is FILETIME 0
  ASSERT_TRUE(parse_guid("3e42c001-6bf3-1014-8000-000000000001", g));
  EXPECT_EQ(uuid_filetime(g), 1u);
}

std::vector<uint8_t> darwin_block(const std::string& descriptor, bool unicode) {
  std::vector<uint8_t> b = make_block(788, 0xA0000006);
  if (unicode) {
    put_utf16(b, 268, descriptor);
  } else {
    put_ascii(b, 8, descriptor);
  }
  return b;
}

TEST(ExtraBlocks, DarwinDescriptorRules) {
  const std::string product = "w_1^VX!!!!!!!!!MKKSk";
  LnkRecord record;
  // Exactly 40 characters: product and feature but no component.
  std::string forty = product + "FeatureNameOf19Char>";
  ASSERT_EQ(forty.size(), 40u);
  EXPECT_TRUE(decode(record, darwin_block(forty, false)));
  EXPECT_EQ(record.darwin_product, "91120000-0030-0000-0000-0000000ff1ce");
  EXPECT_EQ(record.darwin_feature, "FeatureNameOf19Char");
  EXPECT_EQ(record.darwin_component, "");

  // Without ">" the feature ends at "<"; the Unicode field wins when long enough.
  LnkRecord lt;
  EXPECT_TRUE(decode(lt, darwin_block(product + "Feat<tW{~$4Q]c@II=l2xaTO5Z", true)));
  EXPECT_EQ(lt.darwin_feature, "Feat");
  EXPECT_EQ(lt.darwin_component, "0638c49d-bb8b-4cd1-b191-052e8f325736");

  // Neither sign: product only.
  LnkRecord none;
  EXPECT_TRUE(decode(none, darwin_block(product + "NoSignAtAll", true)));
  EXPECT_EQ(none.darwin_product, "91120000-0030-0000-0000-0000000ff1ce");
  EXPECT_EQ(none.darwin_feature, "");
  EXPECT_EQ(none.darwin_component, "");
}

TEST(ExtraBlocks, PackedGuidStopsAtACharacterOutsideTheAlphabet) {
  auto units = [](const std::string& s) { return std::vector<uint16_t>(s.begin(), s.end()); };
  // "!" is digit 0 and "$" digit 1: the first word is 1 + 85.
  EXPECT_EQ(packed_guid_text(units("$$!!!!!!!!!!!!!!!!!!"), 0), "00000056-0000-0000-0000-000000000000");
  // The second word is cut by "|": only the first word is kept.
  EXPECT_EQ(packed_guid_text(units("$$!!!!!|!!!!!!!!!!!!"), 0), "00000056-0000-0000-0000-000000000000");
  EXPECT_EQ(packed_guid_text(units("\"!!!!"), 0), "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(packed_guid_text(units("~~~~~"), 0).substr(0, 8), "08780ec4");  // 85^5 - 1 wraps to 32 bits
}

TEST(ExtraBlocks, ShimBarePropertyStorageAndKnownFolder) {
  LnkRecord record;
  std::vector<uint8_t> shim = make_block(136, 0xA0000008);
  put_utf16(shim, 8, "WinXPSp3");
  EXPECT_TRUE(decode(record, shim));
  EXPECT_EQ(record.shim_layer, "WinXPSp3");
  shim[9] = 1;
  LnkRecord odd;
  EXPECT_TRUE(decode(odd, shim));
  EXPECT_EQ(odd.shim_layer, "");

  // "1SPS" in place of a signature: a storage that is named by its FormatID.
  std::vector<uint8_t> bare = make_block(24, 0x53505331);
  put_guid(bare, 8, "12345678-9abc-def0-1234-56789abcdef0");
  EXPECT_TRUE(decode(record, bare, 0x44));
  EXPECT_EQ(record.storage_format_name, "12345678-9abc-def0-1234-56789abcdef0");
  EXPECT_EQ(record.block_offsets[kBlockBarePropertyStorage], 0x44u);
  put_guid(bare, 8, "20d04fe0-3aea-1069-a2d8-08002b30309d");
  LnkRecord named;
  EXPECT_TRUE(decode(named, bare, 0x44));
  EXPECT_EQ(named.storage_format_name, "{CLSID_My Computer}");

  std::vector<uint8_t> known = make_block(28, 0xA000000B);
  put_guid(known, 8, "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_TRUE(decode(record, known));
  EXPECT_EQ(record.known_folder_id, "00112233-4455-6677-8899-aabbccddeeff");
  EXPECT_FALSE(decode(record, make_block(27, 0xA000000B)));
}

TEST(ExtraBlocks, VistaIdListPositionIsKeptWhateverTheItems) {
  LnkRecord record;
  std::vector<uint8_t> vista = make_block(12, 0xA000000C);
  EXPECT_TRUE(decode(record, vista, 0x77));
  EXPECT_EQ(record.block_offsets[kBlockVistaIdList], 0x77u);
  EXPECT_TRUE(record.vista_shell_items.empty());
  std::vector<uint8_t> too_long = make_block(13, 0xA000000C);
  too_long.resize(12);
  EXPECT_FALSE(decode(record, too_long));
}

}  // namespace
}  // namespace lnk
