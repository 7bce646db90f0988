// The text report; the HTML page that holds the text reports of a run
// (tools/check_html.py checks it in a browser); and the JSON text writer of
// the page's records and the JSON layouts: strings that stay valid UTF-8
// whatever bytes they are given, instants in ISO form, and separators in
// nested structures. Last the times all of them show: FILETIME, Unix, OLE,
// DOS and UUID values, and their formats.
#include "report/text_report.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <sstream>

#include "core/time_value.h"
#include "report/html_report.h"
#include "report/json_text.h"
#include "report/record_values.h"
#include "report/time_format.h"
#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::filetime_of;
using test::kJune5;
using test::kUnixEpoch;

std::string render(const LnkRecord& record, const useropts& options, const SourceInfo& source = {}) {
  return test::write_records({record}, options, source);
}

std::string padded(const std::string& label) { return label + std::string(26 - label.size(), ' '); }

// The values printed after the labels joined by "|", "<absent>" for a missing line.
std::string values_of(const std::string& text, std::initializer_list<std::string> labels) {
  std::string joined, separator;
  for (const std::string& label : labels) {
    std::string value = "<absent>";
    for (const std::string& l : test::split_lines(text))
      if (l.rfind(padded(label), 0) == 0) value = l.substr(26);
    joined += separator + value;
    separator = "|";
  }
  return joined;
}

LnkRecord plain_record() {
  LnkRecord r;
  r.header.link_flags = 0x81;
  r.header.file_attributes = 0x20;
  r.header.write_time = r.header.access_time = r.header.creation_time = kJune5;
  r.header.file_size = 0x0046ba18;
  r.header.show_command = 1;
  r.parsed_size = 0x1f3;
  return r;
}

TEST(TextReport, WholeRecordOfAPlainShortcut) {
  LnkRecord r = plain_record();
  r.shell_items = test::items_named("C:\\tools\\app.exe");
  r.local_base_path = "C:\\tools\\app.exe";
  useropts o;
  SourceInfo s = test::file_source("/cases/app.lnk");
  s.source_modified = kJune5 + 1234567;  // fraction dropped on source times
  const std::string expected =
      "source path/filename:     /cases/app.lnk\n"
      "file modified:            06/05/2009 20:13:20 [UTC]\n"
      "file accessed:            \n"
      "file created:             \n"
      "Target flags:             HasLinkTargetIDList, IsUnicode\n"
      "Target attributes:        FILE_ATTRIBUTE_ARCHIVE\n"
      "Target modified:          06/05/2009 20:13:20.000 [UTC]\n"
      "Target accessed:          06/05/2009 20:13:20.000 [UTC]\n"
      "Target created:           06/05/2009 20:13:20.000 [UTC]\n"
      "Parsed size:              0x000001f3 [499 bytes]\n"
      "Target file size:         0x0046ba18 [4635160 bytes]\n"
      "Show cmd:                 [SW_SHOWNORMAL]\n"
      "ID List:                  C:\\tools\\app.exe\n"
      "Local base path:          C:\\tools\\app.exe\n"
      "Command run:              C:\\tools\\app.exe [target from IDList]\n"
      "\n";
  EXPECT_EQ(render(r, o, s), expected);
  // With -idltimes the one named item is a segment without times.
  o.idltimes = true;
  EXPECT_EQ(render(r, o, s), expected.substr(0, expected.size() - 1) +
                                 "IDList subpath breakout\n segment: C:\\tools\\app.exe\n\n");
}

