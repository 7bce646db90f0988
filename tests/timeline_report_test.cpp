// The timeline layouts: log2timeline CSV, body file, and the HTML report's
// guard against what the evidence says. tools/check_timesketch.py rebuilds
// the Timesketch events of every record in every input mode, and
// tools/check_html.py checks the page in a browser.
#include "report/timeline_report.h"

#include <sstream>

#include "report/html_report.h"
#include "report/record_values.h"
#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::kJan2;
using test::kJune5;
using test::kMar1;
using test::kUnixEpoch;
using test::split_fields;
using test::split_lines;
using test::write_all;

LnkRecord record_with_times(uint64_t modified, uint64_t accessed, uint64_t created) {
  LnkRecord r;
  r.source_type = "Shortcut LNK (file)";
  r.header.write_time = modified;
  r.header.access_time = accessed;
  r.header.creation_time = created;
  r.header.file_size = 0x0046ba18;
  r.shell_items = test::items_named("C:\\tools,old\\app.exe");
  r.volume_serial = "d29a-b834";
  return r;
}

using Events = std::vector<std::pair<std::string, std::string>>;

TEST(MacbMerge, EqualTimesShareOneEventInTimeOrder) {
  const std::pair<TimelineSlots, Events> cases[] = {
      {{kJune5, kJune5, 0, kJune5}, {{"MA.B", "Last Modified; Last Access; Created"}}},
      {{kJune5, kJune5, kJune5, kJune5}, {{"MACB", "Last Modified; Last Access; MRU Time; Created"}}},
      // Modified and created equal, accessed earlier: time order, not slot order.
      {{kJan2, kJune5, 0, kJan2}, {{".A..", "Last Access"}, {"M..B", "Last Modified; Created"}}},
      {{kJune5, kJan2, kJan2, kJan2}, {{"M...", "Last Modified"}, {".ACB", "Last Access; MRU Time; Created"}}},
      {{kJune5, kJune5, kMar1, kJune5}, {{"MA.B", "Last Modified; Last Access; Created"}, {"..C.", "MRU Time"}}},
      {{kJune5, kJan2, kMar1, kMar1}, {{"M...", "Last Modified"}, {".A..", "Last Access"}, {"..CB", "MRU Time; Created"}}},
      {{0, 0, 0, kJan2}, {{"...B", "Created"}}},
      {{kMar1, kJune5, 0, kJan2}, {{".A..", "Last Access"}, {"...B", "Created"}, {"M...", "Last Modified"}}},
      {{0, 0, 0, 0}, {}},
      // Invalid times take no part, even when equal to each other.
      {{1ULL << 63, 1ULL << 63, kUnixEpoch - 10000000ULL, kUnixEpoch - 10000000ULL}, {}},
  };
  for (const auto& [slots, expected] : cases) {
    Events events;
    uint64_t previous = 0;
    for (const TimelineEvent& e : merge_macb(slots)) {
      events.emplace_back(e.marks, e.type_text);
      EXPECT_LT(previous, e.time);
      previous = e.time;
    }
    EXPECT_EQ(events, expected) << slots.m_time << " " << slots.a_time << " " << slots.c_time << " " << slots.b_time;
  }
}

TEST(Log2Timeline, PairedDateTimeIsOneField) {
  useropts paired = test::options_for({"-csvl2t", "-pair_datetime"});
  const auto lines = split_lines(write_all({record_with_times(kJune5, kJune5, kJune5)}, paired));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("date/time,timezone,", 0), 0u);
  EXPECT_EQ(lines[1].rfind(" 06/05/2009 20:13:20.000,UTC,MA.B,", 0), 0u);
  EXPECT_EQ(split_fields(lines[1], ",").size(), split_fields(lines[0], ",").size());
}

