// The shortcut parser: header, IDList, LinkInfo, StringData, the extra
// data walk and each extra data block; the name tables; dumps of parsed
// records; every corpus shortcut against lnkinfo, and cut short or damaged;
// ANSI texts decoded by code page: Cyrillic (1251) and Shift-JIS (932)
// shortcuts through every layout of the built program, and the decoding of
// a record's flagged fields and shell-item names in place.
#include "lnk/parse_lnk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "carve/process_file.h"
#include "carve/record_dump.h"
#include "carve/record_outlet.h"
#include "core/options.h"
#include "lnk/darwin_block.h"
#include "lnk/extra_blocks.h"
#include "lnk/names.h"
#include "report/ansi_text.h"
#include "report/property_text.h"
#include "report/record_values.h"
#include "report/record_writer.h"
#include "shellitems/item_names.h"
#include "shellitems/item_text.h"
#include "tests/delimited_lines.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using test::Bytes;
using test::contains;
using test::LnkBuilder;

bool parse(const Bytes& bytes, LnkRecord& record, uint64_t record_offset = 0) {
  return parse_lnk_record(record, bytes, record_offset);
}

LnkRecord parsed(const Bytes& bytes) {
  LnkRecord record;
  EXPECT_TRUE(parse(bytes, record));
  return record;
}

TEST(ParseHeader, LengthLimitsSignatureAndEveryField) {
  Bytes bytes = LnkBuilder{}.build();  // header and terminal block: 80 bytes
  bytes.resize(90, 0);
  LnkRecord record;
  for (size_t n : {0, 20, 75, 76, 77, 81}) EXPECT_FALSE(parse(Bytes(bytes.begin(), bytes.begin() + n), record)) << n;
  record = LnkRecord{};
  ASSERT_TRUE(parse(Bytes(bytes.begin(), bytes.begin() + 82), record));
  EXPECT_EQ(record.parsed_size, 80u);  // the terminal block counts

  LnkBuilder clsid, size;
  clsid.clsid[15] = 0x47;
  size.header_size = 0x4D;
  EXPECT_FALSE(parse(clsid.build(), record) || parse(size.build(), record));

  LnkBuilder b;
  b.file_attributes = 0x21;
  b.creation_time = 0x01d956571d2137c0;
  b.access_time = 0x01da3da637e57120;
  b.write_time = 0x01da23e9528a5300;
  b.file_size = 0xFFFFFFF0;
  b.icon_index = -3;
  b.show_command = 7;
  b.hot_key = 0x0246;
  b.link_flags = 0x00080000;
  bytes = b.build();
  bytes.resize(90, 0);
  LinkHeader h = parsed(bytes).header;
  EXPECT_EQ(h.link_clsid, b.clsid);
  EXPECT_EQ(h.icon_index, -3);
  // IsUnicode is added to the flags by the builder.
  EXPECT_EQ(std::vector<uint64_t>({h.header_size, h.link_flags, h.file_attributes, h.creation_time, h.access_time,
                                   h.write_time, h.file_size, h.show_command, h.hot_key}),
            std::vector<uint64_t>({0x4C, 0x00080080, 0x21, b.creation_time, b.access_time, b.write_time, 0xFFFFFFF0, 7,
                                   0x0246}));
}

TEST(ParseIdList, WhereParsingResumesAndOverruns) {
  LnkBuilder b;
  b.idlist_items = Bytes{0, 0, 'j', 'u', 'n', 'k', 0, 0};  // first ItemID size 0
  b.strings[test::kName] = "x";
  LnkRecord record = parsed(b.build());
  EXPECT_TRUE(record.shell_items.empty());
  EXPECT_EQ(record.string_offsets[0], 80u);

  // After IDListSize, whether or not the items decode.
  b.idlist_items = test::item_id({0x99, 1, 2, 3, 4, 5});
  b.strings[test::kName] = "after the list";
  test::Layout layout;
  record = parsed(b.build(&layout));
  EXPECT_EQ(std::make_tuple(record.string_offsets[0], record.name_string),
            std::make_tuple(layout.strings[0], "after the list"));

  // An item one byte longer than the list runs into the TerminalID: not read.
  b.idlist_items = test::item_id({0x2F, 'C', ':', '\\', 0, 0, 0, 0});
  (*b.idlist_items)[0] += 1;
  EXPECT_TRUE(parsed(b.build()).shell_items.empty());

  // An IDList overrunning the bytes shrinks from 88 bytes on; below, rejected.
  b = LnkBuilder{};
  b.idlist_items = Bytes(40, 0x11);
  b.terminal_block = false;
  Bytes full = b.build();
  for (uint32_t length : {88u, 100u}) {
    Bytes bytes(full.begin(), full.begin() + length);
    // One byte short and exactly short: both pass the first size test.
    for (uint32_t id_size : {length - 77, length - 78}) {
      test::set_u16(bytes, 76, static_cast<uint16_t>(id_size));
      record = LnkRecord{};
      ASSERT_TRUE(parse(bytes, record)) << length << " " << id_size;
      EXPECT_EQ(record.parsed_size, length) << length << " " << id_size;
    }
    test::set_u16(bytes, 76, static_cast<uint16_t>(length - 76));
    EXPECT_FALSE(parse(bytes, record)) << length;
  }
  Bytes short_bytes(full.begin(), full.begin() + 87);
  test::set_u16(short_bytes, 76, 10);
  EXPECT_FALSE(parse(short_bytes, record));
  test::set_u16(short_bytes, 76, 8);  // 78 + 8 < 87: fits, no shrink needed
  EXPECT_TRUE(parse(short_bytes, record));
}

