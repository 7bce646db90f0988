#include "report/timeline_report.h"

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

TEST(Log2Timeline, HeaderAndLineWithoutWhitespace) {
  useropts o = test::options_for({"-csvl2t", "-no_whitespace"});
  EXPECT_EQ(write_all({record_with_times(kJune5, kJune5, kJune5)}, o),
            "date,time,timezone,MACB,source,sourcetype,type,user,host,short,desc,version,filename,"
            "inode,notes,format,extra\n"
            "06/05/2009,20:13:20.000,UTC,MA.B,LNK,Shortcut LNK (file),Last Modified; Last Access; "
            "Created,,,C:\\tools old\\app.exe,C:\\tools old\\app.exe <- E:\\case 1\\a.lnk,2,"
            "E:\\case 1\\a.lnk,0,VSN: d29a-b834; target size: 4635160,rook (marlow),\n");
}

TEST(Log2Timeline, BlankBeforeTimeAndPairedField) {
  useropts o = test::options_for({"-csvl2t"});
  auto lines = split_lines(write_all({record_with_times(kJune5, kJan2, kJune5)}, o));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind("date,time,timezone,", 0), 0u);
  EXPECT_EQ(lines[1].rfind("06/05/2009, 20:13:20.000,UTC,M..B,", 0), 0u);
  EXPECT_EQ(lines[2].rfind("01/02/2010, 12:00:00.000,UTC,.A..,", 0), 0u);

  useropts paired = test::options_for({"-csvl2t", "-pair_datetime"});
  lines = split_lines(write_all({record_with_times(kJune5, kJune5, kJune5)}, paired));
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
  auto lines = split_lines(write_all({r}, o, s));
  ASSERT_EQ(lines.size(), 3u);
  const auto header = split_fields(lines[0], ",");
  const auto line = split_fields(lines[2], ",");
  ASSERT_EQ(line.size(), header.size());
  EXPECT_EQ(std::vector<std::string>(line.begin() + 3, line.begin() + 9),
            (std::vector<std::string>{"..C.", "JMPLIST", "Shortcut LNK (file)", "MRU Time", "bob", "pc"}));
  EXPECT_EQ(line[10],
            "C:\\tools old\\app.exe <- E:\\case 1\\a.lnk; vol label-OS; local path-C:\\tools "
            "old\\app.exe; nebios-hydra; mac-94:db:c9:48:d3:3c; cmdargs--x[CRLF]-y");
  EXPECT_EQ(line[13], "4660");
  EXPECT_EQ(line[14],
            "VSN: d29a-b834; target size: 4635160; VolID: cb368e46; ObjID: 992d5d8d; ObjID time: "
            "01/02/2010 12:00:00.000 [UTC]");
  EXPECT_EQ(line[15], "rook (marlow)");
  EXPECT_EQ(line[16], "1b4dd67f29cb1962");

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
  const auto fields = split_fields(split_lines(write_all({plain}, mft, volume)).at(1), "|");
  EXPECT_EQ(fields[1], "C:\\tools,old\\app.exe (LNK TARGET) <- E:\\case,1\\a.lnk; cmdargs-/a;/b (rawscan)");
  EXPECT_EQ(fields[2], "77");
}

TEST(BodyFile, SecondsFromFiletime) {
  EXPECT_EQ(bodyfile_seconds(0), 0u);
  EXPECT_EQ(bodyfile_seconds(1ULL << 63), 0u);
  EXPECT_EQ(bodyfile_seconds(kUnixEpoch - 1), 0u);
  EXPECT_EQ(bodyfile_seconds(kUnixEpoch + 19999999), 1u);
  EXPECT_EQ(bodyfile_seconds(kJune5), 1244232800u);
}

// sleuthkit's mactime reads what -bodyfile writes, run header and all.
class Mactime : public test::ScratchDirTest {};

TEST_F(Mactime, ReadsTheBodyFileOutput) {
#ifdef _WIN32
  GTEST_SKIP() << "mactime is a POSIX program";
#else
  if (::access("/usr/bin/mactime", X_OK) != 0) GTEST_SKIP() << "mactime not installed";
#endif
  const std::string sample = std::string(ROOK_SOURCE_DIR) + "/tests/data/sample.lnk";
  const std::string body = (dir_ / "out.body").string();
  ASSERT_EQ(run({sample, "-bodyfile", "-out", body}).status, 0);
  const test::CommandResult r = test::run_program(dir_, "/usr/bin/mactime", {"-b", body, "-d", "-y"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // A record with an IDList names its source after the target.
  const std::string name = "\"{CLSID_My Computer}\\C:\\Projects\\Report 2023.docx (LNK TARGET) <- " + sample +
                           "; cmdargs-/safe\"";
  for (const char* event : {"2023-03-14T09:26:53Z,48213,...b,", "2023-11-30T23:59:58Z,48213,m...,",
                            "2024-01-02T18:05:07Z,48213,.a..,"}) {
    EXPECT_TRUE(test::contains(r.out, event + std::string(",0,0,0,") + name)) << event << "\n" << r.out;
  }
}

}  // namespace
}  // namespace lnk