// Offsets only when scanning (the lower-case one not at 0), MFT numbers only
// in an MFT scan, both in hex or decimal as asked.
TEST(TextReport, OffsetsAndMftNumbersFollowBase) {
  LnkRecord r = plain_record();
  r.target_mft_entry = 0x1234, r.target_mft_seq = 3;
  const struct { bool rawscan, mft_scan, hex; uint64_t offset; std::string shown; } cases[] = {
      {true, false, true, 1536, "/c.lnk|0x00000600|0x00000600 [1536]|<absent>|<absent>"},
      {true, false, false, 1536, "/c.lnk|1536|0x00000600 [1536]|<absent>|<absent>"},
      {false, true, false, 1536, "<absent>|1536|0x00000600 [1536]|4660|3"},
      {false, true, true, 1536, "<absent>|0x00000600|0x00000600 [1536]|0x00001234|0x0003"},
      {false, true, true, 0, "<absent>|<absent>|0x00000000 [0]|0x00001234|0x0003"},
      {false, false, true, 1536, "/c.lnk|<absent>|<absent>|<absent>|<absent>"},
  };
  for (const auto& c : cases) {
    useropts o;
    SourceInfo s = test::file_source("/c.lnk");
    o.rawscan = c.rawscan;
    s.mft_scan = c.mft_scan;
    if (c.mft_scan) s.volume_name = "image.dd";  // no single source file: no source lines
    o.sizes_in_hex = c.hex;
    r.lnk_offset = c.offset;
    EXPECT_EQ(values_of(render(r, o, s), {"source path/filename:", "file offset:", "File offset:", "MFT Entry:",
                                       "MFT Sequence#:", "file modified:"}),
              c.shown + (c.mft_scan ? "|<absent>" : "|"));
  }
}

// The values under chosen labels, each case changing a plain record, the
// options or the source.
TEST(TextReport, LabelledValues) {
  using Setup = void (*)(LnkRecord&, useropts&, SourceInfo&);
  const struct { const char* name; Setup setup; std::initializer_list<std::string> labels; std::string shown; } cases[] = {
      {"target times fall back to the IDList's",
       [](LnkRecord& r, useropts&, SourceInfo&) {
         r.header.write_time = r.header.access_time = r.header.creation_time = 0;
         r.idlist_modify_time = filetime_of(1000000000);
         r.idlist_access_time = filetime_of(1100000000);
         r.idlist_create_time = filetime_of(1200000000);
       },
       {"Target modified:", "Target accessed:", "Target created:"},
       "09/09/2001 01:46:40.000 [UTC]|11/09/2004 11:33:20.000 [UTC]|01/10/2008 21:20:00.000 [UTC]"},
      {"invalid fallback, invalid header time",
       [](LnkRecord& r, useropts&, SourceInfo&) {
         r.header.write_time = 0;
         r.idlist_modify_time = 0x8000000000000001ULL;
         r.header.access_time = 5;
       },
       {"Target modified:", "Target accessed:"}, "not available|not available"},
      {"user formats",
       [](LnkRecord&, useropts& o, SourceInfo&) { o.date_format = "yyyy-mmm-dd", o.time_format = "hh:mm:ss"; },
       {"Target created:"}, "2009-Jun-05 20:13:20 [UTC]"},
      {"no attributes, flags or known show command",
       [](LnkRecord& r, useropts&, SourceInfo&) { r.header.file_attributes = r.header.link_flags = 0, r.header.show_command = 12; },
       {"Target attributes:", "Target flags:", "Show cmd:"}, "not specified|Default|<absent>"},
      {"three attributes", [](LnkRecord& r, useropts&, SourceInfo&) { r.header.file_attributes = 0x23; },
       {"Target attributes:"}, "FILE_ATTRIBUTE_READONLY; FILE_ATTRIBUTE_HIDDEN; FILE_ATTRIBUTE_ARCHIVE"},
      {"tracker values with a birth value only where it differs",
       [](LnkRecord& r, useropts&, SourceInfo&) {
         r.machine_id = "wks01";
         r.droid_volume_id = r.birth_droid_volume_id = "v1";
         r.droid_object_id = "o1";
         r.birth_droid_object_id = "o2";
         r.droid_mac = "00:0c:29:aa:bb:cc";
         r.droid_time = kJune5;
         r.birth_droid_time = filetime_of(1000000000);
       },
       {"NETBIOS name:", "Volume ID:", "Object ID:", "MAC address:", "Target ObjID time:", "Target ObjID time [orig]:"},
       "wks01|v1|o1 [orig: o2]|00:0c:29:aa:bb:cc|06/05/2009 20:13:20.000 [UTC]|09/09/2001 01:46:40.000 [UTC]"},
      {"tracker times not valid",  // the birth time not 0 and different, but not a time
       [](LnkRecord& r, useropts&, SourceInfo&) { r.droid_volume_id = "v1", r.birth_droid_time = 7; },
       {"Target ObjID time:", "Target ObjID time [orig]:"}, "<absent>|"},
      {"application only for jump lists", [](LnkRecord&, useropts&, SourceInfo& s) { s.app_id = "1b4dd67f29cb1962"; },
       {"AppID:"}, "<absent>"},
      {"jump-list entry from slack",
       [](LnkRecord& r, useropts&, SourceInfo& s) {
         s.app_id = "1b4dd67f29cb1962", s.app_name = "Windows Explorer";
         r.jumplist_kind = JumplistKind::with_destlist;
         r.from_slack = true;
         r.destlist_netbios = "host7";
       },
       {"AppID:", "MRU/MFU/Stream# data:", "MRU/MFU index:", "stream #:", "MRU time:", "NETBIOS name:"},
       "1b4dd67f29cb1962 [Windows Explorer]|not avail - parsed from slack space|<absent>|<absent>|<absent>|host7"},
      {"jump-list entry without an index",
       [](LnkRecord& r, useropts&, SourceInfo&) {
         r.jumplist_kind = JumplistKind::with_destlist;
         r.mru_index = 99999, r.stream_number = 12, r.mru_time = kJune5;
       },
       {"MRU/MFU index:", "stream #:", "MRU time:", "Pin status:"},
       "not available for this record|12|06/05/2009 20:13:20.000 [UTC]|<absent>"},
      {"jump-list entry with the DestList's own fields",
       [](LnkRecord& r, useropts&, SourceInfo&) {
         r.jumplist_kind = JumplistKind::with_destlist, r.mru_index = 2, r.destlist_path = "C:\\a.txt";
         r.destlist = {true, 0, true, 9, "v1", "o1", "v1", "o2"};
       },
       {"Pin status:", "Access count:", "DestList path:", "DestList volume ID:", "DestList object ID:"},
       "pinned, position 0|9|C:\\a.txt|v1|o1 [orig: o2]"},
      {"DestList entry of a Windows 7 list: unpinned, no access count",
       [](LnkRecord& r, useropts&, SourceInfo&) { r.jumplist_kind = JumplistKind::with_destlist, r.destlist.present = true; },
       {"Pin status:", "Access count:"}, "not pinned|<absent>"},
      {"jump-list entry with index 1",
       [](LnkRecord& r, useropts&, SourceInfo&) { r.jumplist_kind = JumplistKind::with_destlist, r.mru_index = 1; },
       {"MRU/MFU index:"}, "1"},
  };
  for (const auto& c : cases) {
    LnkRecord r = plain_record();
    useropts o;
    SourceInfo s;
    c.setup(r, o, s);
    EXPECT_EQ(values_of(render(r, o, s), c.labels), c.shown) << c.name;
  }
}