TEST(ParseLinkInfo, VolumeNetworkSuffixOversizedAndUnterminated) {
  LnkBuilder b;
  test::LinkInfoFields info;
  info.volume = test::VolumeIdFields{3, 0x0A2B3C4D, "DATA"};
  info.local_base_path = "D:\\dir\\file.txt";
  info.common_path_suffix = "sfx";
  b.link_info = info;
  b.strings[test::kName] = "n";
  test::Layout layout;
  LnkRecord r = parsed(b.build(&layout));
  const uint64_t volume = layout.link_info + 0x1C;
  EXPECT_EQ(std::vector<uint64_t>({r.volume_id_offset, r.local_base_path_offset, r.common_path_suffix_offset,
                                   r.net_link_offset, r.string_offsets[0]}),
            std::vector<uint64_t>({volume, volume + 21, volume + 21 + 16, 0, layout.strings[0]}));
  EXPECT_EQ(r.volume_label + "|" + r.volume_serial + "|" + r.local_base_path + "|" + r.common_path_suffix,
            "DATA|0a2b-3c4d|D:\\dir\\file.txt|sfx");

  info = test::LinkInfoFields{};
  info.net = test::NetLinkFields{"\\\\server\\share", "Z:"};
  info.common_path_suffix = "docs\\a.txt";
  b.link_info = info;
  Bytes bytes = b.build(&layout);
  r = parsed(bytes);
  const size_t link = layout.link_info + 0x1C;
  EXPECT_EQ(std::make_tuple(r.net_link_offset, r.local_base_path_offset), std::make_tuple(link, 0u));
  EXPECT_EQ(r.net_name + "|" + r.device_name + "|" + r.common_path_suffix, "\\\\server\\share|Z:|docs\\a.txt");

  // A name offset at or past the link's own size is not followed.
  test::set_u32(bytes, link + 8, bytes[link]);
  r = parsed(bytes);
  EXPECT_EQ(r.net_name + "|" + r.device_name, "|Z:");

  // Oversized, flagged or too small: the LinkInfo is skipped.
  auto build = [](uint32_t size, uint32_t header_size, test::Layout& layout) {
    LnkBuilder b;
    test::LinkInfoFields info;
    info.volume = test::VolumeIdFields{3, 0x11223344, "V"};
    info.size_override = size;
    info.header_size = header_size;
    b.link_info = info;
    b.extra_blocks.push_back(Bytes(1400, 0x41));  // keeps every candidate size inside the bytes
    b.link_flags = 0x04;                          // a name string read wherever pos is left
    return b.build(&layout);
  };
  r = parsed(build(0x4FF, 0x1C, layout));
  EXPECT_EQ(std::make_tuple(r.volume_serial, r.string_offsets[0]),
            std::make_tuple("1122-3344", layout.link_info + 0x4FF));
  for (auto [size, header_size] : {std::pair{0x500u, 0x1Cu}, {0x1Bu, 0x1Cu}, {0x60u, 0x8000001Cu}}) {
    r = parsed(build(size, header_size, layout));
    EXPECT_EQ(std::make_tuple(r.volume_serial, r.string_offsets[0]), std::make_tuple("", layout.link_info)) << size;
  }

  // A text without its terminator ends at the end of the bytes.
  b = LnkBuilder{};
  b.link_info = test::LinkInfoFields{};
  b.terminal_block = false;
  bytes = b.build();
  bytes.back() = 'p';  // the suffix terminator, last byte of the LinkInfo
  bytes.insert(bytes.end(), {'q', 'r'});
  EXPECT_EQ(parsed(bytes).common_path_suffix, "pqr");
}

