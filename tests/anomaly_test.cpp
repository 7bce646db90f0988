// Shortcuts crafted the way attackers craft them, run through the program:
// each trick is named with its code in JSON, text and CSV, what Windows
// would run is shown, and an ordinary shortcut carries nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "report/escape_text.h"
#include "tests/delimited_lines.h"
#include "tests/lnk_builder.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::Bytes;
using test::contains;
using test::LnkBuilder;

constexpr uint32_t kHasExpString = 0x200;

// An EnvironmentVariableDataBlock (or, with 0xA0000007, an icon one).
Bytes environment_block(const std::string& ansi, const std::string& unicode, uint32_t signature = 0xA0000001) {
  Bytes payload(260 + 520, 0);
  std::copy(ansi.begin(), ansi.end(), payload.begin());
  const Bytes wide = test::utf16le(unicode);
  std::copy(wide.begin(), wide.end(), payload.begin() + 260);
  return test::extra_block(signature, payload);
}

// A description whose count claims 1,024 characters over 260 stored, so
// that the arguments Windows runs sit where the count says description.
Bytes overrun_description(const std::string& arguments) {
  LnkBuilder b;
  b.strings[test::kName] = std::string(259, 'd') + "X" + std::string(764, ' ');
  b.strings[test::kArguments] = arguments;
  test::Layout layout;
  const Bytes whole = b.build(&layout);
  Bytes crafted(whole.begin(), whole.begin() + layout.strings[test::kName] + 2 + 520);
  crafted.insert(crafted.end(), whole.begin() + layout.strings[test::kArguments], whole.end());
  return crafted;
}

test::LinkInfoFields local_path(const std::string& path) {
  test::LinkInfoFields info;
  info.volume = test::VolumeIdFields{};
  info.local_base_path = path;
  return info;
}

Bytes built(const std::function<void(LnkBuilder&)>& craft) {
  LnkBuilder b;
  craft(b);
  return b.build();
}

struct Trick {
  const char* code;
  Bytes bytes;
  const char* detail;  // a part of the JSON detail
};

class CraftedShortcuts : public test::ScratchDirTest {};

TEST_F(CraftedShortcuts, EachTrickIsNamedInEveryLayout) {
  Bytes appended = built([](LnkBuilder& b) { b.strings[test::kArguments] = "/c x"; });
  const Bytes pe = {'M', 'Z', 0x90, 0, 3, 0, 0, 0};
  appended.insert(appended.end(), pe.begin(), pe.end());
  const std::vector<Trick> tricks = {
      {"string_overrun", overrun_description("/c calc.exe"), "CountCharacters 1024 where Windows reads 260"},
      {"control_characters", built([](LnkBuilder& b) { b.strings[test::kArguments] = "\x1b[2J\xe2\x80\xae/c x"; }),
       "arguments: U+001B, U+202E"},
      {"padded_arguments",
       built([](LnkBuilder& b) { b.strings[test::kArguments] = std::string(200, ' ') + "\n\r/c calc.exe"; }),
       "a run of 202 blanks and control characters at byte 0; the rest starts at byte 202: \"/c calc.exe\""},
      {"appended_data", appended, "8 bytes, SHA-256 "},
      {"remote_icon", built([](LnkBuilder& b) { b.strings[test::kIconLocation] = "\\\\198.51.100.7\\s\\i.ico"; }),
       "icon_location: \\\\198.51.100.7\\s\\i.ico"},
      {"target_mismatch", built([](LnkBuilder& b) {
         b.link_flags = kHasExpString;
         b.link_info = local_path("C:\\Users\\bob\\invoice.pdf");
         b.extra_blocks.push_back(environment_block("", "%windir%\\system32\\cmd.exe"));
       }),
       "LinkInfo names \"C:\\Users\\bob\\invoice.pdf\", environment block names \"%windir%\\system32\\cmd.exe\""},
      {"hidden_window", built([](LnkBuilder& b) {
         b.show_command = 7;
         b.strings[test::kArguments] = "-w hidden -c iex";
       }),
       "SW_SHOWMINNOACTIVE with arguments: -w hidden -c iex"},
      {"ansi_only_environment",
       built([](LnkBuilder& b) { b.extra_blocks.push_back(environment_block("C:\\evil.exe", "")); }),
       "TargetAnsi names \"C:\\evil.exe\""},
      {"refused_path_characters", built([](LnkBuilder& b) {
         b.link_flags = kHasExpString;
         b.link_info = local_path("C:\\Windows\\System32\\cmd.exe");
         b.extra_blocks.push_back(environment_block("", "C:\\invoice\".pdf"));
       }),
       "Windows runs \"C:\\Windows\\System32\\cmd.exe\" from the LinkInfo"},
      {"damaged_extra_data",
       built([](LnkBuilder& b) { b.extra_blocks.push_back(test::extra_block(0xA0000042, Bytes(4, 0))); }),
       "unknown signature 0xa0000042"},
  };
  for (const Trick& trick : tricks) {
    SCOPED_TRACE(trick.code);
    const std::string file = test::write_file(dir_ / (std::string(trick.code) + ".lnk"), trick.bytes);
    const test::CommandResult json = run({file, "-json"});
    EXPECT_TRUE(contains(json.out, "{\"code\":\"" + std::string(trick.code) + "\",\"detail\":\"")) << json.out;
    std::string detail;
    for (char c : test::json_escaped(trick.detail)) detail += c == '"' ? std::string("\\\"") : std::string(1, c);
    EXPECT_TRUE(contains(json.out, detail)) << json.out;
    EXPECT_TRUE(contains(json.err, "1 with anomalies")) << json.err;

    const test::CommandResult text = run({file});
    EXPECT_TRUE(contains(text.out, "\nAnomaly:                  " + std::string(trick.code) + ": ")) << text.out;
    // One value a line: nothing from the evidence reaches the terminal raw.
    EXPECT_FALSE(text.out.find_first_of("\x1b\r") != std::string::npos || contains(text.out, "\xe2\x80\xae"));

    auto lines = test::lines_after_run_header(run({file, "-csv"}).out);
    std::erase(lines, std::string());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(contains(test::split_fields(lines[1], ",").back(), trick.code)) << lines[1];
  }
}