// Lists of one entry stay on their label's line, longer ones are numbered
// below it.
TEST(TextReport, EmbeddedInfoPropertyStoreAndUserAndHostLines) {
  LnkRecord r = plain_record();
  r.shell_items = test::items_named("x", {"only one"});
  r.vista_shell_items = test::items_named("y", {"a", "b", "c"});
  const std::string lists = render(r, useropts{});
  EXPECT_TRUE(test::contains(lists, padded("Embedded ID List info:") + "only one\n"));
  EXPECT_TRUE(test::contains(lists, padded("VistaAndAboveIDList-info:") + "\n [1] a\n [2] b\n [3] c\n"));

  r = plain_record();
  useropts o;
  o.username = "examiner", o.hostname = "lab-pc";
  o.hostname_given = o.username_given = true;
  EXPECT_EQ(values_of(render(r, o), {"username:", "hostname:"}), "<absent>|<absent>");
  // Two string-named text properties: names are "<set id>/<name>".
  const std::string long_name(60, 'n');
  const std::string set = std::string(test::kStringNamedSetText) + "/";
  r.property_store = test::text_properties({{"Title", "hello"}, {long_name, "v2"}});
  const std::string text = render(r, o), block = "PropertyStoreDataBlk:    format guid/id [value] \n [1] " + set + "Title" +
                            std::string(49 - 42, ' ') + " [hello]\n [2] " + set + long_name + " [v2]\n" +
                            padded("username:") + "examiner\n" + padded("hostname:") + "lab-pc\n";
  EXPECT_TRUE(test::contains(text, block)) << text;
}