// Without IsUnicode a count is a count of code-page bytes: every string
// and the blocks after them are found.
TEST(ParseStringData, AnsiCountsBytesAndEncodingIsJudgedFromTheData) {
  LnkBuilder b;
  b.unicode_strings = false;
  b.strings[test::kName] = "abcd";
  b.strings[test::kRelativePath] = "rel";
  b.strings[test::kIconLocation] = "C:\\x\xe9.ico";
  b.extra_blocks.push_back(test::extra_block(0xA0000005, Bytes(8, 0)));  // special folder
  test::Layout layout;
  LnkRecord r = parsed(b.build(&layout));
  EXPECT_EQ(r.name_string + "|" + r.relative_path + "|" + r.icon_location, "abcd|rel|C:\\x\xe9.ico");
  EXPECT_EQ(r.string_offsets[1], layout.strings[0] + 2 + 4);
  EXPECT_NE(r.ansi_texts & kAnsiIconLocation, 0u);
  EXPECT_EQ(r.parsed_size, layout.end);

  // With IsUnicode set the text is still judged from the data: converted
  // shortcuts set the flag over ANSI bytes.
  b = LnkBuilder{};
  b.strings[test::kName] = "Grüße";
  b.strings[test::kRelativePath] = "\xe4\xb8\xad-";  // first unit has a non-zero high byte
  b.strings[test::kIconLocation] = "C:\\work";
  b.string_count_override[test::kIconLocation] = 3;  // shorter than the text
  r = parsed(b.build());
  // The relative path is read as two ANSI bytes, and marked so; the name is not.
  EXPECT_EQ(r.name_string + "|" + r.relative_path + "|" + r.icon_location, "Grüße|\x2d\x4e|C:\\");
  EXPECT_EQ(r.ansi_texts & (kAnsiNameString | kAnsiRelativePath), kAnsiRelativePath);

  LnkBuilder empty;
  empty.unicode_strings = false;
  empty.strings[test::kIconLocation] = std::string("\0x", 2);
  // A zero byte inside an ANSI string ends its text, as it ends a C string.
  empty.strings[test::kArguments] = std::string("ab\0cd", 5);
  const LnkRecord r2 = parsed(empty.build());
  EXPECT_EQ(r2.icon_location + "|" + r2.command_line_arguments, "|ab");
}

TEST(ParseStringData, ReadAsWindowsReadsThem) {
  LnkBuilder b;
  b.strings[test::kName] = "name";
  b.strings[test::kRelativePath] = "relative";
  b.strings[test::kIconLocation] = "icon";
  b.terminal_block = false;
  test::Layout layout;
  Bytes bytes = b.build(&layout);
  // A string that ends where the bytes end is whole; one cut short stops
  // the rest and is kept as the overrun's text.
  bytes.resize(layout.strings[test::kIconLocation]);
  LnkRecord r = parsed(bytes);
  EXPECT_EQ(std::make_tuple(r.relative_path, r.parsed_size, r.extra_data_damage.size()),
            std::make_tuple("relative", layout.strings[4], 1u));
  bytes.pop_back();
  r = parsed(bytes);
  EXPECT_EQ(std::make_tuple(r.name_string, r.relative_path, r.string_offsets[4], r.parsed_size),
            std::make_tuple("name", "", 0u, layout.strings[1]));
  ASSERT_EQ(r.string_overruns.size(), 1u);
  EXPECT_EQ(std::make_tuple(r.string_overruns[0].claimed_text, r.string_overruns[0].past_end),
            std::make_tuple("relativ", true));

  // A description claiming 1,024 characters: Windows reads 260, takes the
  // 260th as the end, and the arguments it hid follow them.
  b = LnkBuilder{};
  std::string shown(259, 'd');
  b.strings[test::kName] = shown + "X" + std::string(1024 - 260, ' ');
  b.strings[test::kArguments] = "/c calc.exe";
  bytes = b.build(&layout);
  Bytes crafted(bytes.begin(), bytes.begin() + layout.strings[0] + 2 + 520);
  crafted.insert(crafted.end(), bytes.begin() + layout.strings[3], bytes.end());
  r = parsed(crafted);
  EXPECT_EQ(std::make_tuple(r.name_string, r.command_line_arguments), std::make_tuple(shown, "/c calc.exe"));
  ASSERT_EQ(r.string_overruns.size(), 1u);
  EXPECT_EQ(r.string_overruns[0].claimed, 1024);
  EXPECT_EQ(r.string_overruns[0].claimed_text, shown + "X\x0b/c calc.exe");
  // The arguments alone are read to their count; ANSI strings are limited in bytes.
  b = LnkBuilder{};
  b.unicode_strings = false;
  b.strings[test::kArguments] = std::string(300, 'a');
  b.strings[test::kIconLocation] = std::string(300, 'i');
  r = parsed(b.build());
  EXPECT_EQ(std::make_tuple(r.command_line_arguments.size(), r.icon_location.size(), r.string_overruns.size()),
            std::make_tuple(300u, 259u, 1u));

  // Control characters stay in every text.
  b = LnkBuilder{};
  test::LinkInfoFields info;
  info.volume = test::VolumeIdFields{3, 1, "A\nB"};
  info.local_base_path = "C:\\a\nb";
  b.link_info = info;
  b.strings[test::kName] = "line\nbreak";
  b.strings[test::kArguments] = "\n\r\x1b/c calc";
  r = parsed(b.build());
  EXPECT_EQ(r.volume_label + r.local_base_path + r.name_string + r.command_line_arguments,
            "A\nBC:\\a\nbline\nbreak\n\r\x1b/c calc");
}