TEST(Log2Timeline, DescNotesAndJumpListFields) {
  useropts o = test::options_for({"-csvl2t", "-no_whitespace", "-username", "bob", "-hostname", "pc"});
  SourceInfo s = test::source_for(o);
  s.src_inode = 4660;
  s.app_id = "1b4dd67f29cb1962";
  LnkRecord r = record_with_times(kJune5, kJune5, kJune5);
  r.jumplist_kind = JumplistKind::with_destlist;
  r.mru_time = kMar1;
  r.volume_label = "OS";
  r.local_base_path = "C:\\tools,old\\app.exe";
  r.machine_id = "hydra";
  r.droid_mac = "94:db:c9:48:d3:3c";
  r.command_line_arguments = "-x\r\n-y";
  r.droid_time = kJan2;
  r.droid_volume_id = "cb368e46";
  r.droid_object_id = "992d5d8d";
  auto lines = split_lines(test::write_records({r}, o, s));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,"
                      "inode,notes,format,extra");
  EXPECT_EQ(lines[2],
            "03/01/2010,12:00:00.000,UTC,..C.,JMPLIST,Shortcut LNK (file),MRU Time,bob,pc,C:\\tools old\\app.exe,"
            "C:\\tools old\\app.exe <- E:\\case 1\\a.lnk; vol label-OS; local path-C:\\tools old\\app.exe; "
            "nebios-hydra; mac-94:db:c9:48:d3:3c; cmdargs--x[CRLF]-y,2,E:\\case 1\\a.lnk,4660,"
            "VSN: d29a-b834; target size: 4635160; VolID: cb368e46; ObjID: 992d5d8d; ObjID time: "
            "01/02/2010 12:00:00.000 [UTC],rook (marlow),1b4dd67f29cb1962");

  // Rawscan notes; a shortcut with no usable time writes no line at all.
  useropts raw = test::options_for({"-csvl2t", "-rawscan"});
  LnkRecord quiet = record_with_times(0, 0, 0);
  quiet.volume_serial.clear();
  quiet.header.file_size = 0;
  LnkRecord timed = quiet;
  timed.header.write_time = kJune5;
  lines = split_lines(write_all({quiet, timed}, raw));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(split_fields(lines[1], ",")[14], "(rawscan)");
}

TEST(BodyFile, HeaderAndOneLinePerRecord) {
  useropts o = test::options_for({"-bodyfile"});
  LnkRecord plain = record_with_times(kJune5, kJan2, kMar1);
  plain.command_line_arguments = "/a|/b";
  LnkRecord zero = record_with_times(0, 0, 0);
  zero.shell_items.clear();
  zero.relative_path = "..\\x.txt";
  LnkRecord jump = record_with_times(kJune5, kJune5, 1ULL << 63);
  jump.jumplist_kind = JumplistKind::without_destlist;
  jump.mru_time = kMar1;
  jump.header.access_time = kUnixEpoch - 10000000ULL;  // 1969
  EXPECT_EQ(write_all({plain, zero, jump}, o),
            "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n"
            "0|C:\\tools,old\\app.exe (LNK TARGET) <- E:\\case,1\\a.lnk; cmdargs-/a;/b|0||0|0|4635160|"
            "1262433600|1244232800|0|1267444800\n"
            // No IDList path: no source after the name.
            "0|..\\x.txt (LNK TARGET)|0||0|0|4635160|0|0|0|0\n"
            "0|C:\\tools,old\\app.exe (LNK TARGET) <- E:\\case,1\\a.lnk|0||0|0|4635160|0|1244232800|1267444800|0\n");

  useropts mft = test::options_for({"-bodyfile", "-rawscan"});
  SourceInfo volume = test::source_for(mft);
  volume.mft_scan = true;
  plain.target_mft_entry = 77;
  const auto fields = split_fields(split_lines(test::write_records({plain}, mft, volume)).at(1), "|");
  EXPECT_EQ(fields[1] + "|" + fields[2], "C:\\tools,old\\app.exe (LNK TARGET) <- E:\\case,1\\a.lnk; cmdargs-/a;/b (rawscan)|77");
  // Fractions of a second are cut, not rounded; before 1970 is no time.
  EXPECT_EQ(bodyfile_seconds(kUnixEpoch + 19999999), 1u);
  EXPECT_EQ(bodyfile_seconds(kUnixEpoch - 1), 0u);
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

}  // namespace
}  // namespace lnk