TEST(TextReport, DerivedTargetNameOrder) {
  LnkRecord r;
  useropts o;
  const SourceInfo s;
  EXPECT_EQ(derive_record_values(r, s, o).target_name, "");
  // Each field set wins over every one set before it.
  int n = 0;
  for (std::string LnkRecord::*field : {&LnkRecord::icon_location, &LnkRecord::relative_path, &LnkRecord::env_target}) {
    r.*field = "value " + std::to_string(++n);
    EXPECT_EQ(derive_record_values(r, s, o).target_name, r.*field);
  }
  r.vista_shell_items = test::items_named("vista path");
  EXPECT_EQ(derive_record_values(r, s, o).target_name, "vista path");
  r.shell_items = test::items_named("idlist path");
  EXPECT_EQ(derive_record_values(r, s, o).target_name, "idlist path");
  // A path holding a line feed is kept as it is, and still wins.
  r.shell_items = test::items_named("bad\npath");
  EXPECT_EQ(derive_record_values(r, s, o).target_name, "bad\npath");
}

// Whatever a record holds, the page's own four scripts are the only markup
// the data can end in, and every text of the run header reads as text.
TEST(HtmlReport, EvidenceTextsCannotBecomeMarkup) {
  const std::string hostile = "</script><script>alert(1)</script><!--<b a=\"'\">&amp;\xff";
  LnkRecord record;
  record.relative_path = hostile;
  record.name_string = "</SCRIPT ><!-- -->";
  record.header.write_time = kJune5;
  SourceInfo source;
  source.opened_path = source.source_path = "E:\\" + hostile + ".lnk";
  const useropts o = test::options_for({});
  std::ostringstream out;
  HtmlReport report(out, o);
  report.begin_run("command: \"rook " + hostile + "\"\n");
  const std::string incomplete = out.str();
  for (int i = 0; i < 2; ++i) report.add(record, source, derive_record_values(record, source, o));
  report.end_run();
  const std::string page = out.str();

  EXPECT_EQ(incomplete.find("rook-records"), std::string::npos);
  EXPECT_NE(incomplete.find("the report file is incomplete"), std::string::npos);
  EXPECT_NE(page.find("command: &quot;rook &lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt;&lt;!--&lt;b a="
                      "&quot;&#39;&quot;&gt;&amp;amp;\xef\xbf\xbd&quot;"),
            std::string::npos);
  size_t scripts = 0, closes = 0;
  std::string lowered = page;
  for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t at = 0; (at = lowered.find("<script", at)) != std::string::npos; ++at) ++scripts;
  for (size_t at = 0; (at = lowered.find("</script", at)) != std::string::npos; ++at) ++closes;
  EXPECT_EQ(std::pair(scripts, closes), std::pair(size_t{4}, size_t{4}));
  EXPECT_EQ(lowered.find("<!--"), std::string::npos);
  EXPECT_EQ(page.find('\xff'), std::string::npos);
  EXPECT_NE(page.find("\"records\":2,"), std::string::npos);
}

class HtmlRun : public test::ScratchDirTest {};

// The page is finished however the run ends, and never shares a file with
// the results.
TEST_F(HtmlRun, EndsWholeAndHasAFileOfItsOwn) {
  const std::string& sample = test::kSampleLnk;
  const std::string page = (dir_ / "report.html").string();
  EXPECT_EQ(run({sample, "-html", page}).status, 0);
  const std::string written = test::slurp_text(page);
  EXPECT_NE(written.find("\"records\":1,"), std::string::npos);
  EXPECT_EQ(written.substr(written.size() - 8), "</html>\n");
  // No NTFS volume in a shortcut file: the run fails and the page of the
  // run before stays as it was.
  EXPECT_EQ(run({sample, "-ntfs_scan", "-html", page}).status, 255);
  EXPECT_EQ(test::slurp_text(page), written);

  const test::CommandResult r = run({sample, "-csv", "-out", page, "-html", (dir_ / "." / "report.html").string()});
  EXPECT_EQ(r.status, 255);
  EXPECT_TRUE(test::contains(r.err, "-out names it too, aborting")) << r.err;
}

std::string json_string(const std::string& text) {
  std::string out;
  append_json_string(out, text);
  return out;
}

const std::string kFffd = "\xEF\xBF\xBD";