TEST(ParseExtraData, WalkStopsOnBadSizesNamesDamageAndItemPositions) {
  LnkBuilder b;
  b.strings[test::kName] = "n";
  b.extra_blocks.push_back(test::extra_block(0xA0000099, Bytes(12, 0)));
  b.extra_blocks.push_back(test::extra_block(0xA0000098, Bytes(4, 0)));
  test::Layout layout;
  const Bytes bytes = b.build(&layout);
  EXPECT_EQ(parsed(bytes).parsed_size, layout.end);

  // The second block's size: byte 2 set, too small, too large end the walk;
  // only byte 2 is checked, so byte 3 set still steps by the low 16 bits.
  const size_t second = layout.extra_data + 20;
  const size_t terminal = layout.terminal;
  for (auto [size, end] : {std::pair<uint32_t, size_t>{0x00010008u, second}, {0x7u, second}, {0x400u, second},
                           {0x0100000Cu, layout.end}}) {
    Bytes broken = bytes;
    test::set_u32(broken, second, size);
    EXPECT_EQ(parsed(broken).parsed_size, end) << std::hex << size;
  }
  // No terminal block: parsing ends after the last block, unless that block
  // ends the bytes.
  EXPECT_EQ(parsed(Bytes(bytes.begin(), bytes.begin() + layout.terminal + 2)).parsed_size, layout.terminal);
  EXPECT_EQ(parsed(Bytes(bytes.begin(), bytes.begin() + layout.terminal)).parsed_size, second);

  // An environment path with a carriage return is read, and the walk goes on.
  Bytes payload(260 + 520, 0);
  const std::string target = "%windir%\r\\x";
  Bytes wide = test::utf16le(target);
  std::copy(wide.begin(), wide.end(), payload.begin() + 260);
  LnkBuilder env;
  env.extra_blocks.push_back(test::extra_block(0xA0000001, payload));
  env.extra_blocks.push_back(test::extra_block(0xA0000077, Bytes(4, 0)));
  LnkRecord r = parsed(env.build(&layout));
  EXPECT_EQ(std::make_tuple(r.env_target, r.parsed_size), std::make_tuple(target, layout.end));
  // What Windows would not have written is named: an unknown signature, a
  // known one at a size it never writes, a size past the data, no TerminalBlock.
  ASSERT_EQ(r.extra_data_damage.size(), 1u);
  EXPECT_EQ(r.extra_data_damage[0].kind, ExtraDataDamage::unknown_signature);
  env.extra_blocks = {test::extra_block(0xA0000003, Bytes(12, 0)), test::extra_block(0xA0000009, Bytes(32, 0))};
  EXPECT_EQ(parsed(env.build()).extra_data_damage.size(), 1u);
  Bytes cut = bytes;
  test::set_u32(cut, second, 0x400);
  EXPECT_EQ(parsed(cut).extra_data_damage.back().kind, ExtraDataDamage::size_past_data);
  cut = Bytes(bytes.begin(), bytes.begin() + terminal + 2);
  EXPECT_EQ(parsed(cut).extra_data_damage.back().kind, ExtraDataDamage::no_terminal_block);
  EXPECT_TRUE(parsed(bytes).extra_data_damage.size() == 2 && parsed(bytes).terminal_block);

  // Items of a second IDList (a My Computer root item) count from the record offset.
  payload = test::item_id({0x1F, 0x50, 0xE0, 0x4F, 0xD0, 0x20, 0xEA, 0x3A, 0x69, 0x10, 0xA2, 0xD8, 0x08, 0x00,
                                 0x2B, 0x30, 0x30, 0x9D});
  test::put_u16(payload, 0);
  LnkBuilder items;
  items.extra_blocks.push_back(test::extra_block(0xA000000C, payload));
  const Bytes with_items = items.build(&layout);
  for (uint64_t record_offset : {uint64_t{0}, uint64_t{0x5000}}) {
    r = LnkRecord{};
    ASSERT_TRUE(parse(with_items, r, record_offset));
    ASSERT_EQ(r.vista_shell_items.size(), 1u);
    EXPECT_EQ(r.vista_shell_items[0].item_position, record_offset + layout.extra_data + 8) << record_offset;
  }
}

