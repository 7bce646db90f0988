// The delimited layouts: CSV, log2timeline CSV and the body file.
// tools/check_timesketch.py rebuilds the Timesketch events of every record in
// every input mode.
#include "report/csv_report.h"

#include <algorithm>

#include "report/timeline_report.h"
#include "tests/delimited_lines.h"
#include "tests/run_program.h"

namespace lnk {
namespace {

using test::kJan2;
using test::kJune5;
using test::kMar1;
using test::kUnixEpoch;
using test::options_for;
using test::split_fields;
using test::split_lines;
using test::write_all;
using Fields = std::vector<std::string>;
using Names = std::vector<std::string>;

SourceInfo csv_source(const useropts& o) {
  SourceInfo s = test::source_for(o);
  s.source_modified = s.source_accessed = s.source_created = kJan2 + 1234567;
  return s;
}

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

LnkRecord plain_record() {
  LnkRecord r = record_with_times(kJune5, kJune5, kJune5);
  r.header.file_attributes = 0x20;
  r.drive_type = "fixed";
  return r;
}

// The header line and the rows of the written records, split at separator.
struct Table {
  std::string header_line;
  Fields header;
  std::vector<Fields> rows;
  // The fields under the named columns joined by "|"; "name+" is the column
  // after the named one (a time after its date), "<absent>" a missing column.
  std::string fields(size_t row, const std::vector<std::string>& names) const {
    std::string joined, separator;
    for (std::string name : names) {
      const size_t next = !name.empty() && name.back() == '+' ? 1 : 0;
      if (next) name.pop_back();
      auto at = std::find(header.begin(), header.end(), name);
      const size_t i = static_cast<size_t>(at - header.begin()) + next;
      joined += separator + (at == header.end() ? "<absent>" : rows.at(row).at(i));
      separator = "|";
    }
    return joined;
  }
};

Table written(const std::vector<LnkRecord>& records, const useropts& o, const SourceInfo& s,
              const std::string& separator = ",") {
  std::vector<std::string> lines = split_lines(test::write_records(records, o, s));
  Table t;
  EXPECT_FALSE(lines.empty());
  if (lines.empty()) return t;
  t.header_line = lines[0];
  t.header = split_fields(lines[0], separator);
  for (size_t i = 1; i < lines.size(); ++i) {
    t.rows.push_back(split_fields(lines[i], separator));
    EXPECT_EQ(t.rows.back().size(), t.header.size()) << lines[i];
  }
  return t;
}

Table written(const std::vector<LnkRecord>& records, const useropts& o, const std::string& separator = ",") {
  return written(records, o, csv_source(o), separator);
}

TEST(CsvReport, DefaultLayoutHeaderOnceAndBlankBeforeTimes) {
  useropts o = options_for({"-csv"});
  LnkRecord second = plain_record();
  second.header.file_size = 0;
  second.header.write_time = 0;
  const Table t = written({plain_record(), second}, o);
  EXPECT_EQ(t.header_line.rfind("source path/filename,source type,file mdate, time-UTC,file adate, time-UTC,"
                                "file cdate, time-UTC,tgt mdate, time-UTC,", 0), 0u);
  ASSERT_EQ(t.rows.size(), 2u);
  EXPECT_EQ(std::count(t.header.begin(), t.header.end(), " time-UTC"), 7);
  // Source times without a fraction; an empty time is still a blank after its date.
  EXPECT_EQ(t.fields(0, {"source path/filename", "file mdate", "file mdate+", "tgt mdate", "tgt mdate+", "ObjID date",
                         "ObjID date+", "file size", "target name", "tgt attrib", "vol serial"}),
            "E:\\case 1\\a.lnk|01/02/2010| 12:00:00|06/05/2009| 20:13:20.000|| |0x0046ba18|C:\\tools old\\app.exe|"
            "FILE_ATTRIBUTE_ARCHIVE|d29a-b834");
  // A zero header time falls back to the IDList's, which is zero too.
  EXPECT_EQ(t.fields(1, {"file size", "tgt mdate"}), "|");
}

TEST(CsvReport, SeparatorChoicesNoWhitespaceAndPairedTimes) {
  LnkRecord r = plain_record();
  r.name_string = "one|two, three";
  Table t = written({r}, options_for({"-csv", "-csv_separator", "|"}), "|");
  EXPECT_EQ(t.fields(0, {"source path/filename", "extra info"}), "E:\\case,1\\a.lnk|[Description]: one;two, three");

  t = written({plain_record()}, options_for({"-csv", "-no_whitespace"}));
  EXPECT_EQ(std::count(t.header.begin(), t.header.end(), "time-UTC"), 7);
  EXPECT_EQ(t.fields(0, {"tgt mdate+"}), "20:13:20.000");

  // Paired times use fixed-width columns.
  r = plain_record();
  r.shell_items = test::items_named("C:\\a.exe");
  t = written({r}, options_for({"-csv", "-pair_datetime"}));
  ASSERT_EQ(t.rows.size(), 1u);
  const Fields& row = t.rows[0];
  EXPECT_EQ(t.header[0], "source path/filename" + std::string(20, ' '));
  // Centred, after the time blank.
  EXPECT_EQ(t.fields(0, {"file size ", "  tgt modify date [UTC] "}), "0x0046ba18| 06/05/2009 20:13:20.000");
  // Every short value is padded to its column, so the columns line up.
  for (size_t i = 0; i < t.header.size(); ++i)
    EXPECT_TRUE(t.header[i].find("ObjID") != std::string::npos || row[i].size() == t.header[i].size()) << t.header[i];
  // An invalid time is a blank, not a padded field.
  EXPECT_EQ(row[8], "  ");
}

TEST(CsvReport, NumbersHexOrDecimalAndOffsetColumns) {
  LnkRecord r = plain_record();
  r.lnk_offset = 0x600;
  Table t = written({r}, options_for({"-csv", "-rawscan", "-base10"}));
  // Carving a plain file shows the offset and not the file's own times.
  EXPECT_EQ(t.fields(0, {"file mdate", "LNK offset", "file size"}), "<absent>|1536|4635160");

  useropts ntfs = options_for({"-csv", "-ntfs_scan"});
  SourceInfo volume = csv_source(ntfs);
  volume.mft_scan = true;
  volume.src_inode = 0x1c2;
  volume.src_seq = 7;
  volume.source_mft_changed = kJan2 + 1234567;
  r.target_mft_entry = 0x33;
  r.target_mft_seq = 2;
  t = written({r}, ntfs, volume);
  // The MFT change time keeps its fraction.
  EXPECT_EQ(t.fields(0, {"file mftdate+", "LNK offset", "src inode", "src seq#", "target inode", "target seq#"}),
            " 12:00:00.123|0x00000600|0x000001c2|0x0007|0x00000033|0x0002");

  // Without an MFT entry both inode pairs are empty cells.
  volume.src_inode = 0;
  r.target_mft_entry = 0;
  t = written({r}, ntfs, volume);
  EXPECT_EQ(t.fields(0, {"src inode", "src seq#", "target inode", "target seq#"}), "|||");
}

TEST(CsvReport, JumpListColumnsSlackEntriesAndColumnsFixedByTheFirstRecord) {
  useropts o = options_for({"-csv"});
  SourceInfo s = csv_source(o);
  s.app_id = "1b4dd67f29cb1962";
  s.app_name = "Windows Explorer";
  LnkRecord slack = plain_record();
  slack.jumplist_kind = JumplistKind::with_destlist;
  slack.from_slack = true;
  LnkRecord listed = slack;
  listed.from_slack = false;
  listed.mru_index = 1;
  listed.stream_number = 0x11;
  listed.mru_time = kJan2;
  listed.destlist = {true, 3, true, 12, "v1", "o1", "v2", "o2"};
  listed.destlist_path = "C:\\a,b.txt";
  LnkRecord unindexed = listed;
  unindexed.mru_index = 99999;
  unindexed.stream_number = 0;
  unindexed.destlist = {};
  // A later plain shortcut keeps the run's columns (checked by written()).
  const Table t = written({slack, listed, unindexed, plain_record()}, o, s);
  ASSERT_EQ(t.rows.size(), 4u);
  auto columns_2_to_6 = [](const Fields& f) { return Fields(f.begin() + 2, f.begin() + 7); };
  EXPECT_EQ(columns_2_to_6(t.header), (Fields{"appid", "MRU/MFU", "stream#", "MRU date", " MRU-UTC"}));
  EXPECT_EQ(columns_2_to_6(t.rows[0]), (Fields{"1b4dd67f29cb1962 [Windows Explorer]", "na", "na", "na", " na"}));
  EXPECT_EQ(columns_2_to_6(t.rows[1]), (Fields{t.rows[0][2], "1", "17", "01/02/2010", " 12:00:00.000"}));
  EXPECT_EQ(t.rows[2][3] + t.rows[2][4], "");
  // The DestList entry's own fields come last, so every other column keeps its place.
  const std::vector<std::string> entry = {"pinned", "pin position", "access count", "DestList path",
                                          "DestList volume id", "DestList birth object id"};
  EXPECT_EQ(t.header[7], "file mdate");
  EXPECT_EQ(Fields(t.header.end() - 10, t.header.end() - 8), (Fields{"anomalies", "pinned"}));
  EXPECT_EQ(t.fields(0, entry), "na|na|na|na|na|na");
  EXPECT_EQ(t.fields(1, entry), "yes|3|12|C:\\a b.txt|v1|o2");
  EXPECT_EQ(t.fields(2, entry), "|||||");

  // The options and the first record fix the columns: a later jump list has none of its own.
  LnkRecord jump = plain_record();
  jump.jumplist_kind = JumplistKind::without_destlist;
  const Table later =
      written({plain_record(), jump}, options_for({"-csv", "-username", "bob", "-hostname", "pc,1", "-idltimes"}));
  EXPECT_EQ(Fields(later.header.end() - 4, later.header.end()),
            (Fields{"user acct", "host name", "IDList segments", "anomalies"}));
  EXPECT_EQ(later.fields(1, {"appid", "host name"}), "<absent>|pc 1");
}

// Labelled lists: each part brings its separator, and an empty list is an
// empty cell. Control and bidirectional characters are escaped, and a
// backslash only where it would read as an escape.
TEST(CsvReport, ComposedTextCells) {
  useropts o = options_for({"-csv"});
  LnkRecord r = plain_record();
  r.net_name = "\\\\srv\\share";
  r.device_name = "Z:";
  r.name_string = "one\r\ntwo\n\rthree\nfour\rfive\r\r\n\x1b" "[2J\u202Efdp.exe C:\\x{41}\\x64";
  r.working_dir = "C:\\w";
  r.command_line_arguments = "/a,/b";
  LnkRecord device = plain_record();
  device.device_name = "Z:";
  const Table t = written({r, device, plain_record()}, o);
  ASSERT_EQ(t.rows.size(), 3u);  // the header goes out once, with the first record
  EXPECT_EQ(t.fields(0, {"network/device info", "extra info"}),
            "[NetworkName]: \\\\srv\\share; [DeviceName]: Z:|"
            "[Description]: one\\x{0d}\\x{0a}two\\x{0a}\\x{0d}three\\x{0a}four\\x{0d}five\\x{0d}\\x{0d}\\x{0a}"
            "\\x{1b}[2J\\u{202e}fdp.exe C:\\x{5c}x{41}\\x64; [WorkDir]: C:\\w; [CmdArgs]: /a /b");
  EXPECT_EQ(t.fields(1, {"network/device info", "extra info"}), "[DeviceName]: Z:|");
  EXPECT_EQ(t.fields(2, {"network/device info", "IDList extra info"}), "|");
}

TEST(CsvReport, IdlistExtraInfoPartsEachBringTheirSeparatorAndSegmentsCell) {
  const std::string set = std::string(test::kStringNamedSetText) + "/";
  using Properties = std::vector<std::pair<std::string, std::string>>;
  const struct { Names items, vista; Properties properties; std::string cell; } cases[] = {
      {{"a", "b"}, {}, {}, "a; b"},
      {{}, {"v"}, {}, "; [1] v"},
      {{}, {"v", "w"}, {}, "; [1] v; [2] w"},
      {{}, {}, {{"N1", "1"}, {"N2", "2"}}, "; " + set + "N1 [1]; " + set + "N2 [2]"},
      {{"a"}, {"v"}, {{"N", "1"}}, "a; [1] v; " + set + "N [1]"}};
  const useropts o = options_for({"-csv"});
  for (const auto& c : cases) {
    LnkRecord r = plain_record();
    r.shell_items = test::items_named("C:\\x", c.items);
    if (!c.vista.empty()) r.vista_shell_items = test::items_named("C:\\v", c.vista);
    r.property_store = test::text_properties(c.properties);
    EXPECT_EQ(written({r}, o).fields(0, {"IDList extra info"}), c.cell) << c.cell;
  }

  // The segments cell: a legend, then one entry per subpath.
  std::map<uint64_t, IdlistSegment> segments;
  EXPECT_EQ(idlist_segments_text(segments, o), "");
  segments[1].subpath = "C:\\";
  segments[1].is_path_segment = false;
  segments[1].modify_time = kJune5;
  segments[2].subpath = "C:\\Users";
  segments[2].modify_time = kJune5 + 4560000;
  segments[2].access_time = 1ULL << 63;  // set but not a valid time
  segments[2].create_time = kJan2;
  segments[2].mft_entry = 0x1234;
  segments[2].mft_seq = 3;
  EXPECT_EQ(idlist_segments_text(segments, o),
            "!*<[name;modify [UTC];access [UTC];create [UTC];mft;mftseq]>"
            "*<C:\\;0;0;0;0;0>"
            "*<C:\\Users;06/05/2009 20:13:20; ;01/02/2010 12:00:00;0x00001234;0x0003>");
  useropts decimal = o;
  decimal.sizes_in_hex = false;
  EXPECT_TRUE(test::contains(idlist_segments_text(segments, decimal), ";4660;3>"));
}

using Events = std::vector<std::pair<std::string, std::string>>;

TEST(MacbMerge, EqualTimesShareOneEventInTimeOrder) {
  const std::pair<TimelineSlots, Events> cases[] = {
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
            "nebios-hydra; mac-94:db:c9:48:d3:3c; cmdargs--x\\x{0d}\\x{0a}-y,2,E:\\case 1\\a.lnk,4660,"
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
  // A time the record lacks is -1, which mactime skips; with none at all, zeros.
  EXPECT_EQ(write_all({plain, zero, jump}, o),
            "md5|name|inode|mode as string|uid|gid|size|access time|modify time|mft time|create time\n"
            "0|C:\\tools,old\\app.exe (LNK TARGET) <- E:\\case,1\\a.lnk; cmdargs-/a;/b|0||0|0|4635160|"
            "1262433600|1244232800|-1|1267444800\n"
            // No IDList path: no source after the name.
            "0|..\\x.txt (LNK TARGET)|0||0|0|4635160|0|0|0|0\n"
            "0|C:\\tools,old\\app.exe (LNK TARGET) <- E:\\case,1\\a.lnk|0||0|0|4635160|-1|1244232800|1267444800|-1\n");

  // -noheader: records only, whatever the run writes around them.
  const useropts bare = test::options_for({"-bodyfile", "-noheader"});
  std::ostringstream out;
  OutputSink sink(out);
  RecordWriter writer(sink, bare);
  writer.begin_run("rook ver: 0.85\n");
  writer.announce_disk_carve("a.vmdk");
  writer.write(zero, test::source_for(bare));
  writer.end_input();
  EXPECT_EQ(out.str(), "0|..\\x.txt (LNK TARGET)|0||0|0|4635160|0|0|0|0\n");

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

}  // namespace
}  // namespace lnk