// What JSON requires is escaped and the rest kept; bytes that are not UTF-8
// become replacement characters.
TEST(JsonText, StringsEscapedAndAlwaysUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"C:\\Users\\\"x\"", "C:\\\\Users\\\\\\\"x\\\""},
      {"a\nb\r\tc", "a\\nb\\r\\tc"},
      {std::string("\x01\x1f\x7f", 3), "\\u0001\\u001f\x7f"},
      {std::string("a\0b", 3), "a\\u0000b"},
      // Two-, three- and four-byte characters pass through unchanged, up to
      // the highest code point and the last before the surrogates.
      {"é€😀Привет表", "é€😀Привет表"},
      {"\xF4\x8F\xBF\xBF\xED\x9F\xBF", "\xF4\x8F\xBF\xBF\xED\x9F\xBF"},
      {"\x80", kFffd},                                   // a lone continuation byte
      {"a\xFF" "b", "a" + kFffd + "b"},                    // never a UTF-8 byte
      {"\xC0\xAF", kFffd + kFffd},                       // overlong "/"
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},           // overlong three-byte form
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},           // a UTF-16 surrogate
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // past U+10FFFF
      {"\xE2\x82" "A", kFffd + kFffd + "A"},             // cut short by an ASCII byte
      {"x\xF0\x9F\x98", "x" + kFffd + kFffd + kFffd},     // cut short by the end
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(json_string(in), "\"" + out + "\"") << in;
}

TEST(JsonText, InstantsAreIsoUtcWithHundredNanosecondDigits) {
  const std::pair<uint64_t, const char*> cases[] = {
      {128887064000000000, "2009-06-05T20:13:20.0000000Z"},
      {128887064000000001, "2009-06-05T20:13:20.0000001Z"},
      {128887064009999999, "2009-06-05T20:13:20.9999999Z"},
      {116444736010000000, "1970-01-01T00:00:01.0000000Z"},
      // What the text report shows as missing (the rules are TimeValue's) has
      // no instant here either.
      {100000000000000000, ""},  // 1917
  };
  for (const auto& [filetime, shown] : cases) EXPECT_EQ(iso_time(filetime), shown) << filetime;
}

// Separators in nested values; fields without a value are left out; numbers
// keep their full range, and those JSON cannot hold become null.
TEST(JsonText, WriterPlacesSeparatorsAndKeepsNumbers) {
  std::string out;
  JsonWriter w(out);
  w.begin_object();
  w.field("a", uint64_t{1});
  w.key("list");
  w.begin_array();
  w.begin_object(), w.end_object();
  w.begin_array(), w.number(int64_t{-2}), w.string("s"), w.end_array();
  w.null();
  w.end_array();
  w.text_field("empty", ""), w.time_field("never", 0), w.field("flag", false);
  w.key("numbers");
  w.begin_array();
  w.number(std::numeric_limits<uint64_t>::max()), w.number(std::numeric_limits<int64_t>::min());
  for (double d : {0.5, -1e300, std::nan(""), std::numeric_limits<double>::infinity()}) w.number(d);
  w.end_array();
  w.end_object();
  EXPECT_EQ(out, R"({"a":1,"list":[{},[-2,"s"],null],"flag":false,)"
                 R"("numbers":[18446744073709551615,-9223372036854775808,0.5,-1e+300,null,null]})");
}

constexpr uint64_t kTicks = 10000000ULL;
// 2023-05-17 14:03:09.1234567 UTC
constexpr uint64_t kMay17 = filetime_of(1684332189) + 1234567;