// What Windows would start, and the text a crafted count hides, are in the
// record; -flagged keeps only records with anomalies; -outdir keeps what a
// file carries after its record.
TEST_F(CraftedShortcuts, CommandHiddenTextsFlaggedAndAppendedBytes) {
  const std::string hidden = test::write_file(dir_ / "hidden.lnk", overrun_description("/c calc.exe"));
  const test::CommandResult json = run({hidden, "-json"});
  EXPECT_TRUE(contains(json.out, "\"arguments\":\"/c calc.exe\"")) << json.out;
  EXPECT_TRUE(contains(json.out, "\"description\":\"" + std::string(259, 'd') + "\"")) << json.out;
  EXPECT_TRUE(contains(json.out, "the count would read \\\"" + std::string(259, 'd') + "X\\u000b/c calc.exe\\\""));

  const std::string env = test::write_file(dir_ / "env.lnk", built([](LnkBuilder& b) {
    b.link_flags = kHasExpString;
    b.strings[test::kArguments] = "/c calc";
    b.strings[test::kWorkingDir] = "C:\\tmp";
    b.show_command = 3;
    b.extra_blocks.push_back(environment_block("", "%COMSPEC%"));
  }));
  EXPECT_TRUE(contains(run({env, "-json"}).out,
                       "\"command\":{\"target\":\"%COMSPEC%\",\"target_from\":\"environment block\",\"arguments\":"
                       "\"/c calc\",\"working_directory\":\"C:\\\\tmp\",\"show_command\":\"SW_SHOWMAXIMIZED\"}"));
  EXPECT_TRUE(contains(run({env}).out, "\nCommand run:              %COMSPEC% /c calc [target from environment block]\n"));

  const test::CommandResult flagged = run({"-pipe", "-flagged", "-csv"}, test::kSampleLnk + "\n" + hidden + "\n");
  auto lines = test::lines_after_run_header(flagged.out);
  std::erase(lines, std::string());
  EXPECT_EQ(lines.size(), 2u) << flagged.out;
  EXPECT_TRUE(contains(flagged.out, "hidden.lnk")) << flagged.out;
  EXPECT_EQ(flagged.err, "done: 2 sources read, 1 record written, 1 with anomalies, 1 without anomalies left out\n");
  EXPECT_EQ(run({test::kSampleLnk, "-json"}).out.find("anomalies"), std::string::npos);

  Bytes carrier = built([](LnkBuilder& b) { b.strings[test::kArguments] = "/c x"; });
  const size_t record_size = carrier.size();
  const Bytes zip = {'P', 'K', 3, 4, 20, 0, 0, 0};
  carrier.insert(carrier.end(), zip.begin(), zip.end());
  const std::string file = test::write_file(dir_ / "carrier.lnk", carrier);
  std::filesystem::create_directory(dir_ / "dumps");
  const test::CommandResult dumped = run({file, "-json", "-outdir", (dir_ / "dumps").string()});
  EXPECT_TRUE(contains(dumped.out, ", 8 bytes, SHA-256 ") && contains(dumped.out, "starts as ZIP")) << dumped.out;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "dumps")) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(test::slurp(names[0]).size(), record_size);
  EXPECT_TRUE(names[1].ends_with("_appended.bin"));
  EXPECT_EQ(test::slurp(names[1]), std::string(zip.begin(), zip.end()));
}

// The escaping of the line-based layouts is undone by reading its escapes
// back, and leaves Windows paths alone.
std::string unescaped(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t digits = i + 2 < text.size() && text[i + 2] == '{' ? (text[i + 1] == 'x' ? 2 : 4) : 0;
    if (text[i] == '\\' && digits != 0 && i + 3 + digits < text.size() + 1 && text[i + 3 + digits] == '}') {
      const uint32_t code = std::stoul(text.substr(i + 3, digits), nullptr, 16);
      if (code < 0x80) out.push_back(static_cast<char>(code));
      else if (code < 0x800) out += {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
      else out += {static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                   static_cast<char>(0x80 | (code & 0x3F))};
      i += 3 + digits;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

TEST(EscapeText, ReversibleAndPathsUntouched) {
  for (const std::string& text : {std::string("C:\\x64\\u0041\\{CLSID}\\\\server\\x{41}"), std::string("a\0b\x7f", 4),
                                 std::string("\\\x0a\\x{0a}\xc2\x85\xe2\x81\xa6\xd8\x9c tail\\"),
                                 std::string("\xc2\xa0 and \xe2\x80\xa8 stay")}) {
    const std::string escaped = escape_controls(text);
    EXPECT_EQ(unescaped(escaped), text) << escaped;
    EXPECT_EQ(escaped.find_first_of(std::string("\n\r\x1b\0", 4)), std::string::npos);
  }
  EXPECT_EQ(escape_controls("C:\\x64\\u0041\\x{41}"), "C:\\x64\\u0041\\x{5c}x{41}");
  EXPECT_EQ(control_characters_in("\t\xe2\x80\xae\t\xc2\x9b"), "U+0009, U+202E, U+009B");
}

}  // namespace
}  // namespace lnk
