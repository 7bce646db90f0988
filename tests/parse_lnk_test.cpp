// The shortcut parser: header, IDList, LinkInfo, StringData and the extra
// data walk; the name tables; dumps of parsed records; every corpus shortcut
// against lnkinfo, and cut short or damaged.
#include "lnk/parse_lnk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "carve/process_file.h"
#include "carve/record_dump.h"
#include "carve/record_outlet.h"
#include "core/options.h"
#include "lnk/names.h"
#include "report/record_values.h"
#include "report/record_writer.h"
#include "shellitems/item_names.h"
#include "shellitems/item_text.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"
#include "tests/shell_test_support.h"

namespace lnk {
namespace {

using test::Bytes;
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

TEST(ParseStringData, StringReachingTheEndStopsTheRestAndLineFeedsBlank) {
  LnkBuilder b;
  b.strings[test::kName] = "name";
  b.strings[test::kRelativePath] = "relative";
  b.strings[test::kIconLocation] = "icon";
  b.terminal_block = false;
  test::Layout layout;
  Bytes bytes = b.build(&layout);
  bytes.resize(layout.strings[test::kIconLocation]);  // relative path ends at the buffer end
  LnkRecord r = parsed(bytes);
  EXPECT_EQ(r.name_string + "|" + r.relative_path, "name|");
  EXPECT_EQ(std::make_tuple(r.string_offsets[1], r.string_offsets[4], r.parsed_size),
            std::make_tuple(layout.strings[1], 0u, layout.strings[1]));

  // A huge count mid-way: later strings and the blocks after them are not read.
  b.terminal_block = true;
  b.extra_blocks.push_back(test::extra_block(0xA0000099, Bytes(8, 0)));
  bytes = b.build(&layout);
  test::set_u16(bytes, layout.strings[1], 0xFFFF);
  r = parsed(bytes);
  EXPECT_EQ(std::make_tuple(r.parsed_size, r.icon_location), std::make_tuple(layout.strings[1], ""));

  // Texts with line feeds are blanked.
  b = LnkBuilder{};
  test::LinkInfoFields info;
  info.volume = test::VolumeIdFields{3, 1, "A\nB"};
  info.local_base_path = "C:\\a\nb";
  b.link_info = info;
  b.strings[test::kName] = "line\nbreak";
  b.strings[test::kArguments] = "carriage\rreturn";
  r = parsed(b.build());
  EXPECT_EQ(r.volume_label + r.local_base_path + r.name_string, "");
  EXPECT_EQ(r.command_line_arguments, "carriage\rreturn");
}

TEST(ParseExtraData, WalkStopsOnBadSizesOrLineBreaksAndItemPositions) {
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

  // An environment path with a carriage return ends the walk before its block.
  Bytes payload(260 + 520, 0);
  const std::string target = "%windir%\r\\x";
  std::copy(target.begin(), target.end(), payload.begin());
  Bytes wide = test::utf16le(target);
  std::copy(wide.begin(), wide.end(), payload.begin() + 260);
  LnkBuilder env;
  env.extra_blocks.push_back(test::extra_block(0xA0000001, payload));
  LnkRecord r = parsed(env.build(&layout));
  ASSERT_NE(r.block_offsets[kBlockEnvironment], 0u);
  EXPECT_EQ(std::make_tuple(r.env_target, r.parsed_size), std::make_tuple("", layout.extra_data));

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

using RecordDump = test::ScratchDirTest;

TEST_F(RecordDump, NamesAndWhenTheyAreWritten) {
  EXPECT_EQ(record_dump_name(3, 0x1f400, 0x1a4), "carvelnk_0003_0x00001f400_0x01a4.bin");
  EXPECT_EQ(record_dump_name(12345, 0x123456789aULL, 0x12345), "carvelnk_12345_0x123456789a_0x12345.bin");
  const Bytes bytes = test::sample_shortcut();
  LnkRecord record;
  ASSERT_TRUE(parse_lnk_record(record, bytes, 0));
  const ParsedBytes parsed_bytes{std::span<const uint8_t>(bytes).first(record.parsed_size), 0x1f400};
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

}  // namespace
}  // namespace lnk