TEST(TimeValueFiletime, ValidityFieldsAndCalendarAgainstGmtime) {
  const std::pair<uint64_t, bool> cases[] = {
      {0, false},
      {0x8000000000000000ULL | kMay17, false},
      {kUnixEpoch - 86400 * kTicks, false},     // 1969-12-31
      {filetime_of(0) + kTicks / 2, false},    // whole seconds 0
      {filetime_of(1), true},
      {filetime_of(32535244799ULL), true},  // the local-time test stops at the year 3000
      {filetime_of(32535244800ULL), false},
  };
  for (const auto& [filetime, valid] : cases) EXPECT_EQ(TimeValue::from_filetime(filetime).valid, valid) << filetime;

  TimeValue t = TimeValue::from_filetime(kMay17);
  EXPECT_EQ(std::make_tuple(t.filetime_low, t.filetime_high, t.millisecond, t.microseconds, t.nanoseconds),
            std::make_tuple(static_cast<uint32_t>(kMay17), static_cast<uint32_t>(kMay17 >> 32), 123, 123456u, 123456700u));
  EXPECT_EQ(TimeValue::from_filetime(filetime_of(1)).unix_seconds, 1u);

  // The calendar against the C library over leap years, century boundaries
  // and month ends.
  for (uint64_t s = 1; s < 32535244800ULL; s += 7776013ULL) {
    for (uint64_t around : {s, s - s % 86400 + 86399, uint64_t{951782400} /* 2000-02-29 */}) {
      TimeValue t = TimeValue::from_filetime(filetime_of(around));
      time_t tt = static_cast<time_t>(around);
      struct tm g;
#ifdef _WIN32
      ASSERT_EQ(_gmtime64_s(&g, &tt), 0);
#else
      ASSERT_NE(gmtime_r(&tt, &g), nullptr);
#endif
      ASSERT_TRUE(t.valid) << around;
      ASSERT_EQ(std::vector<int>({t.year, t.month, t.day, t.day_of_week, t.hour, t.minute, t.second}),
                std::vector<int>({g.tm_year + 1900, g.tm_mon + 1, g.tm_mday, g.tm_wday, g.tm_hour, g.tm_min,
                                  g.tm_sec}))
          << around;
    }
  }
}

Guid uuid_with(uint64_t stamp_with_version, uint8_t b8, uint8_t b9) {
  Guid g{};
  for (int i = 0; i < 8; ++i) g[i] = static_cast<uint8_t>(stamp_with_version >> (8 * i));
  g[8] = b8;
  g[9] = b9;
  for (int i = 0; i < 6; ++i) g[10 + i] = static_cast<uint8_t>("\x00\x0c\x29\xaa\xbb\xcc"[i]);
  return g;
}

TEST(TimeValueOtherEncodings, UnixSecondsOleNowDosAndUuid) {
  for (int64_t seconds : {int64_t{0}, int64_t{-5}, INT64_MAX}) EXPECT_FALSE(TimeValue::from_unix_seconds(seconds).valid);
  EXPECT_EQ(TimeValue::from_unix_seconds(1684332189).filetime, filetime_of(1684332189));

  // 2023-05-17 12:00 is OLE day 45063.5.
  EXPECT_EQ(TimeValue::from_ole_date(45063.5).filetime, filetime_of(1684324800));
  EXPECT_FALSE(TimeValue::from_ole_date(-1e9).valid || TimeValue::from_ole_date(0.0 / 0.0).valid);

  EXPECT_GE(TimeValue::now().year, 2024);

  // DOS words are UTC and rejected out of range.
  const auto dos_date = [](int y, int m, int d) { return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d); };
  const auto dos_time = [](int h, int m, int s2) { return static_cast<uint16_t>((h << 11) | (m << 5) | s2); };
  const uint16_t date = dos_date(2023, 5, 17);
  const uint16_t time = dos_time(14, 3, 4);
  EXPECT_EQ(TimeValue::from_dos(date, time).filetime, filetime_of(1684332188));  // 2023-05-17 14:03:08
  EXPECT_EQ(TimeValue::from_dos(dos_date(1980, 1, 1), 0).filetime, filetime_of(315532800));  // the earliest
  const std::pair<uint16_t, uint16_t> invalid[] = {
      {0, time},          {dos_date(2023, 13, 1), time}, {dos_date(2023, 0, 1), time},
      {date, dos_time(14, 0, 30)},  // 60 seconds
      {date, dos_time(14, 60, 0)}, {date, dos_time(24, 0, 0)},
  };
  for (const auto& [d, t] : invalid) EXPECT_FALSE(TimeValue::from_dos(d, t).valid) << d << " " << t;

  // Version 1 UUIDs: time, clock sequence and node.
  const uint64_t filetime = filetime_of(1244232800);  // 2009-06-05 20:13:20
  const uint64_t stamp = filetime + 5748192000000000ULL;
  UuidTime out;
  ASSERT_TRUE(uuid_time(uuid_with(stamp | (1ULL << 60), 0xC1, 0x23), out));
  EXPECT_EQ(std::make_tuple(out.time.filetime, out.clock_sequence, mac_text(out.node)),
            std::make_tuple(filetime, 0x0123, "00:0c:29:aa:bb:cc"));

  UuidTime random;
  EXPECT_FALSE(uuid_time(uuid_with(stamp | (4ULL << 60), 0, 0), random));
  EXPECT_EQ(std::make_tuple(random.time.valid, mac_text(random.node)), std::make_tuple(false, "00:00:00:00:00:00"));
  // Before 1601 there is no FILETIME for it.
  EXPECT_FALSE(uuid_time(uuid_with((1ULL << 60) | 5748191999999999ULL, 0, 0), random));
}

