// ANSI texts decoded by code page: Cyrillic (1251) and Shift-JIS (932)
// shortcuts through every layout of the built program, and the decoding of
// a record's flagged fields and shell-item names in place.
#include "lnk/parse_lnk.h"
#include "report/ansi_text.h"
#include "tests/delimited_lines.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::Bytes;
using test::contains;

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
  // ANSI StringData is stepped over as if it were UTF-16: room for that.
  b.extra_blocks.push_back(Bytes(t.description.size(), 0));
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
      EXPECT_EQ(r.err, "done: 1 source read, 1 record written\n") << l.layout;
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
  ASSERT_TRUE(parse_lnk_record(ascii, test::sample_shortcut(), 0));
  EXPECT_NE(ascii.ansi_texts, 0u);
  EXPECT_FALSE(has_ansi_beyond_ascii(ascii));
}

}  // namespace
}  // namespace lnk