// Each extra data block, decoded on its own.
namespace blocks {

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

}  // namespace blocks

using RecordDump = test::ScratchDirTest;

TEST_F(RecordDump, NamesAndWhenTheyAreWritten) {
  EXPECT_EQ(record_dump_name(12345, 0x123456789aULL, 0x12345), "carvelnk_12345_0x123456789a_0x12345.bin");
  const Bytes bytes = test::sample_shortcut();
  LnkRecord record;
  ASSERT_TRUE(parse_lnk_record(record, bytes, 0));
  const ParsedBytes parsed_bytes{std::span<const uint8_t>(bytes).first(record.parsed_size), 0x1f400, {}};
  RecordOutlet outlet(nullptr, dir_.string());
  outlet.put(record, SourceInfo{}, parsed_bytes);
  const auto dump = dir_ / record_dump_name(1, 0x1f400, record.parsed_size);
  EXPECT_FALSE(std::filesystem::exists(dump)) << "a dump took its name before the run ended";
  outlet.commit_dumps();
  EXPECT_TRUE(std::filesystem::exists(dump));
}

TEST(DecoderFields, CommittedSampleLinkInfoAndExtensionBlockHeaders) {
  const Bytes sample = testing::read_bytes(ROOK_SOURCE_DIR "/tests/data/sample.lnk");
  ASSERT_EQ(sample, test::sample_shortcut());
  LnkRecord r = parsed(sample);
  EXPECT_EQ(r.parsed_size, sample.size());
  EXPECT_EQ(r.volume_serial + "|" + r.local_base_path + "|" + r.icon_location,
            "5c1e-2f3a|C:\\Projects\\Report 2023.docx|%SystemRoot%\\System32\\shell32.dll");
  EXPECT_EQ(std::make_tuple(r.link_info_flags, r.drive_type_code, r.drive_serial_number),
            std::make_tuple(1u, 3u, 0x5C1E2F3Au));
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

// Every corpus shortcut against lnkinfo, field by field; only IDList segment
// counts, counted differently on purpose, may differ.
using LnkinfoSweep = test::ScratchDirTest;

TEST_F(LnkinfoSweep, EveryCorpusShortcutAgreesFieldByField) {
  const std::string shared = std::string(ROOK_SOURCE_DIR) + "/../shared/";
  if (!std::filesystem::exists(shared + "tools/crosscheck_lnkinfo.py") ||
      !std::filesystem::is_directory(shared + "corpus/lnk"))
    GTEST_SKIP() << "corpus or cross-check script absent";
  if (test::run_program(dir_, "sh", {"-c", "command -v lnkinfo"}).status != 0) GTEST_SKIP() << "lnkinfo absent";
  const std::string summary =
      "import json, sys\n"
      "d = json.load(sys.stdin)\n"
      "other = sum(f['differ'] for n, f in d['fields'].items() if n != 'ID List segments')\n"
      "ids = d['fields'].get('ID List segments', {'differ': 0, 'compared': 1})\n"
      "agree, total = d['agreement']\n"
      "print(other, int(1000 * ids['differ'] / max(ids['compared'], 1)), int(1000 * agree / max(total, 1)), total)\n";
  const test::CommandResult r = test::run_program(
      dir_, "sh",
      {"-c", "python3 \"$0\" \"$1\" \"$2\" --json | python3 -c \"$3\"", shared + "tools/crosscheck_lnkinfo.py",
       ROOK_BINARY, shared + "corpus/lnk", summary});
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  size_t other_differ = 0, id_list_per_mille = 0, agree_per_mille = 0, compared = 0;
  ASSERT_TRUE(in >> other_differ >> id_list_per_mille >> agree_per_mille >> compared) << r.out;
  EXPECT_EQ(other_differ, 0u) << "fields other than the IDList segments differ from lnkinfo";
  EXPECT_LE(id_list_per_mille, 20u);
  EXPECT_GE(agree_per_mille, 998u);
  EXPECT_GT(compared, 1000u);
}

// Each name table's ends and gaps, where an off-by-one would show.
TEST(Names, TablesAtTheirEdges) {
  const std::pair<std::string, std::string> cases[] = {
      {link_flags_text(0), "Default"},
      {link_flags_text(0x02000000), "KeepLocalIDListForUNCTarget"},
      {link_flags_text(0xFC000000 | 0x4), "HasName"},  // bits 26-31 have no names
      {link_flags_text(0xFC000000), ""},
      {link_flags_text(0x03FFFFFF).substr(0, 32), "HasLinkTargetIDList, HasLinkInfo"},
      {show_command_text(11), "SW_FORCEMINIMIZE"},
      {show_command_text(12), "unk"},
      {drive_type_text(6), "RAM drive"},
      {drive_type_text(7), "unk"},
      {control_panel_category_text(11), "Mobile PC"},
      {control_panel_category_text(12), "<unk>"},
      {csidl_text(0x0E), "CSIDL_MYVIDEO"},
      {csidl_text(0x0F), "unk"},
      {csidl_text(0x3E), "IDLIST_COMMON_FILE_UNICODE"},
      {csidl_text(0x3F), "unk"},
      {csidl_text(0x0800), "CSIDL_FLAG_PER_USER_INIT"},
      {csidl_text(0x0805), "unk"},  // flags with a folder are not split
      {csidl_text(0xFF00), "CSIDL_FLAG_MASK"},
      {sfgao_text(0xA0000004), "can_link; folder; has_subdirs"},
      {sfgao_text(0x8), ""},  // unnamed bit
      {file_attributes_text(0x21, "|"), "FILE_ATTRIBUTE_READONLY|FILE_ATTRIBUTE_ARCHIVE"},
      {file_attributes_text(0x8, "; "), "Reserved1"},
      {file_attributes_text(0x18040, ", "), "Reserved2, Reserved3, FILE_ATTRIBUTE_VIRTUAL"},
      {file_attributes_text(0x20000, "; "), "unk"},  // only unnamed bits
      {short_attributes_text(0), "none set"},
      {short_attributes_text(0x8), "unk"},
      {short_attributes_text(0x23), "READ_ONLY, HIDDEN, ARCHIVE"},
      {short_attributes_text(0x10000010), "DIRECTORY, DIRECTORY"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(text, expected);
}

// Real shortcuts, cut short and damaged, must always decode and print to a
// normal end.
namespace fs = std::filesystem;

class CorpusRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path root = testing::corpus_path("lnk");
    if (!fs::is_directory(root)) GTEST_SKIP() << "corpus absent";
    for (const auto& e : fs::recursive_directory_iterator(root))
      if (e.is_regular_file() && e.path().extension() != ".json" && e.path().extension() != ".txt")
        files_.push_back(e.path().string());
    std::sort(files_.begin(), files_.end());
    options_.idltimes = true;
  }

  bool decode_and_write(const std::vector<uint8_t>& bytes) {
    LnkRecord record;
    if (!parse_lnk_record(record, bytes, 0)) return false;
    std::ostringstream out;
    OutputSink sink(out);
    RecordWriter(sink, options_).write(record, SourceInfo{});
    EXPECT_LE(record.parsed_size, bytes.size());
    EXPECT_GE(bytes.size(), 82u);  // header and the smallest ID list
    return true;
  }

  std::vector<std::string> files_;
  useropts options_;
};

TEST_F(CorpusRobustness, EveryTruncationOfSomeFilesAndDamagedCopies) {
  // Some files across the corpus, and one that has every section.
  std::vector<std::string> chosen = {testing::corpus_path("lnk/plaso/NeroInfoTool.lnk")};
  for (size_t i = 0; i < files_.size(); i += files_.size() / 8 + 1) chosen.push_back(files_[i]);
  for (const auto& f : chosen) {
    auto bytes = testing::read_bytes(f);
    for (size_t len = 0; len <= bytes.size(); ++len)
      decode_and_write({bytes.begin(), bytes.begin() + static_cast<long>(len)});
  }
  std::mt19937 rng(20261206);
  for (size_t i = 0; i < files_.size(); i += 3) {
    auto bytes = testing::read_bytes(files_[i]);
    if (bytes.size() < 80) continue;
    for (int round = 0; round < 8; ++round) {
      auto damaged = bytes;
      // Leave the signature alone so the damage reaches the sections behind it.
      for (uint32_t k = 0, flips = 1 + rng() % 16; k < flips; ++k)
        damaged[20 + rng() % (damaged.size() - 20)] = static_cast<uint8_t>(rng());
      decode_and_write(damaged);
    }
  }
}

// Over every corpus shortcut and jump list no note holds a control
// character or U+FFFD: what only misread bytes produce.
TEST_F(CorpusRobustness, NoNoteOfTheCorpusIsGarbled) {
  size_t records = 0;
  RecordOutlet outlet([&](const LnkRecord& record, const SourceInfo&) {
    ++records;
    const RecordValues values = derive_record_values(record, SourceInfo{}, options_);
    for (const RenderedIdList* list : {&values.idlist, &values.vista_idlist})
      for (const std::string& note : list->notes) EXPECT_TRUE(is_readable_text(note)) << note;
  });
  for (const char* folder : {"lnk", "jumplists"})
    for (const auto& entry : fs::recursive_directory_iterator(testing::corpus_path(folder)))
      if (entry.is_regular_file()) process_shortcut_file(entry.path().string(), SourceInfo{}, options_, outlet);
  EXPECT_GT(records, 1000u);
}

// One ANSI text in each place a shortcut keeps them: the volume label and
// local path of LinkInfo, the description in StringData and the short name
// of a file entry item.
struct AnsiTexts {
  std::string label, path, description, short_name;
  bool operator==(const AnsiTexts&) const = default;
};

Bytes ansi_shortcut(const AnsiTexts& t) {
  test::LnkBuilder b;
  b.unicode_strings = false;
  Bytes volume = {0x2F, 'C', ':', '\\'};
  volume.resize(23, 0);
  Bytes file = {0x32, 0, 0x10, 0, 0, 0, 0x21, 0x56, 0x00, 0x60, 0x20, 0};
  for (char c : t.short_name) file.push_back(static_cast<uint8_t>(c));
  file.push_back(0);
  if (file.size() % 2 != 0) file.push_back(0);
  test::put_u16(file, 0);  // no extension blocks
  b.idlist_items = test::item_id(volume);
  const Bytes file_item = test::item_id(file);
  b.idlist_items->insert(b.idlist_items->end(), file_item.begin(), file_item.end());
  test::LinkInfoFields info;
  info.volume = test::VolumeIdFields{3, 0x12345678, t.label};
  info.local_base_path = t.path;
  b.link_info = info;
  b.strings[test::kName] = t.description;
  return b.build();
}

const AnsiTexts kCyrillicBytes = {"\xC4\xE8\xF1\xEA",
                                  "C:\\\xC4\xEE\xEA\xF3\xEC\xE5\xED\xF2\xFB\\\xEE\xF2\xF7\xB8\xF2.txt",
                                  "\xCE\xEF\xE8\xF1\xE0\xED\xE8\xE5", "\xC4\xCE\xCA\xD3\xCC\xC5~1"};
const AnsiTexts kCyrillic = {"Диск", "C:\\Документы\\отчёт.txt", "Описание", "ДОКУМЕ~1"};
// Shift-JIS whose second bytes include 0x5C, the backslash.
const AnsiTexts kJapaneseBytes = {"\xC3\xBD\xC4", "C:\\\x83\x5C\x83t\x83g\\\x95\x5C\x8E\xA6.txt",
                                  "\x95\x5C\x8E\xA6", "\x83\x5C\x83t\x83g"};
const AnsiTexts kJapanese = {"ﾃｽﾄ", "C:\\ソフト\\表示.txt", "表示", "ソフト"};
// The Cyrillic bytes read as code page 1252, the default.
const AnsiTexts kCyrillicAs1252 = {"Äèñê", "C:\\Äîêóìåíòû\\îò÷¸ò.txt", "Îïèñàíèå", "ÄÎÊÓÌÅ~1"};

class CodePageRun : public test::ScratchDirTest {
 protected:
  // Every layout decodes the texts; no undecoded byte is left, and every
  // layout writes UTF-8. Without -codepage, 1252 is used.
  void expect_decoded(const AnsiTexts& bytes, const AnsiTexts& text, const std::string& cp, bool given = true) {
    const std::string file = test::write_file(dir_ / ("cp" + cp + ".lnk"), ansi_shortcut(bytes));
    const struct { const char* layout; std::vector<std::string> parts; } layouts[] = {
        {"",
         {"Volume label:             " + text.label + "\n", "Local base path:          " + text.path + "\n",
          "Description:              " + text.description + "\n", "ID List:                  C:\\" + text.short_name + "\n"}},
        {"-csv", {"," + text.label + ",", "," + text.path + ",", "[Description]: " + text.description,
                  ",C:\\" + text.short_name + ","}},
        {"-json",
         {"\"label\":\"" + text.label + "\"", "\"local_base_path\":\"" + test::json_escaped(text.path) + "\"",
          "\"description\":\"" + text.description + "\"", "\"short_name\":\"" + text.short_name + "\"",
          "\"ansi_code_page\":" + cp + ",",
          "\"ansi_texts\":[\"link_info.volume.label\",\"link_info.local_base_path\",\"string_data.description\"]"}},
    };
    for (const auto& l : layouts) {
      std::vector<std::string> args{file};
      if (given) args.insert(args.end(), {"-codepage", cp});
      if (*l.layout) args.push_back(l.layout);
      const test::CommandResult r = run(args);
      EXPECT_TRUE(r.err.starts_with("done: 1 source read, 1 record written")) << l.layout;
      for (const std::string& part : l.parts) EXPECT_TRUE(contains(r.out, part)) << l.layout << " " << part;
      EXPECT_FALSE(contains(r.out, bytes.path)) << l.layout;
    }
  }
};

TEST_F(CodePageRun, CyrillicShiftJisAndTheDefaultInEveryLayout) {
  expect_decoded(kCyrillicBytes, kCyrillic, "1251");
  expect_decoded(kJapaneseBytes, kJapanese, "932");
  expect_decoded(kCyrillicBytes, kCyrillicAs1252, "1252", false);
}

// A code page the system cannot convert from is refused: the default holds.
TEST_F(CodePageRun, UnknownCodePageIsRefused) {
  const std::string file = test::write_file(dir_ / "cyrillic.lnk", ansi_shortcut(kCyrillicBytes));
  const test::CommandResult refused = run({file, "-codepage", "12345"});
  EXPECT_EQ(refused.err, "invalid code page 12345, ignored\ndone: 1 source read, 1 record written\n");
  EXPECT_TRUE(contains(refused.out, "Local base path:          " + kCyrillicAs1252.path + "\n")) << refused.out;
}

// Decoding in place: only texts read from ANSI bytes change, wherever they
// sit in the record.
TEST(AnsiTexts, DecodesFlaggedFieldsAndItemNamesOnly) {
  const Bytes bytes = ansi_shortcut(kCyrillicBytes);
  LnkRecord record;
  ASSERT_TRUE(parse_lnk_record(record, bytes, 0));
  ASSERT_EQ(record.shell_items.size(), 2u);
  EXPECT_TRUE(has_ansi_beyond_ascii(record));
  // A UTF-16 name that reads like the ANSI one byte for byte is left alone
  // when it is not the same text.
  ShellItem& file = record.shell_items[1];
  file.name = "Ä";
  ShellItem nested = file;
  file.children.push_back(nested);
  file.embedded_idlists.push_back({nested});
  record.working_dir = "\xC4";  // bytes, but not flagged as ANSI

  decode_ansi_texts(record, 1251);
  EXPECT_EQ((AnsiTexts{record.volume_label, record.local_base_path, record.name_string, file.short_name}), kCyrillic);
  EXPECT_EQ(record.working_dir + "|" + file.name, "\xC4|Ä");
  EXPECT_EQ(file.names, std::vector<std::string>{kCyrillic.short_name});
  EXPECT_EQ(file.children[0].short_name + "|" + file.embedded_idlists[0][0].short_name,
            kCyrillic.short_name + "|" + kCyrillic.short_name);
  EXPECT_TRUE(file.ansi_texts.empty());

  LnkRecord ascii;
  ASSERT_TRUE(parse_lnk_record(ascii, test::sample_shortcut(), 0));  // ANSI texts, all ASCII
  EXPECT_FALSE(has_ansi_beyond_ascii(ascii));
}

}  // namespace
}  // namespace lnk