TEST(TimeFormats, UserFixedCompactAndInvalid) {
  const std::pair<const char*, const char*> cases[] = {
      {"mm/dd/yyyy", "05/17/2023"},
      {"dd-mm-yy", "17-05-23"},
      {"yyyy-mmm-dd", "2023-May-17"},
      {"mmm dd, yy", "May 17, 23"},
      {"dd mmm yyyy", "17 May 2023"},  // comma only after a leading month
      {"mm.dd.yy", "05/17/23"},        // no separator found
      {"mm-dd-zz", "05/17/2023"},      // no year field: fixed shape
      {"", ""},
  };
  for (const auto& [format, expected] : cases) {
    std::string date, time;
    format_user(TimeValue::from_filetime(kMay17), format, "hh:mm:ss.xxx", date, time);
    EXPECT_EQ(date, expected) << format;
  }
  const std::tuple<uint64_t, const char*, const char*> times[] = {
      {kMay17, "hh:mm:ss.xxx", "14:03:09.123"},
      {kMay17, "hh:mm:ss.xxxxxx", "14:03:09.123456"},
      {kMay17, "hh:mm:ss.xxxxxxx", "14:03:09.1234567"},
      {kMay17, "hh:mm:ss.xxxxxxxxx", "14:03:09.123456700"},
      {kMay17, "hh:mm:ss.xxxxxxxxxx", "14:03:09"},
      {kMay17, "hh:mm:ss", "14:03:09"},
      {kMay17, "ss.xxx:", ":09.123"},
      {kMay17, "", ""},
      // Leading zeros of the fraction are kept.
      {filetime_of(1684332189) + 1200, "hh:mm:ss.xxx", "14:03:09.000"},
      {filetime_of(1684332189) + 1200, "hh:mm:ss.xxxxxx", "14:03:09.000120"},
  };
  for (const auto& [filetime, format, expected] : times) {
    std::string date, time;
    format_user(TimeValue::from_filetime(filetime), "mm/dd/yyyy", format, date, time);
    EXPECT_EQ(time, expected) << format;
  }

  TimeValue t = TimeValue::from_filetime(kMay17);
  std::string date, time;
  ASSERT_TRUE(format_user_no_fraction(t, "mm/dd/yyyy", "hh:mm:ss.xxxxxx", date, time));
  EXPECT_EQ(time, "14:03:09");
  ASSERT_TRUE(format_fixed(t, false, false, date, time));
  EXPECT_EQ(date + " " + time + "|" + compact_stamp(t), "05/17/2023 14:03:09|05/17/23 14:03:09.123");
  ASSERT_TRUE(format_fixed(TimeValue::from_filetime(filetime_of(946684799)), true, true, date, time));
  EXPECT_EQ(date, "12/31/99");
  ASSERT_TRUE(format_fixed(TimeValue::from_filetime(filetime_of(1109912767)), true, true, date, time));
  EXPECT_EQ(date + " " + time, "03/04/05 05:06:07.000");

  // An invalid time gives empty texts and failure.
  EXPECT_FALSE(format_user(TimeValue::from_filetime(0), "mm/dd/yyyy", "hh:mm:ss.xxx", date, time));
  EXPECT_EQ(date + time, "");
  date = "x";
  EXPECT_FALSE(format_fixed(TimeValue{}, true, true, date, time));
  EXPECT_EQ(date + time, "");
  EXPECT_EQ(compact_stamp(TimeValue{}), "00/00/00 00:00:00");
}

}  // namespace
}  // namespace lnk
